// vorpix info: the listing of any supported file, chosen by its contents.
// The feature layer reads each file; shapefiles and dBase tables are listed
// a record at a time as they are read, so the listing of a large file comes
// as it is made.
#include "cli.hpp"
#include "commands.hpp"

#include "vorpix/listing.hpp"

#include <cstdio>
#include <string>

namespace vorpix::cli {
namespace {

void list_file(const std::string &path, FILE *out) {
    using features::FileKind;
    switch (features::file_kind(path)) {
    case FileKind::NetcdfClassic: features::list_netcdf_file(path, out); return;
    case FileKind::Netcdf64BitOffset:
        throw InputError(path + ": a netCDF 64-bit offset file; only netCDF classic files are read");
    case FileKind::Netcdf64BitData:
        throw InputError(path + ": a netCDF 64-bit data file; only netCDF classic files are read");
    case FileKind::Netcdf4: throw InputError(path + ": a netCDF-4 (HDF5) file; only netCDF classic files are read");
    case FileKind::Dds: features::list_dds_file(path, out); return;
    case FileKind::Shapefile: features::list_shapefile(path, out); return;
    case FileKind::Dbase: features::list_dbase_file(path, out); return;
    case FileKind::Shoreline: features::list_shoreline_file(path, out); return;
    case FileKind::Unknown: break;
    }
    throw InputError(path +
                     ": not a file that vorpix reads (netCDF classic, shapefile, dBase, DDS or "
                     "shoreline .b file)");
}

int run_info(int argc, char **argv) {
    Args args(argc, argv, {"o"});
    args.allow_flags({});
    if (args.positional().empty()) throw UsageError("name at least one file");
    // Every input is known before any output is written, so that -o never
    // replaces one of them.
    for (const auto &path : args.positional()) note_input(path);
    Output out(args.get("o"));
    OutputStream stream(out);
    for (const auto &path : args.positional()) stream.print([&path](FILE *f) { list_file(path, f); });
    stream.flush();
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
