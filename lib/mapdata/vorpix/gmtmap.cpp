// Border and river maps: binned netCDF classic files loaded once per kind
// and resolution, segments selected bin by bin, points decoded in place.
#include "netcdf.h"

#include "byte_reader.hpp"
#include "c_boundary.hpp"
#include "map_resolutions.hpp"
#include "vector_paths.hpp"

#include "datafile.h"
#include "redblack.h"
#include "words.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#if defined(VORPIX_VECTOR_AVX2)
#include <immintrin.h>
#elif defined(VORPIX_VECTOR_SSE2)
#include <emmintrin.h>
#endif

namespace {

using vorpix::resolution_index;
using vorpix::resolution_names;

struct map_list_ {
    void *map;
    char type[4];
    int itype;
    unsigned int levels_bitmap;
};

// A selected segment: its bin's corner, and where its points start in the
// file's point arrays (checked against them when selected).
struct NETCDFMapSegment {
    double lon0;
    double lat0;
    const NETCDFMapBorder *map;
    int pts0;
    unsigned short npts;
    short type;
    short level;
};

using vorpix::ByteReader;
using vorpix::DecodeError;
using vorpix::Failure;

// The name the binding's messages carry, whoever asked for it.
constexpr const char *border_function = "gmtmap_process_border_hdr";

// A bound file's arrays, each a reader over exactly its values, so that no id
// read from the file can reach outside them.
struct Arrays {
    static constexpr const unsigned char *none = nullptr;
    ByteReader seg0_bin{none, 0}, nseg_bin{none, 0};
    ByteReader npts_seg{none, 0}, levl_seg{none, 0}, pts0_seg{none, 0};
    ByteReader lon_pts{none, 0}, lat_pts{none, 0};
    bool segments_inside = false;  // every segment's points lie in the point arrays

