// vorpix coast: shorelines, lakes and islands for a box; and the listing of a
// shoreline file's polygon headers for "vorpix info".
#include "cli.hpp"
#include "commands.hpp"
#include "geo_output.hpp"
#include "render_layers.hpp"
#include "vorpix/geojson_writer.hpp"
#include "vorpix/map_readers.hpp"

#include "gshhsmap.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace vorpix::cli {
namespace {

// Library failures come back as log lines; a missing file gets a friendlier one.
[[noreturn]] void fail_from_log(const LogCollector &log) {
    const std::string first = log.first();
    const std::string missing = "gshhs_select: datafile(";
    if (first.rfind(missing, 0) == 0) {
        const std::string name = first.substr(missing.size(), first.find(") error") - missing.size());
        throw InputError(missing_map_file(name));
    }
    throw InputError(first.empty() ? "shoreline selection failed" : log.describe(nullptr));
}

struct Polygon {
    GSHHSHdr hdr;
    std::vector<float> lon, lat;
    std::string type;
    int level;
    int antipode;
};

// Selects and delivers every polygon; the map object lives for the process.
std::vector<Polygon> deliver(const std::string &kinds, const std::string &resolution, const Box &box, double lonref,
                             double latref) {
    static void *map = nullptr;
    LogCollector log;
    if (gshhsmap_open(&map) < 0) fail_from_log(log);
    std::string types = kinds, res = resolution;
    if (gshhsmap_select(map, types.data(), res.data(), box.west, box.east, box.south, box.north, lonref, latref) < 0)
        fail_from_log(log);
    note_data_file("maps/vorpix/gshhs_" + resolution + ".b");
    std::vector<Polygon> out;
    float *lon = nullptr, *lat = nullptr;
    int size = 0;
    while (const GSHHSHdr *hdr = gshhsmap_peek(map)) {
        Polygon p{*hdr, {}, {}, "", 0, 0};
        char type[2] = "";
        int npts = 0;
        const int r = gshhsmap_nextseg(map, &npts, &size, &lon, &lat, type, &p.level, &p.antipode);
        if (r < 0) {
            std::free(lon);
            std::free(lat);
            fail_from_log(log);
        }
        if (r == 0) break;
        if (npts == 0) continue;
        p.type = type;
        p.lon.assign(lon, lon + npts);
        p.lat.assign(lat, lat + npts);
        out.push_back(std::move(p));
    }
    std::free(lon);
    std::free(lat);
    return out;
}

std::string as_list(const std::vector<Polygon> &polygons) {
    std::string out;
    char line[256];
    std::snprintf(line, sizeof line, "%8s %5s %4s %8s %11s %11s %10s %10s\n", "id", "level", "type", "points", "west",
                  "east", "south", "north");
    out += line;
    for (const auto &p : polygons) {
        std::snprintf(line, sizeof line, "%8d %5d %4s %8zu %11.6f %11.6f %10.6f %10.6f\n", p.hdr.id, p.level,
                      p.type.c_str(), p.lon.size(), p.hdr.west * 1e-6, p.hdr.east * 1e-6, p.hdr.south * 1e-6,
                      p.hdr.north * 1e-6);
        out += line;
    }
    return out;
}

// The picture "vorpix render" draws of these shorelines alone.
std::string as_svg(const std::string &kinds, const std::string &res, const Box &box,
                   features::AntarcticOutline antarctica) {
    RenderRequest request;
    request.box = box;
    request.width = 1000;
    request.res = res;
    request.kinds = kinds;
    request.antarctica = antarctica;
    Progress quiet(false);
    return render_map(request, false, quiet);
}

int run_coast(int argc, char **argv) {
    Args args(argc, argv, {"res", "kinds", "box", "ref", "o", "antarctica"});
    args.allow_flags({"list", "svg", "geojson"});
    const Format format = choose_format(args, {Format::GeoJson, Format::Svg, Format::List});
    if (!args.positional().empty()) throw UsageError("unexpected argument \"" + args.positional()[0] + "\"");
    const Box box = parse_box(args.get("box", "-180/180/-90/90"));
    double lonref = 0, latref = 0;
    if (args.has("ref")) {
        const std::string ref = args.get("ref");
        const auto slash = ref.find('/');
        if (slash == std::string::npos) throw UsageError("--ref is LON/LAT in degrees");
        lonref = parse_number(ref.substr(0, slash), "--ref longitude");
        latref = parse_number(ref.substr(slash + 1), "--ref latitude");
    }
    const std::string kinds = args.get("kinds", "c:0"), res = parse_resolution(args.get("res", "l"), "--res");
    check_kinds(kinds, KindSet::Shorelines);
    const features::AntarcticOutline antarctica = parse_antarctica(args.get("antarctica", "ice-front"));
    if (format == Format::List && args.has("antarctica"))
        throw UsageError(
            "--list shows what the library's selection delivers, Antarctica at its grounding line; "
            "--antarctica is for GeoJSON and SVG");
    Output out(args.get("o"));
    if (format == Format::List) out.append(as_list(deliver(kinds, res, box, lonref, latref)));
    else if (format == Format::Svg) out.append(as_svg(kinds, res, box, antarctica));
    else {
        features::ShorelineOptions options = shoreline_options(res, kinds, box, antarctica);
        options.lonref = lonref;
        options.latref = latref;
        features::ShorelineReader reader(std::move(options));
        write_geojson(reader, features::ShorelineReader::fields(), out);
    }
    out.commit();
    return 0;
}

}  // namespace

