// vorpix borders: national borders and rivers of a box as GeoJSON or SVG;
// and the netCDF classic header listing for "vorpix info".
#include "cli.hpp"
#include "commands.hpp"
#include "geo_output.hpp"
#include "render_layers.hpp"

#include "netcdf.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace vorpix::cli {
namespace {

// The picture "vorpix render" draws of these borders and rivers alone.
std::string as_svg(const std::string &kinds, const std::string &res, const Box &box) {
    RenderRequest request;
    request.box = box;
    request.width = 1000;
    request.line_res = res;
    request.coast = false;
    request.border_kinds.clear();
    request.river_kinds.clear();
    std::istringstream words(kinds);
    for (std::string word; words >> word;) {
        if (word[0] == 'p') request.border_kinds += word + " ";
        if (word[0] == 'r') request.river_kinds += word + " ";
    }
    request.borders = !request.border_kinds.empty();
    request.rivers = !request.river_kinds.empty();
    Progress quiet(false);
    return render_map(request, false, quiet);
}

int run_borders(int argc, char **argv) {
    Args args(argc, argv, {"res", "kinds", "box", "o"});
    args.allow_flags({"rivers", "svg", "geojson"});
    const bool svg = choose_format(args, {Format::GeoJson, Format::Svg}) == Format::Svg;
    if (!args.positional().empty()) throw UsageError("unexpected argument \"" + args.positional()[0] + "\"");
    if (!args.has("box")) throw UsageError("--box W/E/S/N is required");
    const Box box = parse_box(args.get("box"));
    const std::string res = parse_resolution(args.get("res", "l"), "--res");
    const std::string kinds = args.get("kinds", args.flag("rivers") ? "r:4095" : "p:7");
    check_kinds(kinds, KindSet::Lines);
    Output out(args.get("o"));
    if (svg) {
        out.append(as_svg(kinds, res, box));
    } else {
        features::BorderReader reader(border_options(res, kinds, box));
        write_geojson(reader, features::BorderReader::fields(), out);
    }
    out.commit();
    return 0;
}

}  // namespace

const Command borders_command{"borders", "borders and rivers in a box as GeoJSON or SVG",
                              "usage: vorpix borders --box W/E/S/N [--rivers] [--kinds KINDS] [--res RES]\n"
                              "                      [--svg] [-o OUT]\n\n"
                              "Selects the border or river segments of the bins that a box touches.\n"
                              "  --box W/E/S/N  the box in degrees, west and east as -180 to 180 or 0 to 360\n"
                              "  --rivers       rivers instead of borders (kinds \"r:4095\", every level)\n"
                              "  --kinds KINDS  up to four words p:LEVELS (borders) and r:LEVELS (rivers);\n"
                              "                 LEVELS is a bitmap, bit k selects level k+1 (borders: 1\n"
                              "                 national, 2 internal, 3 maritime; rivers: 1-4 permanent,\n"
                              "                 5-7 intermittent, 8-10 canals); default \"p:7\". A river\n"
                              "                 mask with levels 1 to 10 all set also takes level 0:\n"
                              "                 double-lined rivers and river-lakes\n"
                              "  --res RES      resolution: c(rude), l(ow), i(ntermediate), h(igh), f(ull);\n"
                              "                 default l\n"
                              "  --svg          an SVG picture of the box instead of GeoJSON\n"
                              "  -o OUT         write to OUT instead of standard output; with no format\n"
                              "                 option, OUT's extension (.svg or .geojson) chooses\n\n"
                              "Segments are clipped to the box as lines, with copies by whole turns, so a\n"
                              "box across 180 gets the lines on both sides. GeoJSON (RFC 7946) has one\n"
                              "feature per segment, a MultiLineString where it is cut at the antimeridian,\n"
                              "with its kind (border, river), type (\"p\", \"r\") and level, and a bbox.\n"
                              "Files are found as maps/vorpix/binned_border_RES.cdf\n"
                              "and binned_river_RES.cdf in the data directories (VORPIX_DATA_PATH first).\n",
                              run_borders};

}  // namespace vorpix::cli