    long long bins() const { return count(std::min(seg0_bin.size() / 4, nseg_bin.size() / 2)); }
    long long segments() const {
        return count(std::min({npts_seg.size() / 2, levl_seg.size() / 2, pts0_seg.size() / 4}));
    }
    long long points() const { return count(std::min(lon_pts.size() / 2, lat_pts.size() / 2)); }

private:
    static long long count(size_t n) { return static_cast<long long>(n); }
};

// The values of an array, by their index; the caller keeps the index within it.
inline std::int16_t short_at(ByteReader array, size_t i) {
    array.seek(2 * i);
    return array.be16s();
}
inline std::uint16_t ushort_at(ByteReader array, size_t i) {
    array.seek(2 * i);
    return array.be16();
}
inline std::int32_t int_at(ByteReader array, size_t i) {
    array.seek(4 * i);
    return array.be32s();
}

constexpr int file_count = 10;

#define VORPIX_INLINE [[gnu::always_inline]] inline

struct GMTMap {
    char resolution[64];
    int nmaps;
    map_list_ map_list[4];
    int nsegs;
    int segs_size;
    int iseg;
    NETCDFMapSegment *segs;
    NETCDFMapBorder map_border[file_count];
    Arrays arrays[file_count];
};

struct GMTDef {
    const char *name;
    const char *dim;
    int type;
    int offset;
    ByteReader Arrays::*reader;  // none for a scalar
};

constexpr int bind_int = 4;
constexpr int bind_short_array = 23;
constexpr int bind_int_array = 24;

const GMTDef border_defs[] = {
    {"N_bins_in_360_longitude_range", "Dimension_of_scalar", bind_int, offsetof(NETCDFMapBorder, nbinlon), nullptr},
    {"N_bins_in_180_degree_latitude_range", "Dimension_of_scalar", bind_int, offsetof(NETCDFMapBorder, nbinlat),
     nullptr},
    {"N_bins_in_file", "Dimension_of_scalar", bind_int, offsetof(NETCDFMapBorder, nbin), nullptr},
    {"Id_of_first_segment_in_a_bin", "Dimension_of_bin_arrays", bind_int_array, offsetof(NETCDFMapBorder, seg0_bin),
     &Arrays::seg0_bin},
    {"N_segments_in_a_bin", "Dimension_of_bin_arrays", bind_short_array, offsetof(NETCDFMapBorder, nseg_bin),
     &Arrays::nseg_bin},
    {"N_points_for_a_segment", "Dimension_of_segment_arrays", bind_short_array, offsetof(NETCDFMapBorder, npts_seg),
     &Arrays::npts_seg},
    {"Hierarchial_level_of_a_segment", "Dimension_of_segment_arrays", bind_short_array,
     offsetof(NETCDFMapBorder, levl_seg), &Arrays::levl_seg},
    {"Id_of_first_point_in_a_segment", "Dimension_of_segment_arrays", bind_int_array,
     offsetof(NETCDFMapBorder, pts0_seg), &Arrays::pts0_seg},
    {"Relative_longitude_from_SW_corner_of_bin", "Dimension_of_point_arrays", bind_short_array,
     offsetof(NETCDFMapBorder, lon_pts), &Arrays::lon_pts},
    {"Relative_latitude_from_SW_corner_of_bin", "Dimension_of_point_arrays", bind_short_array,
     offsetof(NETCDFMapBorder, lat_pts), &Arrays::lat_pts},
};
constexpr int border_defs_n = sizeof border_defs / sizeof border_defs[0];
static_assert(border_defs_n == 10);

const char *const gmtmap_names_borders[file_count] = {
    "border_c.cdf", "border_l.cdf", "border_i.cdf", "border_h.cdf", "border_f.cdf",
    "river_c.cdf",  "river_l.cdf",  "river_i.cdf",  "river_h.cdf",  "river_f.cdf",
};

// A relative coordinate spans its bin in 65535 steps, not 65536: 65535 is
// exactly the north or east edge.
constexpr double point_scale = 1.0 / 65535.0;

int first_file_of_kind(char letter) { return letter == 'p' ? 0 : (letter == 'r' ? 5 : -1); }

// Truncation toward zero as a cast would do it, clamped so that huge or
// non-finite box edges cannot overflow.
long long trunc_clamped(double v) {
    constexpr double limit = 4.0e15;
    if (std::isnan(v)) return 0;
    if (v > limit) return static_cast<long long>(limit);
    if (v < -limit) return -static_cast<long long>(limit);
    return static_cast<long long>(v);
}

void empty_selection(GMTMap *gmt) {
    for (auto &entry : gmt->map_list) entry.map = nullptr;
    gmt->nmaps = 0;
    gmt->nsegs = 0;
    gmt->iseg = 0;
}

// In a binned file each bin's segments follow those of the bins before it,
// and each segment's points those of the segments before it, so that every
// segment and point is delivered at most once per selection. A file whose
// ranges overlap or run backwards could make a small file select billions of
// points; it is refused, naming the first bin or segment out of order.
// Returns whether every segment's points lie within the point arrays, which
// spares the selection its check of each segment.
bool check_ranges(const NETCDFMapBorder *map, const Arrays &arrays) {
    // The first of count ranges that starts before an earlier one ends, or -1;
    // inside tells whether all ranges lie within limit. Empty ranges and
    // ranges outside the file (refused when selected) are passed over.
    const auto out_of_order = [](long long count, long long limit, auto first_of, auto length_of, long long &first,
                                 long long &n, long long &end, bool &inside) {
        end = 0;
        inside = true;
        for (long long i = 0; i < count; ++i) {
            n = length_of(static_cast<size_t>(i));
            first = first_of(static_cast<size_t>(i));
            if (first < 0 || first + n > limit) {
                inside = false;
                continue;
            }
            if (n <= 0) continue;
            if (first < end) return i;
            end = first + n;
        }
        return -1LL;
    };
    long long first = 0, n = 0, end = 0;
    bool inside = false;
    const long long bin = out_of_order(
        std::min<long long>(arrays.bins(), map->nbin), arrays.segments(),
        [&](size_t i) { return static_cast<long long>(int_at(arrays.seg0_bin, i)); },
        [&](size_t i) { return static_cast<long long>(short_at(arrays.nseg_bin, i)); }, first, n, end, inside);
    if (bin >= 0)
        throw DecodeError::failed(Failure::bad_value, "gmtmap_process_border_hdr",
                                  "bin %lld: segments %lld to %lld overlap or precede those of an earlier bin, which "
                                  "end at %lld",
                                  bin, first, first + n - 1, end - 1);
    const long long segment = out_of_order(
        arrays.segments(), arrays.points(),
        [&](size_t j) { return static_cast<long long>(int_at(arrays.pts0_seg, j)); },
        [&](size_t j) { return static_cast<long long>(ushort_at(arrays.npts_seg, j)); }, first, n, end, inside);
    if (segment >= 0)
        throw DecodeError::failed(Failure::bad_value, "gmtmap_process_border_hdr",
                                  "segment %lld: points %lld to %lld overlap or precede those of an earlier segment, "
                                  "which end at %lld",
                                  segment, first, first + n - 1, end - 1);
    return inside;
}

// Binds map->hdr; with size >= 0 also checks every bound array against the
// file's size and gives the arrays' readers. Returns 0.
int bind_border(NETCDFMapBorder *map, long size, Arrays *arrays) {
    NETCDFHdr *hdr = map->hdr;
    Arrays bound;
    for (int r = 0; r < border_defs_n; ++r) {
        const GMTDef &def = border_defs[r];
        auto *var = hdr && hdr->vars_array ? static_cast<NETCDFVar *>(getarr(hdr->vars_array, def.name)) : nullptr;
        if (!var)
            throw DecodeError::failed(Failure::bad_value, border_function,
                                      "Cannot find \"%s\" variable in netcdf header", def.name);
        if (!var->fixed)
            throw DecodeError::failed(Failure::bad_value, border_function,
                                      "netcdf \"%s\" variable is a record variable, must be a non-record variable "
                                      "(fixed)",
                                      def.name);
        if (var->ndims != 1)
            throw DecodeError::failed(Failure::bad_value, border_function,
                                      "netcdf \"%s\" variable ndims = %d, must be 1", def.name, var->ndims);
        if (std::strcmp(var->dims[0]->name, def.dim) != 0)
            throw DecodeError::failed(Failure::bad_value, border_function,
                                      "netcdf \"%s\" variable dim = \"%s\", must be \"%s\"", def.name,
                                      var->dims[0]->name, def.dim);
        const int required = def.type == bind_short_array ? NETCDF_SHORT : NETCDF_INT;
        if (var->type != required)
            throw DecodeError::failed(Failure::bad_value, border_function,
                                      "netcdf \"%s\" variable type = %d, must be %d", def.name, var->type, required);
        const long long length = var->dims[0]->value;
        const long long item = required == NETCDF_SHORT ? 2 : 4;
        if (size >= 0 && (var->begin < 0 || length < 1 || length * item > size - var->begin))
            throw DecodeError::failed(Failure::truncated, border_function,
                                      "netcdf \"%s\" variable of %lld values at byte %d lies outside the %ld bytes of "
                                      "the file",
                                      def.name, length, var->begin, size);
        // A trusted file's array reaches as far as any id read from it.
        ByteReader file = size >= 0 ? ByteReader(hdr->stream, static_cast<size_t>(size))
                                    : ByteReader::unbounded(hdr->stream);
        file.seek(static_cast<size_t>(var->begin));
        ByteReader array = size >= 0 ? file.take(static_cast<size_t>(length * item)) : file;
        auto *field = reinterpret_cast<unsigned char *>(map) + def.offset;
        if (def.type == bind_int) {
            const int value = array.be32s();
            std::memcpy(field, &value, sizeof value);
        } else {
            unsigned char *at = hdr->stream + var->begin;
            std::memcpy(field, &at, sizeof at);
            bound.*def.reader = array;
        }
    }
    // Guards the divisions below and the bin arithmetic of the selection.
    if (map->nbinlon <= 0 || map->nbinlat <= 0 || map->nbin < 0)
        throw DecodeError::failed(Failure::bad_value, border_function,
                                  "a file of %d bins by %d bins (%d in the file) cannot be binned; the counts must be "
                                  "positive",
                                  map->nbinlon, map->nbinlat, map->nbin);
    if (size >= 0) {
        if (map->nbin > bound.bins())
            throw DecodeError::failed(Failure::bad_value, border_function,
                                      "\"N_bins_in_file\" = %d, but the bin arrays hold %lld bins", map->nbin,
                                      bound.bins());
        bound.segments_inside = check_ranges(map, bound);
        if (arrays) *arrays = bound;
    }
    map->lon_binsize = 360.0 / map->nbinlon;
    map->lat_binsize = 180.0 / map->nbinlat;
    return 0;
}

void release_header(NETCDFMapBorder *mapb) {
    netcdf_clear_header(mapb->hdr);
    std::free(mapb->hdr);
    mapb->hdr = nullptr;
}

// Decodes and binds size bytes as the file of map_border[index]. Returns 0.
int attach_file(GMTMap *gmt, int index, const unsigned char *bytes, long size, const char *what, const char *function) {
    NETCDFMapBorder *mapb = &gmt->map_border[index];
    NETCDFHdr *hdr = nullptr;
    if (netcdf_unstuff_header_sized(bytes, size, &hdr) < 0) {
        netcdf_clear_header(hdr);
        std::free(hdr);
        throw DecodeError::step_failed(function, "netcdf_unstuff_header", 0, what);
    }
    if (mapb->hdr) release_header(mapb);
    mapb->hdr = hdr;
    Arrays arrays;
    try {
        bind_border(mapb, size, &arrays);
    } catch (DecodeError &error) {
        error.then(function, "gmtmap_process_border_hdr", 0, what);
        release_header(mapb);
        throw;
    }
    gmt->arrays[index] = arrays;
    return 0;
}

void load_file(GMTMap *gmt, int index) {
    NETCDFMapBorder *mapb = &gmt->map_border[index];
    char name[256];
    std::snprintf(name, sizeof name, "%s/%s%s", "maps/vorpix", "binned_", mapb->name);
    const std::unique_ptr<char, decltype(&std::free)> path(datafile(nullptr, name), &std::free);
    if (!path) throw DecodeError::cannot_open("gmtmap_select", "datafile", name);
    char *bytes = nullptr;
    const long size = mapfile(path.get(), nullptr, &bytes);
    if (size < 0) throw DecodeError::cannot_open("gmtmap_select", "mapfile", path.get());
    attach_file(gmt, index, reinterpret_cast<unsigned char *>(bytes), size, path.get(), "gmtmap_select");
}

// Room for extra more segments; after a failed growth the list is emptied,
// so that no count ever refers to an absent array.
void make_room(GMTMap *gmt, int extra) {
    if (!gmt->segs) {
        gmt->segs_size = 2000;
        gmt->nsegs = 0;
        const long bytes = 2000L * static_cast<long>(sizeof(NETCDFMapSegment));
        gmt->segs = static_cast<NETCDFMapSegment *>(std::malloc(static_cast<size_t>(bytes)));
        if (!gmt->segs) throw DecodeError::allocation("gmtmap", "malloc", "gmt->segs", bytes, false);
    }
    if (static_cast<long long>(gmt->nsegs) + extra <= gmt->segs_size) return;
    long long capacity = gmt->segs_size;
    while (gmt->nsegs + static_cast<long long>(extra) > capacity) capacity *= 2;
    const long long bytes = capacity * static_cast<long long>(sizeof(NETCDFMapSegment));
    void *grown = capacity > INT_MAX ? nullptr : std::realloc(gmt->segs, static_cast<size_t>(bytes));
    if (!grown) {
        std::free(gmt->segs);
        gmt->segs = nullptr;
        gmt->segs_size = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
        gmt->nsegs = 0;
        throw DecodeError::allocation("gmtmap_select", "realloc", "gmt->segs", static_cast<long>(bytes));
    }
    gmt->segs = static_cast<NETCDFMapSegment *>(grown);
    gmt->segs_size = static_cast<int>(capacity);
}

// level0: also take the segments of level 0, for which a mask has no bit.
void select_entry(GMTMap *gmt, map_list_ &entry, int index, double bb_lonwest, double bb_loneast, double bb_latsouth,
                  double bb_latnorth, bool level0) {
    NETCDFMapBorder *mapb = &gmt->map_border[index];
    const Arrays &arrays = gmt->arrays[index];
    const long long segments = arrays.segments(), points = arrays.points();
    const double dlon = mapb->lon_binsize;
    const double dlat = mapb->lat_binsize;
    const long long iw = trunc_clamped(std::floor(bb_lonwest / dlon) * dlon);
    const long long ie = trunc_clamped(std::ceil(bb_loneast / dlon) * dlon);
    const long long is = 90 - trunc_clamped(std::ceil((90.0 - bb_latsouth) / dlat) * dlat);
    const long long in = 90 - trunc_clamped(std::floor((90.0 - bb_latnorth) / dlat) * dlat);
    const unsigned int bitmap = entry.levels_bitmap;
    const auto type = static_cast<short>(entry.itype);
    const bool inside = arrays.segments_inside;
    const int nbin = mapb->nbin, nbinlon = mapb->nbinlon;
    // Bins run west to east along each row; most hold no segment, and those
    // are passed over before their place is worked out. A row's place is
    // worked out once.
    int placed_row = -1;
    bool row_inside = false;
    double lat0 = 0;
    // Binding checked that the bin arrays hold every bin.
    const unsigned char *nseg_bin = ByteReader(arrays.nseg_bin).bytes(2 * static_cast<size_t>(nbin));
    for (int ibin = 0, row = 0, col = 0; ibin < nbin; ++ibin, ++col) {
        if (col == nbinlon) col = 0, ++row;
        const int nseg = static_cast<std::int16_t>(
            vorpix::BlockReader<2>(nseg_bin + 2 * static_cast<size_t>(ibin)).word<0, std::uint16_t, true>());
        if (nseg <= 0) continue;
        if (row != placed_row) {
            placed_row = row;
            const long long south = 90 - trunc_clamped(dlat * (row + 1));
            row_inside = south >= is && south < in;
            lat0 = 90.0 - (row + 1) * dlat;
        }
        if (!row_inside) continue;
        long long west = trunc_clamped(dlon * col) - 360;
        // The same as adding 360 while west < iw, in one step.
        if (west < iw) west += (iw - west + 359) / 360 * 360;
        if (west >= ie) continue;
        const double lon0 = col * dlon;
        const int seg0 = int_at(arrays.seg0_bin, static_cast<size_t>(ibin));
        if (seg0 < 0 || seg0 + static_cast<long long>(nseg) > segments)
            throw DecodeError::failed(Failure::bad_value, "gmtmap_select",
                                      "%s: bin %d: segments %d to %lld lie outside the %lld segments of the file",
                                      mapb->name, ibin, seg0, seg0 + static_cast<long long>(nseg) - 1, segments);
        make_room(gmt, nseg);
        // The bin's segments lie within all three segment arrays.
        const auto run = [&](ByteReader array, size_t item) {
            array.seek(static_cast<size_t>(seg0) * item);
            return array.bytes(static_cast<size_t>(nseg) * item);
        };
        const unsigned char *levels = run(arrays.levl_seg, 2), *counts = run(arrays.npts_seg, 2),
                            *firsts = run(arrays.pts0_seg, 4);
        // Every segment's record is written and kept only when selected, so
        // that a mask that keeps some segments and drops others costs no
        // mispredicted branch. The list and the count stay in locals: stores
        // to the records could otherwise be taken to change them.
        NETCDFMapSegment *const segs = gmt->segs;
        int nsegs = gmt->nsegs;
        for (int k = 0; k < nseg; ++k) {
            const int level = static_cast<std::int16_t>(
                vorpix::BlockReader<2>(levels + 2 * k).word<0, std::uint16_t, true>());
            const auto bit = static_cast<unsigned int>(level - 1);
            const bool selected = bit < 32 ? ((bitmap >> bit) & 1u) != 0 : level == 0 && level0 && bitmap != 0;
            const std::uint16_t npts = vorpix::BlockReader<2>(counts + 2 * k).word<0, std::uint16_t, true>();
            const int pts0 = vorpix::BlockReader<4>(firsts + 4 * k).be32s<0>();
            if (!inside && selected && (pts0 < 0 || pts0 + static_cast<long long>(npts) > points)) [[unlikely]] {
                gmt->nsegs = nsegs;
                throw DecodeError::failed(Failure::bad_value, "gmtmap_select",
                                          "%s: segment %zu of bin %d: points %d to %lld lie outside the %lld points "
                                          "of the file",
                                          mapb->name, static_cast<size_t>(seg0) + static_cast<size_t>(k), ibin, pts0,
                                          pts0 + static_cast<long long>(npts) - 1, points);
            }
            segs[nsegs] = NETCDFMapSegment{lon0, lat0, mapb, pts0, npts, type, static_cast<short>(level)};
            nsegs += selected;
        }
        gmt->nsegs = nsegs;
    }
}

// As the C library's atoi reads it (strtol narrowed to int), minus the
// undefined behaviour on overflow: "4294967295" gives all 32 bits.
unsigned int parse_levels(const char *word) {
    if (std::strlen(word) < 3) return 0;
    const long value = std::strtol(word + 2, nullptr, 10);
    return static_cast<unsigned int>(static_cast<int>(value));
}

[[gnu::noinline]] void grow_output(int n, int *npts_size, float **lon, float **lat) {
    const long bytes = static_cast<long>(n) * static_cast<long>(sizeof(float));
    if (!*lon || !*lat) {
        std::free(*lon);
        std::free(*lat);
        *lon = nullptr;
        *lat = nullptr;
        *lon = static_cast<float *>(std::malloc(static_cast<size_t>(bytes)));
        if (!*lon) throw DecodeError::allocation("gmtmap_nextseg", "malloc", "lon", bytes);
        *lat = static_cast<float *>(std::malloc(static_cast<size_t>(bytes)));
        if (!*lat) throw DecodeError::allocation("gmtmap_nextseg", "malloc", "lat", bytes);
        *npts_size = n;
    } else if (n > *npts_size) {
        auto *grown = static_cast<float *>(std::realloc(*lon, static_cast<size_t>(bytes)));
        if (!grown) {
            std::free(*lon);
            *lon = nullptr;
            throw DecodeError::allocation("gmtmap_nextseg", "realloc", "lon", bytes);
        }
        *lon = grown;
        grown = static_cast<float *>(std::realloc(*lat, static_cast<size_t>(bytes)));
        if (!grown) {
            std::free(*lat);
            *lat = nullptr;
            throw DecodeError::allocation("gmtmap_nextseg", "realloc", "lat", bytes);
        }
        *lat = grown;
        *npts_size = n;
    }
}

// Relative coordinates, 16-bit big-endian from p, as base + v * scale: the
// value at index i, written to out[i].
inline float relative_coordinate(const unsigned char *p, size_t i, double base, double scale) {
    const std::uint16_t v = vorpix::BlockReader<2>(p + 2 * i).word<0, std::uint16_t, true>();
    return static_cast<float>(base + v * scale);
}

// A run of relative coordinates, 16-bit big-endian from p, turned into
// base + v * scale and stored in out.
struct Relative {
    const unsigned char *p;
    double base, scale;
    float *out;
};

// Four values from index i, stored at the indices they were read from.
template <bool Vector>
VORPIX_INLINE void decode4(const Relative &r, size_t i) {
#if defined(VORPIX_VECTOR_SSE2)
    if constexpr (Vector) {
        std::uint64_t bits;
        vorpix::BlockReader<8>(r.p + 2 * i).copy<0, 8>(&bits);
        __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(&bits));
        v = _mm_unpacklo_epi16(_mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8)), _mm_setzero_si128());
        const __m128d b = _mm_set1_pd(r.base), s = _mm_set1_pd(r.scale);
        const __m128d lo = _mm_add_pd(b, _mm_mul_pd(_mm_cvtepi32_pd(v), s));
        const __m128d hi = _mm_add_pd(b, _mm_mul_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(v, 0xee)), s));
        _mm_storeu_ps(r.out + i, _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi)));
        return;
    }
