// Shoreline polygons a feature at a time, exactly clipped, level by level.
#include "input_file.hpp"
#include "map_support.hpp"
#include "vorpix/clip.hpp"
#include "vorpix/map_readers.hpp"

#include "gshhsmap.h"
#include "words.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

namespace vorpix::features {

namespace {

struct KindEntry {
    char kind;  // 'c' or 'f'
    unsigned levels;
};

// The words as the library's selection takes them: c and f, the first two.
std::vector<KindEntry> parse_kinds(const std::string &kinds) {
    std::vector<KindEntry> out;
    int n = 0;
    char **words = nullptr;
    if (splitlist(kinds.c_str(), &n, &words) < 0) throw Error("cannot read the kinds \"" + kinds + "\"");
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
int antarctic_level(const GSHHSHdr &hdr, AntarcticOutline outline) {
    const bool grounding = outline == AntarcticOutline::GroundingLine;
    if (hdr.level == 5) return grounding ? 0 : 1;
    if (hdr.level == 1 && hdr.version > 3 && hdr.container >= 0) return grounding ? 1 : 0;
    return hdr.level;
}

std::string resolution_file(const std::string &resolution) {
    static const char *const letters = "clihf";
    const char first = resolution.empty() ? 'i' : resolution[0];
    return std::string("maps/vorpix/gshhs_") + (first && std::strchr(letters, first) ? first : 'i') + ".b";
}

}  // namespace

const std::vector<Field> &ShorelineReader::fields() {
    static const std::vector<Field> fields = {
        {"id", 'N', 10, 0}, {"kind", 'C', 1, 0}, {"level", 'N', 2, 0}, {"type", 'C', 1, 0}, {"antipode", 'N', 1, 0}};
    return fields;
}

struct ShorelineReader::Impl {
    ShorelineOptions options;
    geo::Frame frame{};
    std::vector<KindEntry> entries;
    std::string path;
    std::unique_ptr<InputFile> file;

    // Where the walk stands. Each kind starts with a pass over the whole file
    // that gives its land (level 1, the lowest there is) and notes the other
    // levels its polygons in the box have, each with the stretch of the file
    // from its first such polygon to the end of its last; then a pass over
    // each level's stretch, lowest first.
    struct Stretch {
        std::uint64_t first, end;
        long index;  // of the first polygon
    };
    size_t entry = 0;
    bool started = false, first_pass = false;
    std::map<int, Stretch> levels;
    int level = 0;
    std::uint64_t offset = 0, end = 0;
    long index = 0;

    std::vector<double> lons, lats;
    std::vector<float> lon_f, lat_f;

    struct Polygon {
        GSHHSHdr hdr;
        std::uint64_t at, points;
        int level;  // as drawn, 0 when the entry leaves it out
    };

    // The polygon whose header starts at offset, and where the next starts.
    Polygon header(std::uint64_t at, long polygon, std::uint64_t *next) {
        Polygon p{};
        p.at = at;
        const std::uint64_t rest = file->size() - at;
        const long head = static_cast<long>(std::min<std::uint64_t>(rest, 44));
        const unsigned char *bytes = file->at(at, static_cast<size_t>(head));
        long position = 0;
        MapLog log;
        if (!bytes || gshhs_unstuff_hdr_sized(&p.hdr, reinterpret_cast<const char *>(bytes), head, &position) < 0)
            throw failure(polygon, at, log, at);
        p.points = at + static_cast<std::uint64_t>(position);
        if (gshhs_skip_pts_sized(&p.hdr, static_cast<long>(rest), &position) < 0) throw failure(polygon, at, log, at);
        *next = at + static_cast<std::uint64_t>(position);
        return p;
    }

    // The library's message about a window of the file from window on.
    Error failure(long polygon, std::uint64_t at, const MapLog &log, std::uint64_t window) const {
        return Error(log.code(), path, "polygon " + std::to_string(polygon) + " at byte " + std::to_string(at),
                     at_file_bytes(log.reason(), static_cast<long>(window)));
    }

    // The level the current kind draws the polygon at, or 0 when the kind
    // or the box leaves it out.
    int selected(const GSHHSHdr &hdr) const {
        const int drawn = antarctic_level(hdr, options.antarctica);
        if (drawn == 0) return 0;
        const unsigned bits = entries[entry].levels;
        if (bits != 0 && (drawn < 1 || drawn > 32 || !(bits >> (drawn - 1) & 1u))) return 0;
        if (hdr.n <= 0 ||
            !geo::extent_meets(hdr.west * 1e-6, hdr.east * 1e-6, hdr.south * 1e-6, hdr.north * 1e-6, frame))
            return 0;
        return drawn;
    }

