// vorpix info: the listing of any supported file, chosen by its contents.
#include "cli.hpp"
#include "commands.hpp"

#include <cstring>
#include <string>

namespace vorpix::cli {
namespace {

bool ends_with(const std::string &s, const char *suffix) {
    const size_t n = std::strlen(suffix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i]) return false;
    return true;
}

bool starts_with(const std::vector<unsigned char> &bytes, const char *magic, size_t n) {
    return bytes.size() >= n && std::memcmp(bytes.data(), magic, n) == 0;
}

std::string list_file(const std::string &path) {
    const auto bytes = read_input(path);
    if (starts_with(bytes, "CDF\x01", 4)) return list_netcdf_file(path, bytes);
    if (starts_with(bytes, "CDF\x02", 4))
        throw InputError(path + ": a netCDF 64-bit offset file; only netCDF classic files are read");
    if (starts_with(bytes, "CDF\x05", 4))
        throw InputError(path + ": a netCDF 64-bit data file; only netCDF classic files are read");
    if (starts_with(bytes, "\x89HDF\r\n\x1a\n", 8))
        throw InputError(path + ": a netCDF-4 (HDF5) file; only netCDF classic files are read");
    if (starts_with(bytes, "DDS ", 4)) return list_dds_file(path, bytes);
    if (starts_with(bytes, "\x00\x00\x27\x0a", 4)) return list_shapefile(path, bytes);
    if (ends_with(path, ".dbf")) return list_dbase_file(path, bytes);
    if (ends_with(path, ".b")) return list_shoreline_file(path, bytes);
    throw InputError(path +
                     ": not a file that vorpix reads (netCDF classic, shapefile, dBase, DDS or "
                     "shoreline .b file)");
}

int run_info(int argc, char **argv) {
    Args args(argc, argv, {"o"});
    args.allow_flags({});
    if (args.positional().empty()) throw UsageError("name at least one file");
    Output out(args.get("o"));
    for (const auto &path : args.positional()) out.append(list_file(path));
    out.commit();
    return 0;
}

}  // namespace

const Command info_command{"info", "list the contents of any supported file",
                           "usage: vorpix info FILE... [-o OUT]\n\n"
                           "Prints the listing of each FILE, chosen by its contents: a netCDF classic\n"
                           "header (border and river files among them), a shapefile (.shp), a dBase\n"
                           "file (.dbf), a DDS texture, or the polygon headers of a shoreline file (.b).\n"
                           "  -o OUT   write the listing to OUT instead of standard output\n",
                           run_info};

}  // namespace vorpix::cli