#endif
    for (size_t k = 0; k < 4; ++k) r.out[i + k] = relative_coordinate(r.p, i + k, r.base, r.scale);
}

// n > 0 points of both coordinates. Segments are mostly a few points long,
// of lengths that vary from one to the next: below four points one value at
// a time, which costs less than a block; from four on blocks of four, the
// last one overlapping the one before, both coordinates in the same loop,
// which keeps the branches few and alike from one segment to the next.
// Overlapping stores write equal values.
template <bool Vector>
VORPIX_INLINE void decode_relative(const Relative &lon, const Relative &lat, int n) {
    const auto count = static_cast<size_t>(n);
    if (count < 4) {
        for (size_t k = 0; k < count; ++k) {
            lon.out[k] = relative_coordinate(lon.p, k, lon.base, lon.scale);
            lat.out[k] = relative_coordinate(lat.p, k, lat.base, lat.scale);
        }
        return;
    }
    for (size_t i = 0; i + 4 < count; i += 4) {
        decode4<Vector>(lon, i);
        decode4<Vector>(lat, i);
    }
    decode4<Vector>(lon, count - 4);
    decode4<Vector>(lat, count - 4);
}

#if defined(VORPIX_VECTOR_AVX2)
// Eight values from index i.
[[gnu::target("avx2")]] VORPIX_INLINE void decode8_avx2(const Relative &r, size_t i) {
    const __m128i swap = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    __m128i raw;
    vorpix::BlockReader<16>(r.p + 2 * i).copy<0, 16>(&raw);
    const __m128i v = _mm_shuffle_epi8(raw, swap);
    const __m256i w = _mm256_cvtepu16_epi32(v);
    const __m256d b = _mm256_set1_pd(r.base), s = _mm256_set1_pd(r.scale);
    const __m256d lo = _mm256_add_pd(b, _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(w)), s));
    const __m256d hi = _mm256_add_pd(b, _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(w, 1)), s));
    _mm256_storeu_ps(r.out + i, _mm256_set_m128(_mm256_cvtpd_ps(hi), _mm256_cvtpd_ps(lo)));
}

