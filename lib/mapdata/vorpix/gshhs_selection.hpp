// The shoreline map object and its selection: the files it maps, one per
// resolution, longitudes brought onto one frame, and the polygons kept by
// kind, level and box as segments into the mapped files. Included once, by
// gshhsmap.cpp.
#ifndef VORPIX_GSHHS_SELECTION_HPP
#define VORPIX_GSHHS_SELECTION_HPP

#include "gshhsmap.h"

#include "byte_reader.hpp"
#include "gshhs_format.hpp"
#include "map_resolutions.hpp"

#include "datafile.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using vorpix::resolution_index;
using vorpix::resolution_names;

using vorpix::DecodeError;
using vorpix::Failure;

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

void append_segment(GSHHSMap *gs, const GSHHSHdr &hdr, gshhsmap_list_ *entry, char *data) {
    if (!gs->segs) {
        const long bytes = 2000L * static_cast<long>(sizeof(GSHHSMapSegment));
        auto *segs = static_cast<GSHHSMapSegment *>(std::malloc(static_cast<size_t>(bytes)));
        if (!segs) throw DecodeError::allocation("gshhs_select", "malloc", "gs->segs", bytes, false);
        gs->segs = segs;
        gs->segs_size = 2000;
    } else if (gs->nsegs + 1 > gs->segs_size) {
        const long bytes = 2L * gs->segs_size * static_cast<long>(sizeof(GSHHSMapSegment));
        // The capacity is an int: past that, growing fails like a refused allocation.
        if (gs->segs_size > INT_MAX / 2)
            throw DecodeError::allocation("gshhs_select", "realloc", "gmt->segs", bytes, false);
        const int capacity = gs->segs_size * 2;
        auto *segs = static_cast<GSHHSMapSegment *>(std::realloc(gs->segs, static_cast<size_t>(bytes)));
        if (!segs) throw DecodeError::allocation("gshhs_select", "realloc", "gmt->segs", bytes, false);
        gs->segs = segs;
        gs->segs_size = capacity;
    }
    GSHHSMapSegment &seg = gs->segs[gs->nsegs];
    seg.hdr = hdr;
    seg.type = entry->itype;
    seg.data = data;
    seg.map = entry;
    gs->nsegs += 1;
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

// Maps the file of a resolution into the object's cache.
void load_resolution(GSHHSMap *gs, int index) {
    char name[256];
    std::snprintf(name, sizeof name, "%s/%s%s", "maps/vorpix", "gshhs_", gshhsmap_names[index]);
    char *path = datafile(nullptr, name);
    if (!path) throw DecodeError::cannot_open("gshhs_select", "datafile", name);
    char *data = nullptr;
    const long size = mapfile(path, nullptr, &data);
    if (size < 0) {
        DecodeError error = DecodeError::cannot_open("gshhsmap_select", "mapfile", path);
        std::free(path);
        throw error;
    }
    if (size > INT_MAX) {
        DecodeError error = DecodeError::failed(Failure::bad_value, "gshhsmap_select",
                                                "%s: %ld bytes is too large for a shoreline file", path, size)
                                .about(path);
        std::free(path);
        throw error;
    }
    gs->streams[index] = data;
    gs->size[index] = static_cast<int>(size);
    std::free(gs->paths[index]);
    gs->paths[index] = path;
}

// Walks the polygon headers of an entry's file and keeps those that pass.
void scan_entry(GSHHSMap *gs, gshhsmap_list_ *entry, const char *path) {
    GSHHSHdr hdr;
    long position = 0;
    int polygon = 0;
    while (position < entry->size) {
        const long header_at = position;
        if (gshhs_unstuff_hdr_sized(&hdr, entry->stream, entry->size, &position) < 0)
            throw DecodeError::failed(Failure::truncated, "gshhsmap_select",
                                      "%s: polygon %d at byte %ld: truncated or corrupt file", path, polygon, header_at)
                .about(path);
        char *points = entry->stream + position;
        if (gshhs_skip_pts_sized(&hdr, entry->size, &position) < 0)
            throw DecodeError::failed(Failure::truncated, "gshhsmap_select",
                                      "%s: polygon %d (id %d) at byte %ld: truncated or corrupt file", path, polygon,
                                      hdr.id, header_at)
                .about(path);
        if (polygon_selected(gs, hdr, entry->levels_bitmap)) append_segment(gs, hdr, entry, points);
        ++polygon;
    }
}

}  // namespace

#endif
