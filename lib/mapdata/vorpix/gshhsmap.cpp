// Shoreline maps: GSHHS polygon files mapped once per resolution, polygons
// selected by kind, level and box, delivered clipped to the box. The file
// format is in gshhs_format.hpp, the map object and its selection in
// gshhs_selection.hpp, the delivery and even-odd kernels in
// gshhs_kernels.hpp; this file holds the entry points.
#include "gshhsmap.h"

#include "byte_reader.hpp"
#include "c_boundary.hpp"
#include "gshhs_format.hpp"
#include "gshhs_kernels.hpp"
#include "gshhs_selection.hpp"
#include "vector_paths.hpp"

#include "words.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using vorpix::DecodeError;
using vorpix::Failure;

extern "C" {

int gshhs_unstuff_hdr(GSHHSHdr **gshhshdr, char **stream) {
    return vorpix::guarded("gshhs_unstuff_hdr", -1, [&] {
        if (!*gshhshdr) {
            auto *hdr = static_cast<GSHHSHdr *>(std::malloc(sizeof(GSHHSHdr)));
            if (!hdr) throw DecodeError::allocation("gshhs_unstuff_hdr", "malloc", "GSHHSHdr");
            *gshhshdr = hdr;
        }
        auto in = vorpix::ByteReader::unbounded(*stream);
        decode_header(in, **gshhshdr);
        *stream += in.position();
        return 0;
    });
}

int gshhs_skip_pts(GSHHSHdr *gshhshdr, char **stream) {
    return vorpix::guarded("gshhs_skip_pts", -1, [&] {
        // n * 8 wraps as 32-bit signed arithmetic would; computed unsigned to keep it defined.
        const auto offset = static_cast<std::int32_t>(static_cast<std::uint32_t>(gshhshdr->n) * 8u);
        *stream += offset;
        return 0;
    });
}

int gshhs_unstuff_hdr_sized(GSHHSHdr *gshhshdr, const char *data, long size, long *position) {
    return vorpix::guarded("gshhs_unstuff_hdr_sized", -1, [&] {
        if (!gshhshdr || !data || !position || size < 0 || *position < 0 || *position > size)
            throw DecodeError::invalid_arguments("gshhs_unstuff_hdr_sized");
        vorpix::ByteReader in(reinterpret_cast<const unsigned char *>(data), static_cast<size_t>(size));
        in.seek(static_cast<size_t>(*position));
        if (!in.has(header_common_size))
            throw DecodeError::failed(Failure::truncated, "gshhs_unstuff_hdr_sized",
                                      "header at byte %ld needs at least %d bytes, %zu remain", *position,
                                      header_common_size, in.remaining());
        vorpix::ByteReader common = in.ahead(header_common_size);
        common.skip(10);
        const int version = common.u8();
        const int length = header_size_for_version(version);
        if (!in.has(static_cast<size_t>(length)))
            throw DecodeError::failed(Failure::truncated, "gshhs_unstuff_hdr_sized",
                                      "version %d header at byte %ld needs %d bytes, %zu remain", version, *position,
                                      length, in.remaining());
        decode_header(in, *gshhshdr);
        *position = static_cast<long>(in.position());
        return 0;
    });
}

int gshhs_skip_pts_sized(const GSHHSHdr *gshhshdr, long size, long *position) {
    return vorpix::guarded("gshhs_skip_pts_sized", -1, [&] {
        if (!gshhshdr || !position || size < 0 || *position < 0 || *position > size)
            throw DecodeError::invalid_arguments("gshhs_skip_pts_sized");
        if (gshhshdr->n < 0)
            throw DecodeError::failed(Failure::bad_value, "gshhs_skip_pts_sized", "negative point count %d at byte %ld",
                                      gshhshdr->n, *position);
        // No bytes are read: only the extent is checked against the size.
        const auto remaining = static_cast<size_t>(size - *position);
        const auto n = static_cast<size_t>(gshhshdr->n);
        if (n > remaining / point_size)
            throw DecodeError::failed(Failure::truncated, "gshhs_skip_pts_sized",
                                      "%d points at byte %ld need %lld bytes, %zu remain", gshhshdr->n, *position,
                                      static_cast<long long>(n) * point_size, remaining);
        *position += static_cast<long>(n * point_size);
        return 0;
    });
}

int gshhs_unstuff_pts_sized(const GSHHSHdr *gshhshdr, const char *data, long size, long *position, double *lon,
                            double *lat) {
    return vorpix::guarded("gshhs_unstuff_pts_sized", -1, [&] {
        // A polygon of no points needs no arrays.
        if (!gshhshdr || !data || !position || (gshhshdr->n > 0 && (!lon || !lat)) || size < 0 || *position < 0 ||
            *position > size)
            throw DecodeError::invalid_arguments("gshhs_unstuff_pts_sized");
        if (gshhshdr->n < 0)
            throw DecodeError::failed(Failure::bad_value, "gshhs_unstuff_pts_sized",
                                      "negative point count %d at byte %ld", gshhshdr->n, *position);
        vorpix::ByteReader in(reinterpret_cast<const unsigned char *>(data), static_cast<size_t>(size));
        in.seek(static_cast<size_t>(*position));
        const auto n = static_cast<size_t>(gshhshdr->n);
        if (!in.has(n, point_size))
            throw DecodeError::failed(Failure::truncated, "gshhs_unstuff_pts_sized",
                                      "%d points at byte %ld need %lld bytes, %zu remain", gshhshdr->n, *position,
                                      static_cast<long long>(n) * point_size, in.remaining());
        for (size_t i = 0; i < n; ++i) {
            lon[i] = in.be32s() * 1e-6;
            lat[i] = in.be32s() * 1e-6;
        }
        *position = static_cast<long>(in.position());
        return 0;
    });
}

int gshhsmap_open(void **handle) {
    return vorpix::guarded("gshhsmap_open", -1, [&] {
        if (!*handle) {
            auto *gs = static_cast<GSHHSMap *>(std::calloc(1, sizeof(GSHHSMap)));
            if (!gs) throw DecodeError::allocation("gshhsmap_open", "malloc", "gshhsmap");
            *handle = gs;
        }
        empty_selection(static_cast<GSHHSMap *>(*handle));
        return 0;
    });
}

int gshhsmap_close(void *handle) {
    return vorpix::guarded("gshhsmap_close", 0, [&] {
        auto *gs = static_cast<GSHHSMap *>(handle);
        if (!gs) return 0;
        std::free(gs->segs);
        for (char *path : gs->paths) std::free(path);
        std::free(gs);
        return 0;
    });
}

int gshhsmap_reset(void *handle) {
    return vorpix::guarded("gshhsmap_reset", -1, [&] {
        auto *gs = static_cast<GSHHSMap *>(handle);
        gs->iseg = 0;
        return gs->nsegs;
    });
}

int gshhsmap_use_data(void *handle, const char *resolution, const char *data, long size) {
    return vorpix::guarded("gshhsmap_use_data", -1, [&] {
        auto *gs = static_cast<GSHHSMap *>(handle);
        if (!gs || size < 0 || size > INT_MAX || (!data && size > 0))
            throw DecodeError::failed(Failure::invalid_argument, "gshhsmap_use_data",
                                      "%ld bytes cannot be a shoreline file", size);
        static char empty[1];
        const int index = resolution_index(resolution);
        gs->streams[index] = data ? const_cast<char *>(data) : empty;
        gs->size[index] = static_cast<int>(size);
        empty_selection(gs);
        return 0;
    });
}

int gshhsmap_select(void *handle, char *types, char *resolution, double bb_lonwest, double bb_loneast,
                    double bb_latsouth, double bb_latnorth, double bb_lonref, double bb_latref) {
    return vorpix::guarded("gshhsmap_select", -1, [&] {
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
        if (!types || splitlist(types, &argc, &argv) < 0)
            throw DecodeError::step_failed("gshhsmap_select", "splitlist");
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
                if (!gs->streams[index]) load_resolution(gs, index);
                entry.stream = gs->streams[index];
                entry.size = gs->size[index];
            }
            scan_entry(gs, &entry, gs->paths[index] ? gs->paths[index] : "shoreline file");
        }
        return gs->nsegs;
    });
}

