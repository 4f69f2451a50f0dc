// Reading and releasing what the ESRI decoders hand out: one view of a shape
// structure of any type, and the release of shape structures with their
// arrays, shapefile records and lists, dBase descriptors and records copy.
// Header-only, for C++ callers (the library itself, the tool, tests).
#ifndef VORPIX_ESRI_RELEASE_HPP
#define VORPIX_ESRI_RELEASE_HPP

#include "esri.h"

#include "esri_types.hpp"

#include "arrays.h"

#include <cstdlib>

namespace vorpix::esri {

// What a shape structure holds, whatever its type, seen in one form: the
// members that only some types have are null or 0 for the others. A single
// point (types 1, 11 and 21) is one point, its Z and M arrays of one inside
// the structure itself.
struct ShapeView {
    bool single = false;                  // a single point: nothing here is a block of its own
    const ESRISHPBOXStr *bbox = nullptr;  // null for a single point
    ESRISHPPOINTStr point{};              // a single point's x and y
    int numparts = 0, numpoints = 0;
    int *parts = nullptr, *parttypes = nullptr;
    ESRISHPPOINTStr *points = nullptr;  // null for a single point
    double *zarray = nullptr, *marray = nullptr;

    // The numpoints points, a single point's included.
    const ESRISHPPOINTStr *first_point() const { return single ? &point : points; }
};

template <typename S>
ShapeView view_of(S *s) {
    ShapeView v;
    if constexpr (requires { s->points; }) {
        v.bbox = &s->bbox;
        v.numpoints = s->numpoints;
        v.points = s->points;
    } else {
        v.single = true;
        v.numpoints = 1;
        v.point = {s->x, s->y};
    }
    if constexpr (requires { s->parts; }) {
        v.numparts = s->numparts;
        v.parts = s->parts;
    }
    if constexpr (requires { s->parttypes; }) v.parttypes = s->parttypes;
    if constexpr (requires { s->zarray; }) v.zarray = s->zarray;
    else if constexpr (requires { s->z; }) v.zarray = &s->z;
    if constexpr (requires { s->marray; }) v.marray = s->marray;
    else if constexpr (requires { s->m; }) v.marray = &s->m;
    return v;
}

// The view of a shape structure of the given shape type; empty for a Null
// shape, an unknown type or no structure.
inline ShapeView view_shape(int shape_type, void *shape) {
    if (!shape) return {};
    switch (shape_type) {
    case shape_point: return view_of(static_cast<ESRISHPRECPOINTStr *>(shape));
    case shape_point_z: return view_of(static_cast<ESRISHPRECPOINTZStr *>(shape));
    case shape_point_m: return view_of(static_cast<ESRISHPRECPOINTMStr *>(shape));
    case shape_multipoint: return view_of(static_cast<ESRISHPRECMPOINTStr *>(shape));
    case shape_multipoint_z: return view_of(static_cast<ESRISHPRECMPOINTZStr *>(shape));
    case shape_multipoint_m: return view_of(static_cast<ESRISHPRECMPOINTMStr *>(shape));
    case shape_polyline:
    case shape_polygon: return view_of(static_cast<ESRISHPRECPOLYGStr *>(shape));
    case shape_polyline_z:
    case shape_polygon_z: return view_of(static_cast<ESRISHPRECPOLYGZStr *>(shape));
    case shape_polyline_m:
    case shape_polygon_m: return view_of(static_cast<ESRISHPRECPOLYGMStr *>(shape));
    case shape_multipatch: return view_of(static_cast<ESRISHPRECMULTIPAStr *>(shape));
    default: return {};
    }
}

// A shape structure of the given shape type and the arrays it points to.
inline void release_shape(int shape_type, void *shape) {
    if (!shape) return;
    const ShapeView v = view_shape(shape_type, shape);
    if (!v.single) {
        std::free(v.parts);
        std::free(v.parttypes);
        std::free(v.points);
        std::free(v.zarray);
        std::free(v.marray);
    }
    std::free(shape);
}

inline void release_record(ESRISHPRECStr *record) {
    if (!record) return;
    release_shape(record->shape_type, record->record);
    std::free(record);
}

// Everything under a decoded shapefile; the structure itself stays, zeroed.
inline void release_shapefile(ESRISHPStr *shp) {
    if (!shp) return;
    if (shp->records) {
        for (int i = 0; i < cnttbl(shp->records); ++i)
            release_record(static_cast<ESRISHPRECStr *>(gettbl(shp->records, i)));
        freetbl(shp->records, nullptr);
    }
    *shp = ESRISHPStr{};
}

// Everything under a decoded dBase file; the structure itself stays, zeroed.
inline void release_dbase_file(ESRIDBASEStr *dbf) {
    if (!dbf) return;
    if (dbf->field_descriptors) freetbl(dbf->field_descriptors, std::free);
    std::free(dbf->records);
    *dbf = ESRIDBASEStr{};
}

}  // namespace vorpix::esri

#endif