const Command coast_command{"coast", "shorelines, lakes and islands in a box as GeoJSON, SVG or a list",
                            "usage: vorpix coast [--res RES] [--kinds KINDS] [--box W/E/S/N] [--ref LON/LAT]\n"
                            "                    [--antarctica OUTLINE] [--list | --svg] [-o OUT]\n\n"
                            "Selects the shoreline polygons of a box and writes them clipped to it.\n"
                            "  --res RES      resolution: c(rude), l(ow), i(ntermediate), h(igh), f(ull);\n"
                            "                 default l\n"
                            "  --kinds KINDS  up to two words c:LEVELS (coastlines) and f:LEVELS (filled\n"
                            "                 land \"l\" and water \"w\"); LEVELS is a bitmap, bit k selects\n"
                            "                 level k+1 (1 land, 2 lake, 3 island, 4 pond), 0 selects all;\n"
                            "                 default \"c:0\"\n"
                            "  --box W/E/S/N  the box in degrees; default the whole world; an east edge at\n"
                            "                 or below the west one runs east across 180\n"
                            "  --ref LON/LAT  reference point whose antipode is tested against each polygon\n"
                            "  --antarctica OUTLINE\n"
                            "                 ice-front (default): Antarctica with its ice shelves, as maps\n"
                            "                 show it; grounding-line: where the ice rests on rock, without\n"
                            "                 the shelves. Either is land, level 1\n"
                            "  --list         a table of the polygons the library's selection delivers (id,\n"
                            "                 level, type, points, extent); it gives Antarctica at its\n"
                            "                 grounding line\n"
                            "  --svg          an SVG picture of the box instead of GeoJSON\n"
                            "  -o OUT         write to OUT instead of standard output; with no format\n"
                            "                 option, OUT's extension (.svg, .txt or .geojson) chooses\n\n"
                            "Filled kinds are clipped exactly to the box (160/200 runs across 180), each\n"
                            "polygon with copies by whole turns; Antarctica is closed along the pole.\n"
                            "Line work is clipped as lines. Lakes and higher levels are features of their\n"
                            "own, after the land. GeoJSON (RFC 7946) has one feature per polygon, cut at\n"
                            "the antimeridian, exteriors counter-clockwise, with its id, kind (f, c),\n"
                            "level, type (l, w, c), antipode flag and a bbox; --list shows what the\n"
                            "library delivers. Files are found as maps/vorpix/gshhs_RES.b in the data\n"
                            "directories (VORPIX_DATA_PATH first).\n",
                            run_coast};

}  // namespace vorpix::cli