const GSHHSHdr *gshhsmap_peek(void *handle) {
    return vorpix::guarded("gshhsmap_peek", static_cast<const GSHHSHdr *>(nullptr), [&] {
        auto *gs = static_cast<GSHHSMap *>(handle);
        return gs->iseg < gs->nsegs ? &gs->segs[gs->iseg].hdr : nullptr;
    });
}

int gshhsmap_nextseg(void *handle, int *npts, int *npts_size, float **lon, float **lat, char *type, int *level,
                     int *antipode) {
    return vorpix::guarded("gshhsmap_nextseg", -1, [&] {
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
#if defined(VORPIX_VECTOR_AVX2)
        const long j = vorpix::use_avx2() ? deliver_points_avx2(gs, points, n, npts_size, lon, lat)
                                          : deliver_points_plain(gs, points, n, npts_size, lon, lat);
#else
        const long j = deliver_points_plain(gs, points, n, npts_size, lon, lat);
#endif
        *npts = static_cast<int>(j);
        *level = seg.hdr.level;
        if (seg.type == 2) std::strcpy(type, "c");
        else std::strcpy(type, seg.hdr.level % 2 != 0 ? "l" : "w");
        *antipode = gshhsmap_inside_eo(static_cast<float>(gs->bb_lonanti), static_cast<float>(gs->bb_latanti), *npts,
                                       *lon, *lat);
        gs->iseg += 1;
        return 1;
    });
}

int gshhsmap_inside_eo(float lontest, float lattest, int npts, float *lon, float *lat) {
    return vorpix::guarded("gshhsmap_inside_eo", 0, [&] {
#if defined(VORPIX_VECTOR_AVX2)
        if (vorpix::use_avx2()) return inside_eo_avx2(lontest, lattest, npts, lon, lat);
#endif
        return inside_eo_plain(lontest, lattest, npts, lon, lat);
    });
}

}  // extern "C"
