// Releasing what the ESRI decoders hand out: shape structures with their
// arrays, shapefile records and lists, dBase descriptors and records copy.
// Header-only, for C++ callers (the library itself, the tool, tests).
#ifndef VORPIX_ESRI_RELEASE_HPP
#define VORPIX_ESRI_RELEASE_HPP

#include "esri.h"

#include "arrays.h"

#include <cstdlib>

namespace vorpix::esri {

// A shape structure of the given shape type and the arrays it points to.
inline void release_shape(int shape_type, void *shape) {
    if (!shape) return;
    switch (shape_type) {
    case 8: std::free(static_cast<ESRISHPRECMPOINTStr *>(shape)->points); break;
    case 28: {
        auto *s = static_cast<ESRISHPRECMPOINTMStr *>(shape);
        std::free(s->points);
        std::free(s->marray);
        break;
    }
    case 18: {
        auto *s = static_cast<ESRISHPRECMPOINTZStr *>(shape);
        std::free(s->points);
        std::free(s->zarray);
        std::free(s->marray);
        break;
    }
    case 3:
    case 5: {
        auto *s = static_cast<ESRISHPRECPOLYGStr *>(shape);
        std::free(s->parts);
        std::free(s->points);
        break;
    }
    case 23:
    case 25: {
        auto *s = static_cast<ESRISHPRECPOLYGMStr *>(shape);
        std::free(s->parts);
        std::free(s->points);
        std::free(s->marray);
        break;
    }
    case 13:
    case 15: {
        auto *s = static_cast<ESRISHPRECPOLYGZStr *>(shape);
        std::free(s->parts);
        std::free(s->points);
        std::free(s->zarray);
        std::free(s->marray);
        break;
    }
    case 31: {
        auto *s = static_cast<ESRISHPRECMULTIPAStr *>(shape);
        std::free(s->parts);
        std::free(s->parttypes);
        std::free(s->points);
        std::free(s->zarray);
        std::free(s->marray);
        break;
    }
    default: break;
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
        for (int i = 0; i < cnttbl(shp->records); ++i) release_record(static_cast<ESRISHPRECStr *>(gettbl(shp->records, i)));
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
