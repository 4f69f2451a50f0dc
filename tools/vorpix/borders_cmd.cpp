// vorpix borders: national borders and rivers of a box as GeoJSON or SVG;
// and the netCDF classic header listing for "vorpix info".
#include "cli.hpp"
#include "commands.hpp"
#include "geo_output.hpp"
#include "render_layers.hpp"

#include "datafile.h"
#include "netcdf.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace vorpix::cli {
namespace {

// Library failures come back as log lines, innermost first; the outer line
// names the file, the inner one says what was wrong with it.
[[noreturn]] void fail_from_log(const LogCollector &log) {
    const std::vector<std::string> lines = log.lines();
    const std::string missing = "gmtmap_select: datafile(";
    for (const auto &line : lines)
        if (line.rfind(missing, 0) == 0) {
            const std::string name = line.substr(missing.size(), line.find(") error") - missing.size());
            throw InputError(missing_map_file(name));
        }
    if (lines.empty()) throw InputError("border selection failed");
    // Some lines give only the file's own name, such as "border_c.cdf".
    throw InputError(describe_failure(log, [](const std::string &name) {
        char *path = datafile(nullptr, ("maps/vorpix/binned_" + name).c_str());
        std::string found = path ? path : name;
        std::free(path);
        return found;
    }));
}

struct Segment {
    std::vector<float> lon, lat;
    std::string type;
    int level;
};

// Level 0 of the river files (double-lined rivers and river-lakes) has no
// bit of its own: it comes with a mask that asks for every river level.
bool all_river_levels(const std::string &kinds) {
    std::istringstream words(kinds);
    for (std::string word; words >> word;)
        if (word[0] == 'r' && word.size() > 2 && (std::strtoul(word.c_str() + 2, nullptr, 10) & 0x3ffu) == 0x3ffu)
            return true;
    return false;
}

std::vector<Segment> deliver(const std::string &kinds, const std::string &resolution, const Box &box) {
    static void *map = nullptr;
    LogCollector log;
    if (gmtmap_open(&map) < 0) fail_from_log(log);
    std::string types = kinds, res = resolution;
    // The library reads an east edge below the west one as an empty window;
    // here it means the box runs east across the 180-degree meridian.
    const double east = box.east < box.west ? box.east + 360 : box.east;
    const auto select = all_river_levels(kinds) ? gmtmap_select_with_level0 : gmtmap_select;
    if (select(map, types.data(), res.data(), box.west, east, box.south, box.north) < 0) fail_from_log(log);
    std::istringstream words(kinds);
    for (std::string word; words >> word;)
        note_data_file("maps/vorpix/binned_" + std::string(word[0] == 'p' ? "border_" : "river_") + resolution +
                       ".cdf");
    std::vector<Segment> out;
    float *lon = nullptr, *lat = nullptr;
    int size = 0;
    while (true) {
        char type[2] = "";
        int npts = 0, level = 0;
        const int r = gmtmap_nextseg(map, &npts, &size, &lon, &lat, type, &level);
        if (r < 0) {
            std::free(lon);
            std::free(lat);
            fail_from_log(log);
        }
        if (r == 0) break;
        if (npts == 0) continue;
        out.push_back({{lon, lon + npts}, {lat, lat + npts}, type, level});
    }
    std::free(lon);
    std::free(lat);
    return out;
}

geo::Line points(const Segment &s) {
    geo::Line line(s.lon.size());
    for (size_t i = 0; i < line.size(); ++i) line[i] = {s.lon[i], s.lat[i]};
    return line;
}

// Each segment clipped to the box and cut at the antimeridian.
std::string as_geojson(const std::vector<Segment> &segments, const Box &box) {
    const geo::Frame frame = geo::frame_of(box);
    GeoJson json;
    for (const auto &s : segments)
        json.lines(geo::clip_line_rfc7946(points(s), frame),
                   "\"kind\":" + json_string(s.type == "r" ? "river" : "border") +
                       ",\"level\":" + std::to_string(s.level) + ",\"type\":" + json_string(s.type));
    return json.finish();
}

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
    if (!args.positional().empty()) throw UsageError("unexpected argument \"" + args.positional()[0] + "\"");
    if (!args.has("box")) throw UsageError("--box W/E/S/N is required");
    const Box box = parse_box(args.get("box"));
    const std::string res = parse_resolution(args.get("res", "l"), "--res");
    const std::string kinds = args.get("kinds", args.flag("rivers") ? "r:4095" : "p:7");
    check_kinds(kinds, KindSet::Lines);
    Output out(args.get("o"));
    if (args.flag("svg")) out.append(as_svg(kinds, res, box));
    else out.append(as_geojson(deliver(kinds, res, box), box));
    out.commit();
    return 0;
}

}  // namespace

std::vector<LineRun> border_lines(const std::string &kinds, const std::string &resolution, const Box &box) {
    const geo::Frame frame = geo::frame_of(box);
    std::vector<LineRun> out;
    for (const auto &s : deliver(kinds, resolution, box))
        for (const auto &part : geo::clip_line(points(s), frame)) {
            LineRun run{{}, {}, s.level};
            for (const auto &p : part) {
                run.lon.push_back(static_cast<float>(p.lon));
                run.lat.push_back(static_cast<float>(p.lat));
            }
            out.push_back(std::move(run));
        }
    return out;
}

std::string list_netcdf_file(const std::string &path, const std::vector<unsigned char> &bytes) {
    NETCDFHdr *hdr = nullptr;
    LogCollector log;
    if (netcdf_unstuff_header_sized(bytes.data(), static_cast<long>(bytes.size()), &hdr) < 0) {
        netcdf_clear_header(hdr);
        std::free(hdr);
        throw InputError(path + ": " + without_function(log.first()));
    }
    char *text = nullptr;
    size_t length = 0;
    FILE *memory = open_memstream(&text, &length);
    if (!memory) {
        netcdf_clear_header(hdr);
        std::free(hdr);
        throw InputError(path + ": out of memory for the listing");
    }
    netcdf_print_header(hdr, memory);
    std::fclose(memory);
    std::string listing(text, length);
    std::free(text);
    netcdf_clear_header(hdr);
    std::free(hdr);
    return listing;
}

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
                              "  -o OUT         write to OUT instead of standard output\n\n"
                              "Segments are clipped to the box as lines, with copies by whole turns, so a\n"
                              "box across 180 gets the lines on both sides. GeoJSON (RFC 7946) has one\n"
                              "feature per segment, a MultiLineString where it is cut at the antimeridian,\n"
                              "with its kind (border, river), type (\"p\", \"r\") and level, and a bbox.\n"
                              "Files are found as maps/vorpix/binned_border_RES.cdf\n"
                              "and binned_river_RES.cdf in the data directories (VORPIX_DATA_PATH first).\n",
                              run_borders};

}  // namespace vorpix::cli
