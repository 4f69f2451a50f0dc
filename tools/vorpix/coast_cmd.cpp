#include "cli.hpp"
#include "commands.hpp"

namespace vorpix::cli {
std::string list_shoreline_file(const std::string &path, const std::vector<unsigned char> &) {
    throw InputError(path + ": not yet");
}
static int run_coast(int, char **) { throw InputError("coast: not yet"); }
const Command coast_command{"coast", "shorelines in a box", "usage: vorpix coast\n", run_coast};
}  // namespace vorpix::cli