// As decode_relative, from eight points on, in blocks of eight. Both runs
// are given field by field, so that they travel in registers.
[[gnu::target("avx2")]] void decode_relative_avx2(const unsigned char *lon_p, const unsigned char *lat_p, double lon0,
                                                  double lat0, double sclon, double sclat, float *lon_out,
                                                  float *lat_out, int n) {
    const Relative lon{lon_p, lon0, sclon, lon_out}, lat{lat_p, lat0, sclat, lat_out};
    const auto count = static_cast<size_t>(n);
    for (size_t i = 0; i + 8 < count; i += 8) {
        decode8_avx2(lon, i);
        decode8_avx2(lat, i);
    }
    decode8_avx2(lon, count - 8);
    decode8_avx2(lat, count - 8);
}
#endif

// n > 0 points on the widest path that the processor allows.
inline void decode_points(const Relative &lon, const Relative &lat, int n) {
    const vorpix::VectorLevel level = vorpix::vector_level();
#if defined(VORPIX_VECTOR_AVX2)
    if (n >= 8 && level >= vorpix::VectorLevel::avx2)
        return decode_relative_avx2(lon.p, lat.p, lon.base, lat.base, lon.scale, lat.scale, lon.out, lat.out, n);
#endif
    if (level >= vorpix::VectorLevel::sse2) decode_relative<true>(lon, lat, n);
    else decode_relative<false>(lon, lat, n);
}

}  // namespace

