// vorpix borders, and the netCDF listing (placeholder until the readers land).
#include "cli.hpp"
#include "commands.hpp"

namespace vorpix::cli {

std::string list_netcdf_file(const std::string &path, const std::vector<unsigned char> &) {
    throw InputError(path + ": netCDF listings are not available yet");
}

static int run_borders(int, char **) { throw InputError("borders: not available yet"); }

const Command borders_command{"borders", "borders and rivers in a box as GeoJSON or SVG",
                              "usage: vorpix borders (not available yet)\n", run_borders};

}  // namespace vorpix::cli
