// The shoreline kernels: delivery of a selected polygon, made continuous
// across the seam, shifted into the box's frame and clipped to it, and the
// even-odd test of a point against a polygon, each in a plain and a vector
// form that give the same bits. Included once, by gshhsmap.cpp.
#ifndef VORPIX_GSHHS_KERNELS_HPP
#define VORPIX_GSHHS_KERNELS_HPP

#include "gshhs_format.hpp"
#include "gshhs_selection.hpp"
#include "vector_paths.hpp"

#include "decode_error.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The output arrays grow from 100 points by doubling. n is the polygon's
// point count, which the messages show (times 4, as a float array's bytes).
void make_room(long needed, int n, int *npts_size, float **lon, float **lat) {
    using vorpix::DecodeError;
    const long shown = static_cast<long>(n) * 4;
    const bool fresh = !*lon || !*lat || *npts_size <= 0;
    if (!fresh && needed <= *npts_size) return;
    long capacity = fresh ? 100 : *npts_size;
    while (needed > capacity) capacity *= 2;
    if (capacity > INT_MAX) throw DecodeError::allocation("gshhs_nextseg", fresh ? "malloc" : "realloc", "lon", shown);
    const size_t bytes = static_cast<size_t>(capacity) * sizeof(float);
    if (fresh) {
        std::free(*lon);
        std::free(*lat);
        *lon = nullptr;
        *lat = nullptr;
        *lon = static_cast<float *>(std::malloc(bytes));
        if (!*lon) throw DecodeError::allocation("gshhs_nextseg", "malloc", "lon", shown);
        *lat = static_cast<float *>(std::malloc(bytes));
        if (!*lat) throw DecodeError::allocation("gshhs_nextseg", "malloc", "lat", shown);
    } else {
        auto *grown = static_cast<float *>(std::realloc(*lon, bytes));
        if (!grown) throw DecodeError::allocation("gshhs_nextseg", "realloc", "lon", shown);
        *lon = grown;
        grown = static_cast<float *>(std::realloc(*lat, bytes));
        if (!grown) throw DecodeError::allocation("gshhs_nextseg", "realloc", "lat", shown);
        *lat = grown;
    }
    *npts_size = static_cast<int>(capacity);
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

// Blocks of points and edges.
//
// Where the AVX2 path runs (vector_paths.hpp), delivery and the even-odd
// test take their input in blocks through GCC/Clang vector extensions;
// elsewhere they go point by point (compilers lower these 256-bit vectors
// poorly without AVX). A run of blocks (a chunk) is first done the
// fast way; checks gathered on the way prove that the point-by-point code
// would have done exactly the same, and when they fail the chunk is done
// again point by point from the state it started with. Fast and plain paths
// perform the same IEEE operations on the same values, so every bit delivered
// is the same either way.
#define VORPIX_INLINE [[gnu::always_inline]] inline

typedef double f64x4 __attribute__((vector_size(32)));
typedef long long i64x4 __attribute__((vector_size(32)));
typedef long long i64x2 __attribute__((vector_size(16)));
typedef float f32x4 __attribute__((vector_size(16)));
typedef float f32x8 __attribute__((vector_size(32)));
typedef int i32x4 __attribute__((vector_size(16)));
typedef int i32x8 __attribute__((vector_size(32)));
typedef unsigned char u8x16 __attribute__((vector_size(16)));

// Vectors cross no function boundary by value (that would depend on whether
// the caller has AVX): helpers take and give them through pointers, and
// widenings are written lane by lane, which compilers turn into one
// conversion instruction.
constexpr int chunk_points = 32;  // points per chunk, in blocks of 4
constexpr int chunk_edges = 64;   // edges per chunk, in blocks of 8

VORPIX_INLINE bool none(const i64x4 &m) {
    const i64x2 h = __builtin_shufflevector(m, m, 0, 1) | __builtin_shufflevector(m, m, 2, 3);
    return (h[0] | h[1]) == 0;
}

// Running least and greatest; the values compared are never NaN.
VORPIX_INLINE void take_lesser(f64x4 &acc, const f64x4 &v) { acc = v < acc ? v : acc; }
VORPIX_INLINE void take_greater(f64x4 &acc, const f64x4 &v) { acc = acc < v ? v : acc; }
VORPIX_INLINE double least(const f64x4 &v) {
    f64x4 a = v;
    take_lesser(a, __builtin_shufflevector(a, a, 2, 3, 0, 1));
    take_lesser(a, __builtin_shufflevector(a, a, 1, 0, 3, 2));
    return a[0];
}
VORPIX_INLINE double greatest(const f64x4 &v) {
    f64x4 a = v;
    take_greater(a, __builtin_shufflevector(a, a, 2, 3, 0, 1));
    take_greater(a, __builtin_shufflevector(a, a, 1, 0, 3, 2));
    return a[0];
}

// Four point records: longitudes and latitudes in degrees, as point_coordinate gives them.
VORPIX_INLINE void decode4(const unsigned char *p, f64x4 *x, f64x4 *y) {
    u8x16 a, b;
    std::memcpy(&a, p, sizeof a);
    std::memcpy(&b, p + sizeof a, sizeof b);
    // A byte shuffle per two records swaps the bytes and pairs the
    // longitudes and the latitudes; quadword unpacking gathers them.
    const i64x2 sa = (i64x2)__builtin_shufflevector(a, a, 3, 2, 1, 0, 11, 10, 9, 8, 7, 6, 5, 4, 15, 14, 13, 12);
    const i64x2 sb = (i64x2)__builtin_shufflevector(b, b, 3, 2, 1, 0, 11, 10, 9, 8, 7, 6, 5, 4, 15, 14, 13, 12);
    const i32x4 xs = (i32x4)__builtin_shufflevector(sa, sb, 0, 2), ys = (i32x4)__builtin_shufflevector(sa, sb, 1, 3);
    *x = f64x4{double(xs[0]), double(xs[1]), double(xs[2]), double(xs[3])} * 1e-6;
    *y = f64x4{double(ys[0]), double(ys[1]), double(ys[2]), double(ys[3])} * 1e-6;
}

// Continuous longitudes for a block: c = x + shift (shift -360, 0 or 360)
// for decoded longitudes x that follow the continuous longitudes in
// `before` (its last lane is the point before the block). Records in *bad
// the lanes where c is not what continue_longitude gives.
//
// Without a shift that holds when |c - p| <= 179 for the predecessor p: then
// p - 180 < c < p + 180 exactly, so neither loop of continue_longitude runs
// (p + 180 and p - 180 round towards c at most). With a shift it holds when
// p - 180 <= c <= p + 180 as computed and, for -360, x > p + 180 (one
// subtraction, then no more) or, for +360, x < p - 180 (no subtraction, one
// addition, then no more). Decoded longitudes are finite.
template <bool Shifted>
VORPIX_INLINE void continue4(const f64x4 &x, const f64x4 &before, double shift, f64x4 *c, f64x4 *bad) {
    if constexpr (!Shifted) {
        const f64x4 p = __builtin_shufflevector(before, x, 3, 4, 5, 6);
        const f64x4 step = (f64x4)((i64x4)(x - p) & 0x7fffffffffffffffLL);
        *bad = (f64x4)((i64x4)*bad | (step > 179.0));
        *c = x;
        return;
    }
    const f64x4 cs = x + shift;
    const f64x4 p = __builtin_shufflevector(before, cs, 3, 4, 5, 6);
    const f64x4 hi = p + 180, lo = p - 180;
    i64x4 ok = (cs >= lo) & (cs <= hi);
    ok &= shift < 0 ? (x > hi) : (x < lo);
    *bad = (f64x4)((i64x4)*bad | ~ok);
    *c = cs;
}

// The shift the next chunk most likely continues with, from a point's
// continuous longitude and its longitude as read.
inline double likely_shift(double continuous, double as_read) {
    const double turned = continuous - as_read;
    return turned > 180 ? 360 : turned < -180 ? -360 : 0;
}

// Pass 1: the whole-turn offset that brings the point nearest the frame's
// centre into the frame; the first of equally near points wins.
struct NearestToCentre {
    double frame_west, frame_east, centre;
    // Longitudes from which the frame is reached by at most one turn: from
    // below west - 360 (one addition reaches west), from above east + 360.
    // 359 rather than 360 keeps the bounds inside whatever their rounding.
    double reach_low, reach_high;
    double best = 1e20, wrap = 0;

    explicit NearestToCentre(double west)
        : frame_west(west),
          frame_east(west + 360),
          centre(west + 180),
          reach_low(west - 359),
          reach_high(frame_east + 359) {}

    void take(double x) {
        const double v = lower_by_turns(raise_by_turns(x, frame_west), frame_east);
        const double distance = std::fabs(v - centre);
        if (distance < best) {
            best = distance;
            wrap = v - x;
        }
    }

    // The frame offset as raise_by_turns and lower_by_turns find it, for x
    // between reach_low and reach_high: x below the frame's west goes up a
    // turn and lands at or above it (x + 360 >= west exactly), x above its
    // east goes down a turn and lands at or below it; neither loop runs again.
    VORPIX_INLINE void in_frame(const f64x4 &x, f64x4 *v) const {
        *v = x < frame_west ? x + 360 : (x > frame_east ? x - 360 : x);
    }

    // A chunk of 32 points from p, after the continuous longitude previous.
    // False (nothing changed) when the plain code must do it.
    VORPIX_INLINE bool take_chunk(const unsigned char *p, double &previous, double shift) {
        return shift == 0 ? take_chunk<false>(p, previous, shift) : take_chunk<true>(p, previous, shift);
    }

    template <bool Shifted>
    VORPIX_INLINE bool take_chunk(const unsigned char *p, double &previous, double shift) {
        f64x4 before = {previous, previous, previous, previous};
        f64x4 bad = {}, low = before, high = before, nearest = {best, best, best, best};
        double distances[chunk_points];
        for (int b = 0; b < chunk_points / 4; ++b) {
            f64x4 x, y, c;
            decode4(p + 32 * b, &x, &y);
            continue4<Shifted>(x, before, shift, &c, &bad);
            take_lesser(low, c), take_greater(high, c);
            f64x4 v;
            in_frame(c, &v);
            const f64x4 distance = (f64x4)((i64x4)(v - centre) & 0x7fffffffffffffffLL);
            take_lesser(nearest, distance);
            std::memcpy(distances + 4 * b, &distance, sizeof distance);
            before = c;
        }
        if (!none((i64x4)bad) || !(least(low) >= reach_low) || !(greatest(high) <= reach_high)) return false;
        const double least_distance = least(nearest);
        if (least_distance < best) {
            // Point by point, the last change is made by the first point at
            // the chunk's least distance.
            int k = 0;
            while (distances[k] != least_distance) ++k;
            best = least_distance;
            const double x = point_coordinate(p + 8 * k) + shift;
            const double v = x < frame_west ? x + 360 : (x > frame_east ? x - 360 : x);
            wrap = v - x;
        }
        previous = before[3];
        return true;
    }
};

// Pass 2: the clipping state and the output arrays.
struct Delivery {
    Box box;
    int n;
    int *npts_size;
    float **lon, **lat;
    float *out_lon, *out_lat;
    long capacity;
    long j = 0;
    double last_lon = 0, last_lat = 0;
    int last_zone = 4;
    // A delivery on trial never grows the arrays: it stops, abandoned, at
    // the first point that would need more room.
    bool trial, abandoned = false;
    // The least and greatest continuous longitude (the wrap not added) of
    // the points taken so far.
    double c_low = 1e300, c_high = -1e300;

    Delivery(const Box &b, int count, int *size, float **lon_array, float **lat_array, bool on_trial)
        : box(b),
          n(count),
          npts_size(size),
          lon(lon_array),
          lat(lat_array),
          out_lon(*lon_array),
          out_lat(*lat_array),
          capacity(*lon_array && *lat_array ? *size : 0),
          trial(on_trial) {}

    void extend(double c) {
        c_low = c < c_low ? c : c_low;
        c_high = c_high < c ? c : c_high;
    }

    // One point with its continuous longitude c, the wrap to add, and its
    // latitude y. Throws when the arrays cannot grow.
    void take(bool first, double c, double wrap, double y) {
        extend(c);
        double w = c + wrap;
        const int zone = box.zone(w, y);
        int plot_this = 1, plot_last = 0;
        if (!first) {
            if (zone == 4 && last_zone != 4) plot_last = 1;
            if (zone != 4) {
                if (last_zone == 4) {
                    last_lon = w;
                    last_lat = y;
                    plot_last = 1;
                }
                if (zone == last_zone) plot_this = 0;
                else box.move_onto(zone, w, y);
            }
        }
        const long needed = j + plot_this + plot_last;
        if (needed > capacity || !out_lon) {
            if (trial) {
                abandoned = true;
                return;
            }
            make_room(needed, n, npts_size, lon, lat);
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

    // A chunk of 32 points from p (not the polygon's first). Two cases go
    // without the point-by-point code: all inside the box after an inside
    // point (each is delivered as read: nothing moves, and the arrays have
    // room, so stores made before the checks are kept or overwritten), and
    // all in the outside zone of the point before (each is dropped). The
    // zone of every point follows from the least and greatest latitude,
    // longitude and longitude from 0 to 360 in the chunk, as Box::zone
    // compares each. False (nothing kept) when the plain code must do it.
    VORPIX_INLINE bool take_chunk(const unsigned char *p, double &previous, double shift, double wrap) {
        if (last_zone == 4) {
            if (j + chunk_points > capacity) return false;
            return shift == 0 ? take_chunk<true, false>(p, previous, shift, wrap)
                              : take_chunk<true, true>(p, previous, shift, wrap);
        }
        return shift == 0 ? take_chunk<false, false>(p, previous, shift, wrap)
                          : take_chunk<false, true>(p, previous, shift, wrap);
    }

    template <bool Inside, bool Shifted>
    VORPIX_INLINE bool take_chunk(const unsigned char *p, double &previous, double shift, double wrap) {
        f64x4 before = {previous, previous, previous, previous};
        f64x4 bad = {}, w = {}, y = {};
        f64x4 w_low, w_high, lon360_low, lon360_high, y_low, y_high, c_lo = before, c_hi = before;
        for (int b = 0; b < chunk_points / 4; ++b) {
            f64x4 x, c;
            decode4(p + 32 * b, &x, &y);
            continue4<Shifted>(x, before, shift, &c, &bad);
            before = c;
            take_lesser(c_lo, c), take_greater(c_hi, c);
            w = c + wrap;
            const f64x4 lon360 = w < 0 ? w + 360 : w;
            if (b == 0) {
                w_low = w_high = w, lon360_low = lon360_high = lon360, y_low = y_high = y;
            } else {
                take_lesser(w_low, w), take_greater(w_high, w);
                take_lesser(lon360_low, lon360), take_greater(lon360_high, lon360);
                take_lesser(y_low, y), take_greater(y_high, y);
            }
            if constexpr (Inside) {
                const f32x4 lons = __builtin_convertvector(w, f32x4), lats = __builtin_convertvector(y, f32x4);
                std::memcpy(out_lon + j + 4 * b, &lons, sizeof lons);
                std::memcpy(out_lat + j + 4 * b, &lats, sizeof lats);
            }
        }
        if (!none((i64x4)bad)) return false;
        const double wl = least(w_low), wh = greatest(w_high), ll = least(lon360_low), lh = greatest(lon360_high);
        const double yl = least(y_low), yh = greatest(y_high);
        bool row_ok, column_ok;
        switch (last_zone / 3) {
        case 0: row_ok = yh < box.south; break;
        case 1: row_ok = yl >= box.south && yh <= box.north; break;
        default: row_ok = yl >= box.south && yl > box.north; break;
        }
        switch (last_zone % 3) {
        case 0: column_ok = box.west > lh; break;
        case 1: column_ok = ll >= box.west && wh <= box.east; break;
        default: column_ok = ll >= box.west && wl > box.east; break;
        }
        if (!row_ok || !column_ok) return false;
        if constexpr (Inside) j += chunk_points;
        extend(least(c_lo));
        extend(greatest(c_hi));
        last_lon = w[3];
        last_lat = y[3];
        previous = before[3];
        return true;
    }
};

// Pass 1: the wrap, from every point of the polygon.
template <bool Vector>
VORPIX_INLINE double nearest_wrap(const GSHHSMap *gs, const unsigned char *points, int n) {
    NearestToCentre nearest(gs->bb_lonwrap);
    double previous = point_coordinate(points);
    nearest.take(previous);
    double shift = 0;
    int i = 1;
    for (; i + chunk_points <= n; i += chunk_points) {
        const unsigned char *p = points + 8L * i;
        if constexpr (Vector) {
            if (nearest.take_chunk(p, previous, shift)) continue;
        }
        for (int k = 0; k < chunk_points; ++k) {
            previous = continue_longitude(point_coordinate(p + 8 * k), previous);
            nearest.take(previous);
        }
        shift = likely_shift(previous, point_coordinate(p + 8 * (chunk_points - 1)));
    }
    for (; i < n; ++i) {
        previous = continue_longitude(point_coordinate(points + 8L * i), previous);
        nearest.take(previous);
    }
    return nearest.wrap;
}

// The wrap that pass 1 would find, known without it when every point of the
// polygon, at continuous longitudes from low to high, gets the same offset:
// 0 when all lie in the frame; 360 when all lie below it and within a turn
// of it, -360 when all lie above it likewise. Each such point's offset is
// (c + 360) - c, or (c - 360) - c, computed, which is exactly 360 or -360
// for c from -720 to 151, or from -151 to 720: from +-180 to +-720 the inner
// sum is exact, and nearer zero it is off by at most half a unit in the last
// place of 360, which rounds back to 360 (evenly at a tie). False when the
// points may get different offsets.
inline bool wrap_from_extent(double frame_west, double low, double high, double *wrap) {
    const double frame_east = frame_west + 360;
    if (low >= frame_west && high <= frame_east) *wrap = 0;
    else if (high < frame_west && low >= frame_west - 359 && low >= -720 && high <= 151) *wrap = 360;
    else if (low > frame_east && high <= frame_east + 359 && low >= -151 && high <= 720) *wrap = -360;
    else return false;
    return true;
}

// Pass 2: delivers the polygon with the wrap, replacing runs outside the
// box by points on its edges. False when a delivery on trial is abandoned.
template <bool Vector>
VORPIX_INLINE bool deliver_with(Delivery &out, const unsigned char *points, int n, double wrap) {
    double previous = point_coordinate(points);
    out.take(true, previous, wrap, point_coordinate(points + 4));
    if (out.abandoned) return false;
    double shift = 0;
    int i = 1;
    for (; i + chunk_points <= n; i += chunk_points) {
        const unsigned char *p = points + 8L * i;
        if constexpr (Vector) {
            if (out.take_chunk(p, previous, shift, wrap)) continue;
        }
        for (int k = 0; k < chunk_points; ++k) {
            previous = continue_longitude(point_coordinate(p + 8 * k), previous);
            out.take(false, previous, wrap, point_coordinate(p + 8 * k + 4));
        }
        if (out.abandoned) return false;
        shift = likely_shift(previous, point_coordinate(p + 8 * (chunk_points - 1)));
    }
    for (; i < n; ++i) {
        const unsigned char *p = points + 8L * i;
        previous = continue_longitude(point_coordinate(p), previous);
        out.take(false, previous, wrap, point_coordinate(p + 4));
    }
    return !out.abandoned;
}

// One delivery; the point count delivered. Chunks go the vector way with
// Vector, otherwise point by point.
//
// The wrap is that of the point nearest the frame's centre, which pass 1
// finds; but nearly always every point of a polygon gets the same offset,
// that of its first point. So the polygon is first delivered on trial with
// that offset, and the extent of its continuous longitudes, found on the
// way, shows whether the offset was the right one; pass 1 runs only when
// the extent cannot tell, and the delivery again only when it was wrong.
template <bool Vector>
VORPIX_INLINE long deliver_points(const GSHHSMap *gs, const unsigned char *points, int n, int *npts_size, float **lon,
                                  float **lat) {
    const Box box{gs->bb_lonwest, gs->bb_loneast, gs->bb_latsouth, gs->bb_latnorth};
    NearestToCentre first(gs->bb_lonwrap);
    first.take(point_coordinate(points));
    const double guess = first.wrap;
    double wrap;
    {
        Delivery trial(box, n, npts_size, lon, lat, true);
        if (deliver_with<Vector>(trial, points, n, guess)) {
            if (!wrap_from_extent(gs->bb_lonwrap, trial.c_low, trial.c_high, &wrap))
                wrap = nearest_wrap<Vector>(gs, points, n);
            if (std::bit_cast<std::uint64_t>(wrap) == std::bit_cast<std::uint64_t>(guess)) return trial.j;
        } else {
            wrap = nearest_wrap<Vector>(gs, points, n);
        }
    }
    Delivery out(box, n, npts_size, lon, lat, false);
    deliver_with<Vector>(out, points, n, wrap);
    return out.j;
}

// The even-odd test's edge from (x1, y1) to (x2, y2): 1 if it meets the test
// point's meridian north of it.
inline int crosses(float lontest, float lattest, float x1, float y1, float x2, float y2) {
    float t = lontest;
    // Wholly south of the test point: the longitudes do not matter.
    if (lattest > y1 && lattest > y2) return 0;
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
    const float west = a < b ? a : b, east = a < b ? b : a;
    if (static_cast<double>(t) > static_cast<double>(east) + 180.0)
        t = static_cast<float>(static_cast<double>(t) - 360.0);
    if (static_cast<double>(west) - 180.0 > static_cast<double>(t))
        t = static_cast<float>(static_cast<double>(t) + 360.0);
    return west <= t && t < east;
}

// Eight edges at once, from vertex k to k + 1 for the eight k from lon, lat.
// The crossing longitude of a rising or a falling edge is one formula with
// the ends given in either order, as crosses() writes it for each case.
struct EdgeBlock {
    f32x8 x1, x2, y1, y2;
    i32x8 south, rising, falling;

    VORPIX_INLINE EdgeBlock(const float *lon, const float *lat, const f32x8 &lat_t) {
        std::memcpy(&x1, lon, sizeof x1);
        std::memcpy(&x2, lon + 1, sizeof x2);
        std::memcpy(&y1, lat, sizeof y1);
        std::memcpy(&y2, lat + 1, sizeof y2);
        south = (lat_t > y1) & (lat_t > y2);
        const i32x8 both = (y1 >= lat_t) & (y2 >= lat_t);
        rising = ~both & (y1 < lat_t);
        falling = ~both & ~(y1 < lat_t);
    }

    // The span's ends, west and east, for the edge ending at x2 (already taken the short way).
    VORPIX_INLINE void span(const f32x8 &x2s, const f32x8 &lat_t, f32x8 *west, f32x8 *east) const {
        const f32x8 p = falling ? x2s : x1, q = falling ? y2 : y1, r = falling ? x1 : x2s, s = falling ? y1 : y2;
        const f32x8 m = p + (lat_t - q) * (r - p) / (s - q);
        const f32x8 a = rising ? m : x1, b = falling ? m : x2s;
        *west = a < b ? a : b;
        *east = a < b ? b : a;
    }
};

// The edges of a block as crosses() takes them, every branch a select
// between values computed on every lane with the same operations (a division
// by zero or a NaN on a lane whose value is not selected changes nothing).
// Rounding a double to float and back is how a float variable takes a
// double's value.
VORPIX_INLINE void crossings_exact(const EdgeBlock &e, float lontest, const f32x8 &lat_t, i32x8 *hits) {
    f32x4 x2f[2];
    for (int h = 0; h < 2; ++h) {
        const int o = 4 * h;
        const f64x4 a = {e.x1[o], e.x1[o + 1], e.x1[o + 2], e.x1[o + 3]};
        f64x4 b = {e.x2[o], e.x2[o + 1], e.x2[o + 2], e.x2[o + 3]};
        const f32x4 up = __builtin_convertvector(b + 360.0, f32x4);
        b = a - 180.0 > b ? f64x4{up[0], up[1], up[2], up[3]} : b;
        const f32x4 down = __builtin_convertvector(b - 360.0, f32x4);
        b = b > a + 180.0 ? f64x4{down[0], down[1], down[2], down[3]} : b;
        x2f[h] = __builtin_convertvector(b, f32x4);  // exact: b holds a float's value
    }
    const f32x8 x2 = __builtin_shufflevector(x2f[0], x2f[1], 0, 1, 2, 3, 4, 5, 6, 7);
    f32x8 west, east;
    e.span(x2, lat_t, &west, &east);
    f32x4 tf[2];
    for (int h = 0; h < 2; ++h) {
        const int o = 4 * h;
        const f64x4 w = {west[o], west[o + 1], west[o + 2], west[o + 3]};
        const f64x4 ea = {east[o], east[o + 1], east[o + 2], east[o + 3]};
        const double t = lontest;
        f64x4 v = {t, t, t, t};
        const f32x4 down = __builtin_convertvector(v - 360.0, f32x4);
        v = v > ea + 180.0 ? f64x4{down[0], down[1], down[2], down[3]} : v;
        const f32x4 up = __builtin_convertvector(v + 360.0, f32x4);
        v = w - 180.0 > v ? f64x4{up[0], up[1], up[2], up[3]} : v;
        tf[h] = __builtin_convertvector(v, f32x4);  // exact: v holds a float's value
    }
    const f32x8 t = __builtin_shufflevector(tf[0], tf[1], 0, 1, 2, 3, 4, 5, 6, 7);
    *hits = ~e.south & (west <= t) & (t < east);
}

// Crossings of nblocks blocks of eight edges from lon, lat (the vertex after
// the last edge included).
//
// Edges wholly south of the test point count nothing. For the others the
// double-precision turns of crosses() change nothing when, in single
// precision, |x2 - x1| <= 179 and t - east <= 179 and west - t <= 179: the
// exact differences are then below 180, so x1 - 180 < x2 < x1 + 180 and
// west - 180 < t < east + 180 exactly, and rounding the double bounds cannot
// carry them past x2 or t. A NaN fails these tests. Chunks where they fail
// are counted again with every turn made in double precision.
[[maybe_unused]] VORPIX_INLINE int crossings_chunk(float lontest, float lattest, const float *lon, const float *lat,
                                                   int nblocks) {
    const f32x8 lat_t = {lattest, lattest, lattest, lattest, lattest, lattest, lattest, lattest};
    const f32x8 t = {lontest, lontest, lontest, lontest, lontest, lontest, lontest, lontest};
    i32x8 north = {};
    for (int b = 0; b < nblocks; ++b) {
        f32x8 y1, y2;
        std::memcpy(&y1, lat + 8 * b, sizeof y1);
        std::memcpy(&y2, lat + 8 * b + 1, sizeof y2);
        north |= ~((lat_t > y1) & (lat_t > y2));
    }
    if (none((i64x4)north)) return 0;
    i32x8 count = {}, bad = {};
    for (int b = 0; b < nblocks; ++b) {
        const EdgeBlock e(lon + 8 * b, lat + 8 * b, lat_t);
        f32x8 west, east;
        e.span(e.x2, lat_t, &west, &east);
        const f32x8 dx = e.x2 - e.x1;
        const i32x8 near = (((f32x8)((i32x8)dx & 0x7fffffff)) <= 179.0f) & ((t - east) <= 179.0f) &
                           ((west - t) <= 179.0f);
        bad |= ~e.south & ~near;
        count -= ~e.south & (west <= t) & (t < east);
    }
    if (!none((i64x4)bad)) {
        count = i32x8{};
        for (int b = 0; b < nblocks; ++b) {
            i32x8 hits;
            crossings_exact(EdgeBlock(lon + 8 * b, lat + 8 * b, lat_t), lontest, lat_t, &hits);
            count -= hits;
        }
    }
    const i32x4 sum = __builtin_shufflevector(count, count, 0, 1, 2, 3) +
                      __builtin_shufflevector(count, count, 4, 5, 6, 7);
    return sum[0] + sum[1] + sum[2] + sum[3];
}

template <bool Vector>
VORPIX_INLINE int inside_eo_blocks(float lontest, float lattest, int npts, const float *lon, const float *lat) {
    int crossings = 0;
    int i = 0;
    if constexpr (Vector) {
        // Edges from vertex i on, while the vertex after the last is in the polygon.
        for (; i + chunk_edges < npts; i += chunk_edges)
            crossings += crossings_chunk(lontest, lattest, lon + i, lat + i, chunk_edges / 8);
        for (; i + 8 < npts; i += 8) crossings += crossings_chunk(lontest, lattest, lon + i, lat + i, 1);
    }
    for (; i < npts; ++i) {
        const int next = i + 1 < npts ? i + 1 : 0;
        crossings += crosses(lontest, lattest, lon[i], lat[i], lon[next], lat[next]);
    }
    return crossings % 2;
}

#if defined(VORPIX_VECTOR_AVX2)
[[gnu::target("avx2")]] long deliver_points_avx2(const GSHHSMap *gs, const unsigned char *points, int n, int *npts_size,
                                                 float **lon, float **lat) {
    return deliver_points<true>(gs, points, n, npts_size, lon, lat);
}
[[gnu::target("avx2")]] int inside_eo_avx2(float lontest, float lattest, int npts, const float *lon, const float *lat) {
    return inside_eo_blocks<true>(lontest, lattest, npts, lon, lat);
}
#endif

long deliver_points_plain(const GSHHSMap *gs, const unsigned char *points, int n, int *npts_size, float **lon,
                          float **lat) {
    return deliver_points<false>(gs, points, n, npts_size, lon, lat);
}
int inside_eo_plain(float lontest, float lattest, int npts, const float *lon, const float *lat) {
    return inside_eo_blocks<false>(lontest, lattest, npts, lon, lat);
}

}  // namespace

#endif