extern "C" {

int gmtmap_open(void **handle) {
    return vorpix::guarded("gmtmap_open", -1, [&] {
        if (!*handle) {
            auto *gmt = static_cast<GMTMap *>(std::calloc(1, sizeof(GMTMap)));
            if (!gmt) throw DecodeError::allocation("gmtmap_open", "malloc", "gmtmap");
            for (int i = 0; i < file_count; ++i) {
                std::snprintf(gmt->map_border[i].name, sizeof gmt->map_border[i].name, "%s", gmtmap_names_borders[i]);
                gmt->arrays[i] = Arrays{};
            }
            *handle = gmt;
        }
        empty_selection(static_cast<GMTMap *>(*handle));
        return 0;
    });
}

int gmtmap_close(void *handle) {
    return vorpix::guarded("gmtmap_close", 0, [&] {
        auto *gmt = static_cast<GMTMap *>(handle);
        if (!gmt) return 0;
        for (NETCDFMapBorder &mapb : gmt->map_border)
            if (mapb.hdr) release_header(&mapb);
        std::free(gmt->segs);
        std::free(gmt);
        return 0;
    });
}

int gmtmap_process_border_hdr(NETCDFMapBorder *map) {
    return vorpix::guarded("gmtmap_process_border_hdr", -1, [&] { return map ? bind_border(map, -1, nullptr) : -1; });
}

int gmtmap_process_border_hdr_sized(NETCDFMapBorder *map, long size) {
    return vorpix::guarded("gmtmap_process_border_hdr_sized", -1, [&] {
        if (!map || size < 0) throw DecodeError::invalid_arguments("gmtmap_process_border_hdr_sized", size);
        return bind_border(map, size, nullptr);
    });
}

int gmtmap_use_data(void *handle, char kind, const char *resolution, const unsigned char *data, long size) {
    return vorpix::guarded("gmtmap_use_data", -1, [&] {
        auto *gmt = static_cast<GMTMap *>(handle);
        const int first = first_file_of_kind(kind);
        if (!gmt || first < 0 || size < 0 || (!data && size > 0))
            throw DecodeError::failed(Failure::invalid_argument, "gmtmap_use_data",
                                      "kind '%c' with %ld bytes cannot be a border or river file", kind ? kind : '?',
                                      size);
        const int index = first + resolution_index(resolution);
        empty_selection(gmt);  // the selected segments may come from the file replaced
        return attach_file(gmt, index, data, size, gmt->map_border[index].name, "gmtmap_use_data");
    });
}

}  // extern "C"

