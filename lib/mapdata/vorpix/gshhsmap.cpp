// Shoreline maps: GSHHS polygon files mapped once per resolution, polygons
// selected by kind, level and box, delivered clipped to the box.
#include "gshhsmap.h"

#include "byte_reader.hpp"

#include "byteorder.h"
#include "datafile.h"
#include "elog.h"
#include "words.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace {

struct gshhsmap_list_ {
    char *stream;
    int size;
    char type[4];
    int itype;
    unsigned int levels_bitmap;
};

struct GSHHSMapSegment {
    GSHHSHdr hdr;
    int type;
    char *data;
    gshhsmap_list_ *map;
};

struct GSHHSMap {
    double bb_lonwest;
    double bb_loneast;
    double bb_latsouth;
    double bb_latnorth;
    double bb_lonwrap;
    double bb_lonanti;
    double bb_latanti;
    char resolution[64];
    int nmaps;
    gshhsmap_list_ map_list[2];
    int nsegs;
    int segs_size;
    int iseg;
    GSHHSMapSegment *segs;
    char *streams[5];
    int size[5];
    char *paths[5];  // resolved file names, for messages about a bad file
};

const char *const gshhsmap_names[5] = {"c.b", "l.b", "i.b", "h.b", "f.b"};
const char *const resolution_names[5] = {"crude", "low", "intermediate", "high", "full"};

constexpr int header_common_size = 32;
constexpr int point_size = 8;

// Resolutions by their first character; anything else is intermediate.
int resolution_index(const char *resolution) {
    switch (resolution ? resolution[0] : '\0') {
    case 'c': return 0;
    case 'l': return 1;
    case 'h': return 3;
    case 'f': return 4;
    default: return 2;
    }
}

int header_size_for_version(int version) { return version > 3 ? 44 : 36; }

// Fills hdr from the header at p, through the host's byte-order conversion,
// and returns the header's length. The caller has made sure it is all there.
long decode_header(const char *p, GSHHSHdr &hdr) {
    const char *const start = p;
    std::memset(&hdr, 0, sizeof hdr);
    std::uint32_t flag = 0;
    N2H4(&hdr.id, p, 1), p += 4;
    N2H4(&hdr.n, p, 1), p += 4;
    N2H4(&flag, p, 1), p += 4;
    N2H4(&hdr.west, p, 1), p += 4;
    N2H4(&hdr.east, p, 1), p += 4;
    N2H4(&hdr.south, p, 1), p += 4;
    N2H4(&hdr.north, p, 1), p += 4;
    N2H4(&hdr.area, p, 1), p += 4;
    hdr.version = static_cast<std::int32_t>((flag >> 8) & 255);
    hdr.level = static_cast<std::int32_t>(flag & 255);
    if (hdr.version > 3) {
        N2H4(&hdr.area_full, p, 1), p += 4;
        N2H4(&hdr.container, p, 1), p += 4;
        N2H4(&hdr.ancestor, p, 1), p += 4;
    } else {
        N2H2(&hdr.greenwich, p, 1), p += 2;
        N2H2(&hdr.source, p, 1), p += 2;
    }
    // Level 6 marks Antarctica's grounding line in newer files: it is land.
    if (hdr.level == 6) hdr.level = 1;
    return p - start;
}

// `while (v < limit) v += 360` and `while (v > limit) v -= 360`. Values more
// than 64 turns from the limit (a polygon's continuous longitude can drift
// that far) jump by whole turns at once, and non-finite ones stop, so both
// end for any input.
[[gnu::noinline]] double raise_by_turns_loop(double v, double limit) {
    for (int i = 0; i < 64 && v < limit; ++i) v += 360;
    if (v < limit) {
        v = limit - std::fmod(limit, 360.0) + std::fmod(v, 360.0) - 720;
        for (int i = 0; i < 8 && v < limit; ++i) v += 360;
    }
    return v;
}

[[gnu::noinline]] double lower_by_turns_loop(double v, double limit) {
    for (int i = 0; i < 64 && v > limit; ++i) v -= 360;
    if (v > limit) {
        v = limit - std::fmod(limit, 360.0) + std::fmod(v, 360.0) + 720;
        for (int i = 0; i < 8 && v > limit; ++i) v -= 360;
    }
    return v;
}

