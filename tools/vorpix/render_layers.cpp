// The layers of "vorpix render", one per reader.
#include "render_layers.hpp"

#include "commands.hpp"

#include <functional>
#include <map>
#include <set>

namespace vorpix::cli {

namespace {

struct LevelLook {
    const char *label;
    std::uint32_t fill, outline;
};

// Lakes and ponds are drawn over the land that holds them, a stronger blue
// than the sea with a blue shore, so that they read as lakes, not as holes.
LevelLook shoreline_look(int level) {
    switch (level) {
    case 1: return {"land", 0xfff2e6c4u, 0xff8c7448u};
    case 2: return {"lake", 0xff9cc7ebu, 0xff3f73a8u};
    case 3: return {"island in a lake", 0xffe6d6a8u, 0xff8c7448u};
    default: return {"pond", 0xff9cc7ebu, 0xff3f73a8u};
    }
}

}  // namespace

features::AntarcticOutline parse_antarctica(const std::string &text) {
    if (text == "ice-front") return features::AntarcticOutline::IceFront;
    if (text == "grounding-line") return features::AntarcticOutline::GroundingLine;
    throw UsageError("--antarctica is ice-front or grounding-line, not \"" + text + "\"");
}

features::ShorelineOptions shoreline_options(const std::string &res, const std::string &kinds, const Box &box,
                                             features::AntarcticOutline antarctica) {
    features::ShorelineOptions options;
    options.resolution = res;
    options.kinds = kinds;
    options.box = box;
    options.antarctica = antarctica;
    options.opened = note_input;
    options.missing = missing_map_file;
    return options;
}

features::BorderOptions border_options(const std::string &res, const std::string &kinds, const Box &box) {
    features::BorderOptions options;
    options.resolution = res;
    options.kinds = kinds;
    options.box = box;
    options.opened = note_input;
    options.missing = missing_map_file;
    return options;
}

namespace {

// The runs of a feature's geometry as rings (closed implicitly, without the
// point that repeats the first) or lines.
void add_runs(const features::Geometry &g, bool rings, std::vector<Ring> &out) {
    for (std::size_t r = 0; r < g.run_count(); ++r) {
        const std::size_t end = g.runs[r + 1] - (rings && g.runs[r + 1] > g.runs[r] ? 1 : 0);
        Ring &run = out.emplace_back();
        run.reserve(end - g.runs[r]);
        for (std::size_t i = g.runs[r]; i < end; ++i) run.push_back({g.x[i], g.y[i]});
    }
}

}  // namespace

// Fills are drawn with their own shorelines; line work ('c' kinds) as lines.
void add_coast_layer(Picture &pic, const std::string &res, const std::string &kinds,
                     features::AntarcticOutline antarctica, Progress &progress) {
    progress.say("shorelines");
    features::ShorelineOptions options = shoreline_options(res, kinds, pic.box, antarctica);
    options.rfc7946 = false;
    features::ShorelineReader reader(std::move(options));
    // One op per look: a fill's rings are its polygons' rings, which do not
    // overlap, so one even-odd fill draws them all.
    features::Feature feature;
    while (reader.next(feature)) {
        const int level = static_cast<int>(feature.values[features::ShorelineReader::Level].integer);
        const LevelLook look = shoreline_look(level);
        const bool fill = feature.values[features::ShorelineReader::Kind].text == "f";
        Op model{fill ? Op::Fill : Op::Stroke, {}, fill ? look.fill : look.outline, fill ? 0.6 : 0.8, {}, 0, 0, ""};
        model.outline = fill ? look.outline : 0;
        model.framed = true;
        if (pic.ops.empty() || !pic.ops.back().framed || !same_look(pic.ops.back(), model)) {
            if (fill) pic.add_legend(look.label, fill_style(model), false);
            else pic.add_legend(level % 2 ? "shorelines" : "lake shores", {0, look.outline, 0.8, 0}, true);
            pic.ops.push_back(std::move(model));
        }
        add_runs(feature.geometry, fill, pic.ops.back().rings);
    }
}

void add_grounding_line(Picture &pic, const std::string &res, Progress &progress) {
    progress.say("grounding line");
    // Its polygons are those that the grounding-line outline takes as land
    // and the ice front does not: the ice shelves' inner edge and the
    // islands within the ice.
    std::set<std::int64_t> ice_front;
    features::Feature feature;
    {
        features::ShorelineOptions options = shoreline_options(res, "f:1", pic.box,
                                                               features::AntarcticOutline::IceFront);
        options.rfc7946 = false;
        features::ShorelineReader reader(std::move(options));
        while (reader.next(feature)) ice_front.insert(feature.id);
    }
    features::ShorelineOptions options = shoreline_options(res, "c:1", pic.box,
                                                           features::AntarcticOutline::GroundingLine);
    options.rfc7946 = false;
    features::ShorelineReader reader(std::move(options));
    constexpr std::uint32_t colour = 0xff2f5d8cu;
    Op op{Op::Stroke, {}, colour, 0.9, {}, 0, 0, ""};
    op.framed = true;
    while (reader.next(feature))
        if (!ice_front.count(feature.id)) add_runs(feature.geometry, false, op.rings);
    if (op.rings.empty()) return;
    pic.ops.push_back(std::move(op));
    pic.add_legend("grounding line", {0, colour, 0.9, 0}, true);
}

namespace {

// Rivers are thin and blue, major ones (levels 1 and 2) a little wider;
// national borders are solid dark red, the others lighter and dashed.
struct LineLook {
    const char *label;
    PathStyle style;
};

LineLook line_look(bool river, int level) {
    if (river) return {"rivers", {0, 0xff2a6fbbu, level <= 2 ? 1.1 : 0.7, 0}};  // 0: double-lined rivers
    if (level == 1) return {"national borders", {0, 0xffa3262au, 1.4, 0}};
    if (level == 2) return {"internal borders", {0, 0xffc25a5cu, 0.8, 4}};
    return {"maritime borders", {0, 0xff9a6e8cu, 0.8, 2}};
}

}  // namespace

void add_line_layer(Picture &pic, bool rivers, const std::string &kinds, const std::string &res, Progress &progress) {
    progress.say(rivers ? "rivers" : "borders");
    // The lines come clipped to the frame already.
    features::BorderOptions options = border_options(res, kinds, pic.box);
    options.rfc7946 = false;
    features::BorderReader reader(std::move(options));
    // Minor lines first, so that the major ones lie over them.
    std::map<int, Op, std::greater<int>> by_level;
    features::Feature feature;
    while (reader.next(feature)) {
        const int level = static_cast<int>(feature.values[features::BorderReader::Level].integer);
        auto found = by_level.find(level);
        if (found == by_level.end()) {
            const LineLook look = line_look(rivers, level);
            Op op{Op::Stroke, {}, look.style.stroke, look.style.width, {}, 0, 0, ""};
            op.dash = look.style.dash;
            op.framed = true;
            found = by_level.emplace(level, std::move(op)).first;
        }
        add_runs(feature.geometry, false, found->second.rings);
    }
    for (auto &[level, op] : by_level) pic.ops.push_back(std::move(op));
    // Every river level is one entry, drawn in the wider look.
    for (auto level = by_level.rbegin(); level != by_level.rend(); ++level) {
        const LineLook look = line_look(rivers, rivers ? 1 : level->first);
        pic.add_legend(look.label, look.style, true);
    }
}

}  // namespace vorpix::cli