    bool make(const Polygon &p, Feature &f) {
        const GSHHSHdr &hdr = p.hdr;
        const auto n = static_cast<size_t>(hdr.n);
        lons.resize(n);
        lats.resize(n);
        const unsigned char *bytes = file->at(p.points, n * 8);
        long position = 0;
        MapLog log;
        if (!bytes || gshhs_unstuff_pts_sized(&hdr, reinterpret_cast<const char *>(bytes), static_cast<long>(n * 8),
                                              &position, lons.data(), lats.data()) < 0)
            throw failure(index - 1, p.at, log, p.points);
        geo::Polygon polygon(1);
        geo::Ring &ring = polygon[0];
        ring.resize(n);
        lon_f.resize(n);
        lat_f.resize(n);
        for (size_t i = 0; i < n; ++i) {
            ring[i] = {lons[i], lats[i]};
            lon_f[i] = static_cast<float>(lons[i]);
            lat_f[i] = static_cast<float>(lats[i]);
        }
        const char kind = entries[entry].kind;
        const bool rfc = options.rfc7946;
        try {
            if (kind == 'f') {
                // The clip may take the ring's storage.
                set_polygons(f.geometry,
                             rfc ? geo::clip_polygon_rfc7946(std::move(polygon), frame)
                                 : geo::clip_polygon(std::move(polygon), frame),
                             rfc);
            } else {
                const geo::Line outline = geo::outline_once_round(ring);
                set_lines(f.geometry, rfc ? geo::clip_line_rfc7946(outline, frame) : geo::clip_line(outline, frame),
                          rfc);
            }
        } catch (const Error &e) {
            throw Error(ErrorCode::Invalid, path,
                        "polygon " + std::to_string(hdr.id) + " at byte " + std::to_string(p.at), e.what());
        }
        if (f.geometry.type == GeometryType::None) return false;
        const float anti_lon = static_cast<float>(options.lonref + 180), anti_lat = static_cast<float>(-options.latref);
        f.id = hdr.id;
        f.deleted = false;
        f.values.resize(5);
        f.values[Id] = {ValueType::Integer, hdr.id, 0, ""};
        f.values[Kind] = {ValueType::String, 0, 0, std::string(1, kind)};
        f.values[Level] = {ValueType::Integer, p.level, 0, ""};
        f.values[Type] = {ValueType::String, 0, 0, kind == 'f' ? (p.level % 2 ? "l" : "w") : "c"};
        f.values[Antipode] = {ValueType::Integer,
                              gshhsmap_inside_eo(anti_lon, anti_lat, hdr.n, lon_f.data(), lat_f.data()), 0, ""};
        return true;
    }

    bool next(Feature &f) {
        while (entry < entries.size()) {
            if (!started) {
                levels.clear();
                started = first_pass = true;
                level = 1;
                offset = index = 0;
                end = file->size();
            }
            if (offset >= end) {
                if (levels.empty()) {
                    ++entry;
                    started = false;
                    continue;
                }
                const auto [drawn, stretch] = *levels.begin();
                levels.erase(levels.begin());
                first_pass = false;
                level = drawn;
                offset = stretch.first;
                end = stretch.end;
                index = stretch.index;
            }
            const std::uint64_t at = offset;
            std::uint64_t next = 0;
            Polygon p = header(at, index, &next);
            offset = next;
            ++index;
            p.level = selected(p.hdr);
            if (first_pass && p.level > 1) {
                const auto [found, fresh] = levels.try_emplace(p.level, Stretch{at, next, index - 1});
                if (!fresh) found->second.end = next;
            }
            if (p.level == level && make(p, f)) return true;
        }
        return false;
    }

    void open(const std::string &file_path) {
        path = file_path;
        if (options.opened) options.opened(path);
        file = std::make_unique<InputFile>(path);
    }
};

ShorelineReader::ShorelineReader(ShorelineOptions options) : impl_(std::make_unique<Impl>()) {
    Impl &d = *impl_;
    d.options = std::move(options);
    d.frame = geo::frame_of(d.options.box);
    d.entries = parse_kinds(d.options.kinds);
    if (!d.entries.empty()) d.open(find_map_file(resolution_file(d.options.resolution), d.options.missing));
}

ShorelineReader::ShorelineReader(const std::string &path, ShorelineOptions options) : impl_(std::make_unique<Impl>()) {
    Impl &d = *impl_;
    d.options = std::move(options);
    d.frame = geo::frame_of(d.options.box);
    d.entries = parse_kinds(d.options.kinds);
    if (!d.entries.empty()) d.open(path);
}

ShorelineReader::~ShorelineReader() = default;

const std::string &ShorelineReader::path() const { return impl_->path; }

bool ShorelineReader::next(Feature &feature) { return impl_->next(feature); }

}  // namespace vorpix::features