// Most points need no turn at all: keep that test inline.
inline double raise_by_turns(double v, double limit) {
    if (v < limit) [[unlikely]]
        return raise_by_turns_loop(v, limit);
    return v;
}
inline double lower_by_turns(double v, double limit) {
    if (v > limit) [[unlikely]]
        return lower_by_turns_loop(v, limit);
    return v;
}

// Point records are 32-bit big-endian micro-degrees.
inline double point_coordinate(const unsigned char *p) {
    return static_cast<std::int32_t>(vorpix::ByteReader::peek<std::uint32_t, true>(p)) * 1e-6;
}

// Brings lon within half a turn of the previous continuous longitude.
inline double continue_longitude(double lon, double previous) {
    lon = lower_by_turns(lon, previous + 180);
    return raise_by_turns(lon, previous - 180);
}

bool level_selected(unsigned int bitmap, int level) {
    if (bitmap == 0) return true;
    if (level < 1 || level > 32) return false;
    return (bitmap >> (level - 1)) & 1u;
}

void empty_selection(GSHHSMap *gs) {
    gs->map_list[0].stream = nullptr;
    gs->map_list[1].stream = nullptr;
    gs->nmaps = 0;
    gs->nsegs = 0;
    gs->iseg = 0;
}

int append_segment(GSHHSMap *gs, const GSHHSHdr &hdr, gshhsmap_list_ *entry, char *data) {
    if (!gs->segs) {
        const long bytes = 2000L * static_cast<long>(sizeof(GSHHSMapSegment));
        auto *segs = static_cast<GSHHSMapSegment *>(std::malloc(static_cast<size_t>(bytes)));
        if (!segs) {
            elog_log(1, "gshhs_select: malloc(gs->segs,%ld).\n", bytes);
            return -1;
        }
        gs->segs = segs;
        gs->segs_size = 2000;
    } else if (gs->nsegs + 1 > gs->segs_size) {
        const long bytes = 2L * gs->segs_size * static_cast<long>(sizeof(GSHHSMapSegment));
        // The capacity is an int: past that, growing fails like a refused allocation.
        if (gs->segs_size > INT_MAX / 2) {
            elog_log(1, "gshhs_select: realloc(gmt->segs,%ld).\n", bytes);
            return -1;
        }
        const int capacity = gs->segs_size * 2;
        auto *segs = static_cast<GSHHSMapSegment *>(std::realloc(gs->segs, static_cast<size_t>(bytes)));
        if (!segs) {
            elog_log(1, "gshhs_select: realloc(gmt->segs,%ld).\n", bytes);
            return -1;
        }
        gs->segs = segs;
        gs->segs_size = capacity;
    }
    GSHHSMapSegment &seg = gs->segs[gs->nsegs];
    seg.hdr = hdr;
    seg.type = entry->itype;
    seg.data = data;
    seg.map = entry;
    gs->nsegs += 1;
    return 0;
}

bool polygon_selected(const GSHHSMap *gs, const GSHHSHdr &hdr, unsigned int bitmap) {
    if (hdr.level == 5) return false;
    if (hdr.south * 1e-6 > gs->bb_latnorth) return false;
    if (gs->bb_latsouth > hdr.north * 1e-6) return false;
    double w = hdr.west * 1e-6;
    double e = hdr.east * 1e-6;
    const double wrap = gs->bb_lonwrap;
    // Extents are 32-bit micro-degrees, so these loops run a few times at most.
    for (int i = 0; i < 64 && w < wrap; ++i) w += 360, e += 360;
    for (int i = 0; i < 64 && (w > wrap + 360 || e > 360); ++i) w -= 360, e -= 360;
    if (w > gs->bb_loneast || gs->bb_lonwest > e) return false;
    return level_selected(bitmap, hdr.level);
}

// Maps the file of a resolution into the object's cache. 0 or -1.
int load_resolution(GSHHSMap *gs, int index) {
    char name[256];
    std::snprintf(name, sizeof name, "%s/%s%s", "maps/vorpix", "gshhs_", gshhsmap_names[index]);
    char *path = datafile(nullptr, name);
    if (!path) {
        elog_log(0, "gshhs_select: datafile(%s) error.\n", name);
        return -1;
    }
    char *data = nullptr;
    const long size = mapfile(path, nullptr, &data);
    if (size < 0) {
        elog_log(0, "gshhsmap_select: mapfile(%s) error.\n", path);
        std::free(path);
        return -1;
    }
    if (size > INT_MAX) {
        elog_log(0, "gshhsmap_select: %s: %ld bytes is too large for a shoreline file.\n", path, size);
        std::free(path);
        return -1;
    }
    gs->streams[index] = data;
    gs->size[index] = static_cast<int>(size);
    std::free(gs->paths[index]);
    gs->paths[index] = path;
    return 0;
}