namespace {

int select_kinds(void *handle, char *types, const char *resolution, double bb_lonwest, double bb_loneast,
                 double bb_latsouth, double bb_latnorth, bool level0) {
    auto *gmt = static_cast<GMTMap *>(handle);
    empty_selection(gmt);
    int argc = 0;
    char **argv = nullptr;
    if (splitlist(types, &argc, &argv) < 0) throw DecodeError::step_failed("gmtmap_select", "splitlist");
    int nmaps = 0;
    for (int i = 0; i < argc && nmaps < 4; ++i) {
        const char letter = argv[i][0];
        const int first = first_file_of_kind(letter);
        if (first < 0) continue;
        map_list_ &entry = gmt->map_list[nmaps++];
        entry.type[0] = letter;
        entry.type[1] = '\0';
        entry.itype = letter == 'p' ? 4 : 3;
        entry.map = &gmt->map_border[first];
        entry.levels_bitmap = parse_levels(argv[i]);
    }
    freeargs(argc, argv);
    gmt->nmaps = nmaps;
    if (nmaps == 0) return 0;
    const int res = resolution_index(resolution);
    std::snprintf(gmt->resolution, sizeof gmt->resolution, "%s", resolution_names[res]);
    for (int m = 0; m < nmaps; ++m) {
        map_list_ &entry = gmt->map_list[m];
        const int index = static_cast<int>(static_cast<NETCDFMapBorder *>(entry.map) - gmt->map_border) + res;
        entry.map = &gmt->map_border[index];
        if (!gmt->map_border[index].hdr) load_file(gmt, index);
        select_entry(gmt, entry, index, bb_lonwest, bb_loneast, bb_latsouth, bb_latnorth, level0);
    }
    return gmt->nsegs;
}

}  // namespace

