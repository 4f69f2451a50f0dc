// vorpix texture, and the DDS listing (placeholder until the readers land).
#include "cli.hpp"
#include "commands.hpp"

namespace vorpix::cli {

std::string list_dds_file(const std::string &path, const std::vector<unsigned char> &) {
    throw InputError(path + ": DDS listings are not available yet");
}

static int run_texture(int, char **) { throw InputError("texture: not available yet"); }

const Command texture_command{"texture", "a DDS texture's mipmap level as PNG",
                              "usage: vorpix texture (not available yet)\n", run_texture};

}  // namespace vorpix::cli
