// The layers of "vorpix render", one per reader.
#include "render_layers.hpp"

#include "commands.hpp"
#include "gshhsmap.h"

#include <cstdlib>

namespace vorpix::cli {

namespace {

std::uint32_t shoreline_colour(int level) {
    switch (level) {
    case 1: return 0xffd9c7a0u;  // land
    case 2: return 0xffa8cbe8u;  // lake
    case 3: return 0xffc9b98fu;  // island in a lake
    default: return 0xff9cc0e0u;  // pond on such an island
    }
}

const char *shoreline_label(int level) {
    switch (level) {
    case 1: return "land";
    case 2: return "lake";
    case 3: return "island in a lake";
    default: return "pond";
    }
}

}  // namespace

void add_coast_layer(Picture &pic, const std::string &res, const std::string &kinds, Progress &progress) {
    static void *map = nullptr;  // map objects live as long as the process
    LogCollector log;
    progress.say("shorelines: selecting");
    std::string types = kinds, resolution = res;
    if (gshhsmap_open(&map) < 0 ||
        gshhsmap_select(map, types.data(), resolution.data(), pic.box.west, pic.box.east, pic.box.south,
                        pic.box.north, 0, 0) < 0)
        throw InputError(log.all());
    float *lon = nullptr, *lat = nullptr;
    int size = 0, npts = 0, level = 0, antipode = 0, count = 0;
    char type[2];
    int r;
    while ((r = gshhsmap_nextseg(map, &npts, &size, &lon, &lat, type, &level, &antipode)) == 1) {
        if (++count % 1000 == 0) progress.say("shorelines: " + std::to_string(count) + " polygons");
        if (npts < 3) continue;
        Ring ring;
        ring.reserve(static_cast<size_t>(npts));
        for (int i = 0; i < npts; ++i) ring.emplace_back(lon[i], lat[i]);
        pic.ops.push_back({Op::Fill, {std::move(ring)}, shoreline_colour(level), 0, {}, 0, 0, ""});
        pic.add_legend(shoreline_label(level), shoreline_colour(level), false);
    }
    std::free(lon);
    std::free(lat);
    if (r < 0) throw InputError(log.all());
}

void add_line_layer(Picture &pic, bool rivers, const std::string &res, Progress &progress) {
    progress.say(rivers ? "rivers" : "borders");
    // Rivers of every level; national borders (level 1) and the others.
    const auto runs = border_lines(rivers ? "r:4095" : "p:7", res, pic.box);
    const std::uint32_t colour = rivers ? 0xff2f6fb5u : 0xffb03030u;
    for (const auto &run : runs) {
        Ring line;
        for (size_t i = 0; i < run.lon.size(); ++i) line.emplace_back(run.lon[i], run.lat[i]);
        const double width = rivers ? (run.level <= 2 ? 1.2 : 0.7) : (run.level == 1 ? 1.4 : 0.8);
        pic.ops.push_back({Op::Stroke, {std::move(line)}, colour, width, {}, 0, 0, ""});
    }
    pic.add_legend(rivers ? "rivers" : "borders", colour, true);
}

}  // namespace vorpix::cli
