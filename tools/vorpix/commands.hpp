// The commands of the vorpix tool. Each takes argv with argv[0] the command's
// name and returns the process exit status; errors are thrown as
// cli::UsageError or cli::InputError.
#ifndef VORPIX_COMMANDS_HPP
#define VORPIX_COMMANDS_HPP

#include "cli.hpp"

#include <string>
#include <vector>

struct ESRISHPRECStr;

namespace vorpix::cli {

struct Command {
    const char *name;
    const char *summary;
    const char *usage;  // the full help text of the command
    int (*run)(int argc, char **argv);
};

// Defined by the command files, one family each.
extern const Command coast_command;    // shorelines
extern const Command borders_command;  // borders and rivers
extern const Command shapes_command;   // shapefiles
extern const Command texture_command;  // DDS textures
extern const Command index_command;    // database index of shapes
extern const Command fetch_command;    // fetch shapes through the database
extern const Command data_command;     // where the map files are found
extern const Command info_command;     // listings of any supported file
extern const Command render_command;   // one picture from every layer

// What vorpix shapes writes: the shapefile (or table) at path, read with
// the options given, as GeoJSON, a GeoJSON text sequence or SVG, to output
// ("" or "-" for standard output).
struct ShapesRequest {
    std::string path;
    features::ShapefileOptions read;
    Format format = Format::GeoJson;
    std::string output;
};
void write_shapes(const ShapesRequest &request);

// What the database index keeps of each record of a shapefile: the
// record's offset, its number from 0, its type and its bounding box
// (xmin, ymin, xmax, ymax; NaN for a shape without points).
struct IndexedShape {
    long offset;
    int recno;
    int shape_type;
    double box[4];
};
std::vector<IndexedShape> index_shapefile(const std::string &path);
// The shapes of one file as the index keeps them, the file by its absolute path.
struct IndexedFile {
    std::string path;
    std::vector<IndexedShape> shapes;
};
// Writes files to the index table of the SQLite database at db_path (made
// when missing) in one transaction, replacing the rows of a file indexed
// before; the boxes go to the table's R*Tree as well.
void write_index(const std::string &db_path, const std::string &table, const std::vector<IndexedFile> &files);
// The rows of an index table whose boxes meet the box, in order, as
// fetch --box finds them: through the table's R*Tree when through_tree and
// there is one, else by reading every row's box.
std::vector<long> index_rows_in_box(const std::string &db_path, const std::string &table, const Box &box,
                                    bool through_tree);

}  // namespace vorpix::cli

#endif
