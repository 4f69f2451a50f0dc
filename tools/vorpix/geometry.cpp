#include "geometry.hpp"

#include "cli.hpp"

#include "datafile.h"
#include "gshhsmap.h"
#include "words.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace vorpix::geo {

namespace {

struct KindEntry {
    char kind;
    unsigned levels;
};

std::vector<KindEntry> parse_kinds(const std::string &kinds) {
    std::vector<KindEntry> out;
    int n = 0;
    char **words = nullptr;
    if (splitlist(kinds.c_str(), &n, &words) < 0) throw cli::InputError("cannot read the kinds \"" + kinds + "\"");
    for (int i = 0; i < n && out.size() < 2; ++i) {
        const char *word = words[i];
        if (word[0] != 'c' && word[0] != 'f') continue;
        const unsigned levels = std::strlen(word) >= 3 ? static_cast<unsigned>(std::atoi(word + 2)) : 0;
        out.push_back({word[0], levels});
    }
    freeargs(n, words);
    return out;
}

// Antarctica comes twice: its ice front (level 5, which the library's
// selection always leaves out) and its grounding line (level 6, read as land),
// each grounding-line polygon naming the ice front that holds it as its
// container, which no other land has (headers before version 4 have no
// container). The level a polygon is drawn at in the chosen outline, or 0
// when that outline leaves it out.
int antarctic_level(const GSHHSHdr &hdr, Antarctica outline) {
    const bool grounding = outline == Antarctica::GroundingLine;
    if (hdr.level == 5) return grounding ? 0 : 1;
    if (hdr.level == 1 && hdr.version > 3 && hdr.container >= 0) return grounding ? 1 : 0;
    return hdr.level;
}

}  // namespace

std::vector<ShoreFeature> shoreline_features(const char *data, long size, const std::string &name,
                                             const ShoreRequest &request, const Frame &frame) {
    const std::vector<KindEntry> entries = parse_kinds(request.kinds);
    std::vector<ShoreFeature> out;
    if (entries.empty()) return out;
    const float anti_lon = static_cast<float>(request.lonref + 180), anti_lat = static_cast<float>(-request.latref);
    cli::LogCollector log;
    for (const KindEntry &entry : entries) {
        std::vector<ShoreFeature> features;
        long position = 0;
        GSHHSHdr hdr;
        std::vector<double> lons, lats;
        for (int index = 0; position < size; ++index) {
            const long at = position;
            long points = 0;
            if (gshhs_unstuff_hdr_sized(&hdr, data, size, &position) < 0 ||
                (points = position, gshhs_skip_pts_sized(&hdr, size, &position) < 0))
                throw cli::InputError(name + ": polygon " + std::to_string(index) + " at byte " + std::to_string(at) +
                                      ": " + cli::without_function(log.first()));
            const int level = antarctic_level(hdr, request.antarctica);
            if (level == 0) continue;
            if (entry.levels != 0 && (level < 1 || level > 32 || !(entry.levels >> (level - 1) & 1u))) continue;
            if (hdr.n <= 0 ||
                !extent_meets(hdr.west * 1e-6, hdr.east * 1e-6, hdr.south * 1e-6, hdr.north * 1e-6, frame))
                continue;
            lons.resize(static_cast<size_t>(hdr.n));
            lats.resize(lons.size());
            if (gshhs_unstuff_pts_sized(&hdr, data, size, &points, lons.data(), lats.data()) < 0)
                throw cli::InputError(name + ": polygon " + std::to_string(index) + " at byte " + std::to_string(at) +
                                      ": " + cli::without_function(log.first()));
            Ring ring(lons.size());
            std::vector<float> lon(ring.size()), lat(ring.size());
            for (size_t i = 0; i < ring.size(); ++i) {
                ring[i] = {lons[i], lats[i]};
                lon[i] = static_cast<float>(lons[i]);
                lat[i] = static_cast<float>(lats[i]);
            }
            ShoreFeature f{hdr.id, level, entry.kind, 'c', 0, {}, {}};
            f.antipode = gshhsmap_inside_eo(anti_lon, anti_lat, hdr.n, lon.data(), lat.data());
            try {
                if (entry.kind == 'f') {
                    f.type = level % 2 ? 'l' : 'w';
                    f.polygons = request.rfc7946 ? clip_polygon_rfc7946({ring}, frame) : clip_polygon({ring}, frame);
                } else {
                    // The outline once round, without the edges that close a
                    // ring round a pole along the pole.
                    const Line outline = outline_once_round(ring);
                    f.lines = request.rfc7946 ? clip_line_rfc7946(outline, frame) : clip_line(outline, frame);
                }
            } catch (const cli::InputError &e) {
                throw cli::InputError(name + ": polygon " + std::to_string(hdr.id) + " at byte " + std::to_string(at) +
                                      ": " + e.what());
            }
            if (f.polygons.empty() && f.lines.empty()) continue;
            features.push_back(std::move(f));
        }
        std::stable_sort(features.begin(), features.end(),
                         [](const ShoreFeature &a, const ShoreFeature &b) { return a.level < b.level; });
        for (auto &f : features) out.push_back(std::move(f));
    }
    return out;
}

std::vector<ShoreFeature> shoreline_features(const ShoreRequest &request, const Frame &frame) {
    if (parse_kinds(request.kinds).empty()) return {};
    static const char *const endings = "clihf";
    const char first = request.resolution.empty() ? 'i' : request.resolution[0];
    const char letter = std::strchr(endings, first) && first ? first : 'i';
    const std::string relative = std::string("maps/vorpix/gshhs_") + letter + ".b";
    char *path = datafile(nullptr, relative.c_str());
    if (!path) throw cli::InputError(cli::missing_map_file(relative));
    const std::string full = path;
    std::free(path);
    char *data = nullptr;
    cli::LogCollector log;
    static Arr *mapped = nullptr;  // each file is mapped once for the process
    cli::note_input(full);
    const long size = mapfile(full.c_str(), &mapped, &data);
    if (size < 0)
        throw cli::InputError(full + ": cannot read" +
                              (log.first().empty() ? "" : ": " + cli::without_function(log.first())));
    return shoreline_features(data, size, full, request, frame);
}

}  // namespace vorpix::geo