// Walks the polygon headers of an entry's file and keeps those that pass.
int scan_entry(GSHHSMap *gs, gshhsmap_list_ *entry, const char *path) {
    GSHHSHdr hdr;
    long position = 0;
    int polygon = 0;
    while (position < entry->size) {
        const long header_at = position;
        if (gshhs_unstuff_hdr_sized(&hdr, entry->stream, entry->size, &position) < 0) {
            elog_log(0, "gshhsmap_select: %s: polygon %d at byte %ld: truncated or corrupt file.\n",
                     path, polygon, header_at);
            return -1;
        }
        char *points = entry->stream + position;
        if (gshhs_skip_pts_sized(&hdr, entry->size, &position) < 0) {
            elog_log(0, "gshhsmap_select: %s: polygon %d (id %d) at byte %ld: truncated or corrupt file.\n",
                     path, polygon, hdr.id, header_at);
            return -1;
        }
        if (polygon_selected(gs, hdr, entry->levels_bitmap) && append_segment(gs, hdr, entry, points) < 0)
            return -1;
        ++polygon;
    }
    return 0;
}

// The output arrays grow from 100 points by doubling. n is the polygon's
// point count, which the messages show (times 4, as a float array's bytes).
int make_room(long needed, int n, int *npts_size, float **lon, float **lat) {
    const long shown = static_cast<long>(n) * 4;
    const bool fresh = !*lon || !*lat || *npts_size <= 0;
    if (!fresh && needed <= *npts_size) return 0;
    long capacity = fresh ? 100 : *npts_size;
    while (needed > capacity) capacity *= 2;
    if (capacity > INT_MAX) {
        elog_log(1, fresh ? "gshhs_nextseg: malloc(lon,%ld) error.\n" : "gshhs_nextseg: realloc(lon,%ld) error.\n",
                 shown);
        return -1;
    }
    const size_t bytes = static_cast<size_t>(capacity) * sizeof(float);
    if (fresh) {
        std::free(*lon);
        std::free(*lat);
        *lon = nullptr;
        *lat = nullptr;
        *lon = static_cast<float *>(std::malloc(bytes));
        if (!*lon) {
            elog_log(1, "gshhs_nextseg: malloc(lon,%ld) error.\n", shown);
            return -1;
        }
        *lat = static_cast<float *>(std::malloc(bytes));
        if (!*lat) {
            elog_log(1, "gshhs_nextseg: malloc(lat,%ld) error.\n", shown);
            return -1;
        }
    } else {
        auto *grown = static_cast<float *>(std::realloc(*lon, bytes));
        if (!grown) {
            elog_log(1, "gshhs_nextseg: realloc(lon,%ld) error.\n", shown);
            return -1;
        }
        *lon = grown;
        grown = static_cast<float *>(std::realloc(*lat, bytes));
        if (!grown) {
            elog_log(1, "gshhs_nextseg: realloc(lat,%ld) error.\n", shown);
            return -1;
        }
        *lat = grown;
    }
    *npts_size = static_cast<int>(capacity);
    return 0;
}

// a < b ? a : b and a < b ? b : a, NaNs included, without a branch: a
// polygon's edges run either way, so a branch here is mispredicted half the
// time.
inline float lesser(float a, float b) {
#if defined(__SSE__)
    return _mm_cvtss_f32(_mm_min_ss(_mm_set_ss(a), _mm_set_ss(b)));
#else
    return a < b ? a : b;
#endif
}
inline float greater(float a, float b) {
#if defined(__SSE__)
    return _mm_cvtss_f32(_mm_max_ss(_mm_set_ss(b), _mm_set_ss(a)));
#else
    return a < b ? b : a;
#endif
}

// Where a point outside the box sits relative to it: 3 * row + column, 4 inside.
struct Box {
    double west, east, south, north;