extern "C" {

int gmtmap_select(void *handle, char *types, char *resolution, double bb_lonwest, double bb_loneast, double bb_latsouth,
                  double bb_latnorth) {
    return vorpix::guarded("gmtmap_select", -1, [&] {
        return select_kinds(handle, types, resolution, bb_lonwest, bb_loneast, bb_latsouth, bb_latnorth, false);
    });
}

int gmtmap_select_with_level0(void *handle, char *types, char *resolution, double bb_lonwest, double bb_loneast,
                              double bb_latsouth, double bb_latnorth) {
    return vorpix::guarded("gmtmap_select", -1, [&] {
        return select_kinds(handle, types, resolution, bb_lonwest, bb_loneast, bb_latsouth, bb_latnorth, true);
    });
}

int gmtmap_nextseg(void *handle, int *npts, int *npts_size, float **lon, float **lat, char *type, int *level) {
    return vorpix::guarded("gmtmap_nextseg", -1, [&] {
        auto *gmt = static_cast<GMTMap *>(handle);
        if (gmt->iseg >= gmt->nsegs || !gmt->segs) return 0;
        const NETCDFMapSegment &seg = gmt->segs[gmt->iseg];
        const int n = seg.npts;
        if (n == 0) {
            *npts = 0;
            gmt->iseg += 1;
            return 1;
        }
        if (!*lon || !*lat || n > *npts_size) grow_output(n, npts_size, lon, lat);
        *npts = n;
        const NETCDFMapBorder *mapb = seg.map;
        const double sclon = point_scale * mapb->lon_binsize;
        const double sclat = point_scale * mapb->lat_binsize;
        // The selection vouched for both runs of n points; the kernels read
        // them in blocks.
        const size_t first = 2 * static_cast<size_t>(seg.pts0), bytes = 2 * static_cast<size_t>(n);
        const Relative lon_run{vorpix::ByteReader(mapb->lon_pts + first, bytes).bytes(bytes), seg.lon0, sclon, *lon};
        const Relative lat_run{vorpix::ByteReader(mapb->lat_pts + first, bytes).bytes(bytes), seg.lat0, sclat, *lat};
        decode_points(lon_run, lat_run, n);
        *level = seg.level;
        type[0] = seg.type == 4 ? 'p' : 'r';
        type[1] = '\0';
        gmt->iseg += 1;
        return 1;
    });
}

}  // extern "C"
