// vorpix shapes, index and fetch, and the shapefile and dBase listings
// (placeholder until the readers land).
#include "cli.hpp"
#include "commands.hpp"

namespace vorpix::cli {

std::string list_shapefile(const std::string &path, const std::vector<unsigned char> &) {
    throw InputError(path + ": shapefile listings are not available yet");
}
std::string list_dbase_file(const std::string &path, const std::vector<unsigned char> &) {
    throw InputError(path + ": dBase listings are not available yet");
}

static int not_yet(int, char **) { throw InputError("not available yet"); }

const Command shapes_command{"shapes", "shapes of a shapefile as GeoJSON or SVG",
                             "usage: vorpix shapes (not available yet)\n", not_yet};
const Command index_command{"index", "index shapefiles in an SQLite database",
                            "usage: vorpix index (not available yet)\n", not_yet};
const Command fetch_command{"fetch", "fetch shapes named by database rows",
                            "usage: vorpix fetch (not available yet)\n", not_yet};

}  // namespace vorpix::cli