    int zone(double lon, double lat) const {
        const int row = lat < south ? 0 : (lat > north ? 2 : 1);
        // The west test looks at longitudes as 0 to 360, the east test as they are.
        const double lon360 = lon < 0 ? lon + 360 : lon;
        const int column = west > lon360 ? 0 : (lon > east ? 2 : 1);
        return 3 * row + column;
    }

    void move_onto(int zone, double &lon, double &lat) const {
        const int row = zone / 3, column = zone % 3;
        if (row == 0) lat = south;
        if (row == 2) lat = north;
        if (column == 0) lon = west;
        if (column == 2) lon = east;
    }
};

}  // namespace

extern "C" {

int gshhs_unstuff_hdr(GSHHSHdr **gshhshdr, char **stream) {
    if (!*gshhshdr) {
        auto *hdr = static_cast<GSHHSHdr *>(std::malloc(sizeof(GSHHSHdr)));
        if (!hdr) {
            elog_log(1, "gshhs_unstuff_hdr: malloc(GSHHSHdr) error.\n");
            return -1;
        }
        *gshhshdr = hdr;
    }
    *stream += decode_header(*stream, **gshhshdr);
    return 0;
}

int gshhs_skip_pts(GSHHSHdr *gshhshdr, char **stream) {
    // n * 8 wraps as 32-bit signed arithmetic would; computed unsigned to keep it defined.
    const auto offset = static_cast<std::int32_t>(static_cast<std::uint32_t>(gshhshdr->n) * 8u);
    *stream += offset;
    return 0;
}

int gshhs_unstuff_hdr_sized(GSHHSHdr *gshhshdr, const char *data, long size, long *position) {
    if (!gshhshdr || !data || !position || size < 0 || *position < 0 || *position > size) {
        elog_log(0, "gshhs_unstuff_hdr_sized: invalid arguments.\n");
        return -1;
    }
    const long remain = size - *position;
    const auto *at = reinterpret_cast<const unsigned char *>(data) + *position;
    if (remain < header_common_size) {
        elog_log(0, "gshhs_unstuff_hdr_sized: header at byte %ld needs at least %d bytes, %ld remain.\n",
                 *position, header_common_size, remain);
        return -1;
    }
    const int version = at[10];
    const int length = header_size_for_version(version);
    if (remain < length) {
        elog_log(0, "gshhs_unstuff_hdr_sized: version %d header at byte %ld needs %d bytes, %ld remain.\n",
                 version, *position, length, remain);
        return -1;
    }
    decode_header(data + *position, *gshhshdr);
    *position += length;
    return 0;
}

int gshhs_skip_pts_sized(const GSHHSHdr *gshhshdr, long size, long *position) {
    if (!gshhshdr || !position || size < 0 || *position < 0 || *position > size) {
        elog_log(0, "gshhs_skip_pts_sized: invalid arguments.\n");
        return -1;
    }
    if (gshhshdr->n < 0) {
        elog_log(0, "gshhs_skip_pts_sized: negative point count %d at byte %ld.\n", gshhshdr->n, *position);
        return -1;
    }
    const long long bytes = static_cast<long long>(gshhshdr->n) * point_size;
    const long remain = size - *position;
    if (bytes > remain) {
        elog_log(0, "gshhs_skip_pts_sized: %d points at byte %ld need %lld bytes, %ld remain.\n", gshhshdr->n,
                 *position, bytes, remain);
        return -1;
    }
    *position += static_cast<long>(bytes);
    return 0;
}

int gshhsmap_open(void **handle) {
    if (!*handle) {
        auto *gs = static_cast<GSHHSMap *>(std::calloc(1, sizeof(GSHHSMap)));
        if (!gs) {
            elog_log(1, "gshhsmap_open: malloc(gshhsmap) error.\n");
            return -1;
        }
        *handle = gs;
    }
    empty_selection(static_cast<GSHHSMap *>(*handle));
    return 0;
}

int gshhsmap_reset(void *handle) {
    auto *gs = static_cast<GSHHSMap *>(handle);
    gs->iseg = 0;
    return gs->nsegs;
}

int gshhsmap_use_data(void *handle, const char *resolution, const char *data, long size) {
    auto *gs = static_cast<GSHHSMap *>(handle);
    if (!gs || size < 0 || size > INT_MAX || (!data && size > 0)) {
        elog_log(0, "gshhsmap_use_data: %ld bytes cannot be a shoreline file.\n", size);
        return -1;
    }
    static char empty[1];
    const int index = resolution_index(resolution);
    gs->streams[index] = data ? const_cast<char *>(data) : empty;
    gs->size[index] = static_cast<int>(size);
    empty_selection(gs);
    return 0;
}

int gshhsmap_select(void *handle, char *types, char *resolution, double bb_lonwest, double bb_loneast,
                    double bb_latsouth, double bb_latnorth, double bb_lonref, double bb_latref) {
    auto *gs = static_cast<GSHHSMap *>(handle);
    empty_selection(gs);

    const int index = resolution_index(resolution);
    std::snprintf(gs->resolution, sizeof gs->resolution, "%s", resolution_names[index]);

    if (bb_loneast - bb_lonwest >= 360) {
        bb_lonwest = 0;
        bb_loneast = 360;
    } else {
        bb_lonwest = raise_by_turns(bb_lonwest, -180);
        bb_lonwest = lower_by_turns(bb_lonwest, 180);
        bb_loneast = raise_by_turns(bb_loneast, bb_lonwest);
        bb_loneast = lower_by_turns(bb_loneast, bb_lonwest + 360);
    }
    const double wrap = 0.5 * (bb_lonwest + bb_loneast) - 180;
    gs->bb_lonwrap = wrap;
    double lonanti = bb_lonref + 180;
    lonanti = raise_by_turns(lonanti, wrap);
    lonanti = lower_by_turns(lonanti, wrap + 360);
    gs->bb_lonwest = bb_lonwest;
    gs->bb_loneast = bb_loneast;
    gs->bb_latsouth = bb_latsouth;
    gs->bb_latnorth = bb_latnorth;
    gs->bb_lonanti = lonanti;
    gs->bb_latanti = -bb_latref;

    int argc = 0;
    char **argv = nullptr;
    if (!types || splitlist(types, &argc, &argv) < 0) {
        elog_log(0, "gshhsmap_select: splitlist() error.\n");
        return -1;
    }
    int nmaps = 0;
    for (int i = 0; i < argc && nmaps < 2; ++i) {
        const char letter = argv[i][0];
        if (letter != 'c' && letter != 'f') continue;
        gshhsmap_list_ &entry = gs->map_list[nmaps++];
        entry.type[0] = letter;
        entry.type[1] = '\0';
        entry.itype = letter == 'c' ? 2 : 1;
        entry.levels_bitmap = std::strlen(argv[i]) > 2 ? static_cast<unsigned int>(std::atoi(argv[i] + 2)) : 0u;
        entry.stream = gs->streams[index];
        entry.size = gs->size[index];
    }
    freeargs(argc, argv);
    gs->nmaps = nmaps;
    if (nmaps == 0) return 0;

    for (int m = 0; m < nmaps; ++m) {
        gshhsmap_list_ &entry = gs->map_list[m];
        if (!entry.stream) {
            if (!gs->streams[index] && load_resolution(gs, index) < 0) return -1;
            entry.stream = gs->streams[index];
            entry.size = gs->size[index];
        }
        if (scan_entry(gs, &entry, gs->paths[index] ? gs->paths[index] : "shoreline file") < 0) return -1;
    }
    return gs->nsegs;
}

const GSHHSHdr *gshhsmap_peek(void *handle) {
    auto *gs = static_cast<GSHHSMap *>(handle);
    return gs->iseg < gs->nsegs ? &gs->segs[gs->iseg].hdr : nullptr;
}

int gshhsmap_nextseg(void *handle, int *npts, int *npts_size, float **lon, float **lat, char *type, int *level,
                     int *antipode) {
    auto *gs = static_cast<GSHHSMap *>(handle);
    if (gs->iseg >= gs->nsegs) return 0;
    const GSHHSMapSegment &seg = gs->segs[gs->iseg];
    const int n = seg.hdr.n;
    if (n <= 0) {
        *npts = 0;
        gs->iseg += 1;
        return 1;
    }
    const auto *points = reinterpret_cast<const unsigned char *>(seg.data);

    // Pass 1: the whole-turn offset that brings the point nearest the frame's
    // centre into the frame; the first of equally near points wins.
    const double frame_west = gs->bb_lonwrap;
    const double centre = frame_west + 180;
    double best = 1e20, wrap = 0;
    double previous = 0;
    for (int i = 0; i < n; ++i) {
        double x = point_coordinate(points + 8L * i);
        if (i > 0) x = continue_longitude(x, previous);
        previous = x;
        const double v = lower_by_turns(raise_by_turns(x, frame_west), frame_west + 360);
        const double distance = std::fabs(v - centre);
        if (distance < best) {
            best = distance;
            wrap = v - x;
        }
    }

    // Pass 2: deliver, replacing runs outside the box by points on its edges.
    const Box box{gs->bb_lonwest, gs->bb_loneast, gs->bb_latsouth, gs->bb_latnorth};
    double last_lon = 0, last_lat = 0;
    int last_zone = 4;
    long j = 0;
    // The arrays are used through locals and refreshed only when they grow.
    float *out_lon = *lon, *out_lat = *lat;
    long capacity = out_lon && out_lat ? *npts_size : 0;
    for (int i = 0; i < n; ++i) {
        const unsigned char *p = points + 8L * i;
        double x = point_coordinate(p);
        double y = point_coordinate(p + 4);
        if (i > 0) x = continue_longitude(x, previous);
        previous = x;
        double w = x + wrap;
        const int zone = box.zone(w, y);
        int plot_this = 1, plot_last = 0;
        if (i > 0) {
            if (zone == 4 && last_zone != 4) plot_last = 1;
            if (zone != 4) {
                if (last_zone == 4) {
                    last_lon = w;
                    last_lat = y;
                    plot_last = 1;
                }
                if (zone == last_zone)
                    plot_this = 0;
                else
                    box.move_onto(zone, w, y);
            }
        }
        const long needed = j + plot_this + plot_last;
        if (needed > capacity || !out_lon) {
            if (make_room(needed, n, npts_size, lon, lat) < 0) return -1;
            out_lon = *lon, out_lat = *lat;
            capacity = *npts_size;
        }
        if (plot_last) {
            out_lon[j] = static_cast<float>(last_lon);
            out_lat[j] = static_cast<float>(last_lat);
            ++j;
        }
        if (plot_this) {
            out_lon[j] = static_cast<float>(w);
            out_lat[j] = static_cast<float>(y);
            ++j;
        }
        last_zone = zone;
        last_lon = w;
        last_lat = y;
    }

    *npts = static_cast<int>(j);
    *level = seg.hdr.level;
    if (seg.type == 2)
        std::strcpy(type, "c");
    else
        std::strcpy(type, seg.hdr.level % 2 != 0 ? "l" : "w");
    *antipode = gshhsmap_inside_eo(static_cast<float>(gs->bb_lonanti), static_cast<float>(gs->bb_latanti), *npts,
                                   *lon, *lat);
    gs->iseg += 1;
    return 1;
}

int gshhsmap_inside_eo(float lontest, float lattest, int npts, float *lon, float *lat) {
    int crossings = 0;
    for (int i = 0; i < npts; ++i) {
        const int next = i + 1 < npts ? i + 1 : 0;
        float t = lontest;
        const float x1 = lon[i], y1 = lat[i];
        float x2 = lon[next];
        const float y2 = lat[next];
        // Wholly south of the test point: the longitudes do not matter.
        if (lattest > y1 && lattest > y2) continue;
        // Each edge is taken the short way round.
        if (static_cast<double>(x1) - 180.0 > static_cast<double>(x2))
            x2 = static_cast<float>(static_cast<double>(x2) + 360.0);
        if (static_cast<double>(x2) > static_cast<double>(x1) + 180.0)
            x2 = static_cast<float>(static_cast<double>(x2) - 360.0);
        float a, b;
        if (y1 >= lattest && y2 >= lattest) {
            a = x1;
            b = x2;
        } else if (y1 < lattest) {
            a = x1 + (lattest - y1) * (x2 - x1) / (y2 - y1);
            b = x2;
        } else {
            a = x1;
            b = x2 + (lattest - y2) * (x1 - x2) / (y1 - y2);
        }
        const float west = lesser(a, b), east = greater(a, b);
        if (static_cast<double>(t) > static_cast<double>(east) + 180.0)
            t = static_cast<float>(static_cast<double>(t) - 360.0);
        if (static_cast<double>(west) - 180.0 > static_cast<double>(t))
            t = static_cast<float>(static_cast<double>(t) + 360.0);
        if (west <= t && t < east) ++crossings;
    }
    return crossings % 2;
}

}  // extern "C"
