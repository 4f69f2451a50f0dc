// The ESRI listings: one generic printer walks a structure's table and
// prints each field by name with its first few values; the whole shapefile,
// the whole dBase file and the field-properties block have printers of their
// own, which their sets name. Included once, by esri_strdefs.cpp.
#ifndef VORPIX_ESRI_PRINTER_HPP
#define VORPIX_ESRI_PRINTER_HPP

#include "esri.h"
#include "esri_tables.hpp"

#include "arrays.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace {

// The registry's lookup, with the engine.
const ESRIStrdefs *find_set(int str_type);

// ---------------------------------------------------------------------------
// Listings

constexpr size_t prefix_size = 512;

void print_values(FILE *out, const ESRIStrdef &row, const unsigned char *base) {
    const unsigned char *p = base + row.offset;
    size_t count;
    if (row.number >= 1) {
        count = static_cast<size_t>(row.number);
    } else {
        int n;
        std::memcpy(&n, base + row.offset_number, sizeof n);
        std::memcpy(&p, base + row.offset, sizeof p);
        count = row.type >= ESRI_INT && row.type <= ESRI_BOX && n > 0 && p ? static_cast<size_t>(n) : 0;
    }
    const bool names = std::strcmp(row.name, "shape_type") == 0;
    size_t limit;
    switch (row.type) {
    case ESRI_INT:
    case ESRI_DOUBLE: limit = 10; break;
    case ESRI_POINT: limit = 4; break;
    case ESRI_BOX: limit = 2; break;
    case ESRI_CHAR: limit = 64; break;
    case ESRI_UCHAR: limit = 32; break;
    case ESRI_SHORT: limit = 20; break;
    default:
        limit = 0;
        count = 0;
        break;
    }
    const size_t shown = std::min(count, limit);
    if (row.type == ESRI_CHAR) {
        const char *text = reinterpret_cast<const char *>(p);
        std::fprintf(out, "%.*s", static_cast<int>(strnlen(text, shown)), text);
    } else {
        for (size_t i = 0; i < shown; ++i) {
            if (i) std::fprintf(out, ", ");
            switch (row.type) {
            case ESRI_INT: {
                int v;
                std::memcpy(&v, p + 4 * i, sizeof v);
                if (names) std::fprintf(out, "%s", esri_get_shapetype(v));
                else std::fprintf(out, "%d", v);
                break;
            }
            case ESRI_DOUBLE: {
                double v;
                std::memcpy(&v, p + 8 * i, sizeof v);
                std::fprintf(out, "%f", v);
                break;
            }
            case ESRI_POINT: {
                ESRISHPPOINTStr v;
                std::memcpy(&v, p + sizeof v * i, sizeof v);
                std::fprintf(out, "(%f, %f)", v.x, v.y);
                break;
            }
            case ESRI_BOX: {
                ESRISHPBOXStr v;
                std::memcpy(&v, p + sizeof v * i, sizeof v);
                std::fprintf(out, "(%f, %f, %f, %f)", v.xmin, v.ymin, v.xmax, v.ymax);
                break;
            }
            case ESRI_UCHAR: std::fprintf(out, "%d", p[i]); break;
            case ESRI_SHORT: {
                short v;
                std::memcpy(&v, p + 2 * i, sizeof v);
                if (names) std::fprintf(out, "%s", esri_get_shapetype(v));
                else std::fprintf(out, "%d", v);
                break;
            }
            default: break;
            }
        }
    }
    std::fputs(shown < count ? ", ...\n" : "\n", out);
}

// The stream of the printer that calls a set's print function, which has no
// parameter for it; null outside such a call.
thread_local FILE *set_print_stream = nullptr;

}  // namespace

static void esri_print_generic(FILE *out, char *prefix, int str_type, void *record, int recno) {
    const ESRIStrdefs *set = find_set(str_type);
    if (!set || !record) return;
    if (!set->strdef) {
        if (!set->print) return;
        struct Scope {
            FILE *outer = set_print_stream;
            ~Scope() { set_print_stream = outer; }
        } scope;
        set_print_stream = out;
        set->print(prefix, record, recno);
        return;
    }
    const char *name = esri_get_shapetype(str_type);
    if (recno >= 0) std::fprintf(out, "%s%s(%d):\n", prefix, name, recno);
    else std::fprintf(out, "%s%s:\n", prefix, name);
    char inner[prefix_size];
    std::snprintf(inner, sizeof inner, "%s  ", prefix);
    const auto *base = static_cast<const unsigned char *>(record);
    for (int i = 0; i < set->strdef_size; ++i) {
        std::fprintf(out, "%s%s=", inner, set->strdef[i].name);
        print_values(out, set->strdef[i], base);
    }
}

static void print_shapefile_record(FILE *out, char *prefix, ESRISHPRECStr *rec, int recno) {
    char inner[prefix_size];
    if (recno >= 0) {
        std::fprintf(out, "%sRecord(%d):\n", prefix, recno);
        std::snprintf(inner, sizeof inner, "%s  ", prefix);
    } else {
        std::snprintf(inner, sizeof inner, "%s", prefix);
    }
    std::fprintf(out, "%soffset=%lu\n", inner, rec->offset);
    esri_print_generic(out, inner, str_record_header, &rec->hdr, -1);
    esri_print_generic(out, inner, rec->shape_type, rec->record, recno);
}

static void print_shapefile(FILE *out, char *prefix, ESRISHPStr *shp) {
    esri_print_generic(out, prefix, str_file_header, &shp->hdr, -1);
    for (int i = 0; i < cnttbl(shp->records); ++i)
        print_shapefile_record(out, prefix, static_cast<ESRISHPRECStr *>(gettbl(shp->records, i)), i);
}

static void esri_print_dbase_field_properties(char *, void *, int) {}

static void print_dbase_file(FILE *out, char *prefix, ESRIDBASEStr *dbf) {
    const bool level5 = dbf->level == 5;
    esri_print_generic(out, prefix, level5 ? str_dbase_header5 : str_dbase_header7, &dbf->hdr, -1);
    for (int i = 0; i < cnttbl(dbf->field_descriptors); ++i)
        esri_print_generic(out, prefix, level5 ? str_field_descriptor5 : str_field_descriptor7,
                           gettbl(dbf->field_descriptors, i), i);
    if (!level5) esri_print_dbase_field_properties(prefix, &dbf->field_properties, -1);
    if (!dbf->records) return;
    const size_t width = dbf->hdr.numbytesrec > 0 ? static_cast<size_t>(dbf->hdr.numbytesrec) : 0;
    for (int i = 0; i < dbf->hdr.numrecs; ++i) {
        const char *slot = reinterpret_cast<const char *>(dbf->records) + width * static_cast<size_t>(i);
        std::fprintf(out, "%.*s\n", static_cast<int>(strnlen(slot, width)), slot);
    }
}

static void esri_print_shapefile_callback(char *prefix, void *estruc, int) {
    print_shapefile(set_print_stream ? set_print_stream : stdout, prefix, static_cast<ESRISHPStr *>(estruc));
}

static void esri_print_dbase_file_callback(char *prefix, void *dstruc, int) {
    print_dbase_file(set_print_stream ? set_print_stream : stdout, prefix, static_cast<ESRIDBASEStr *>(dstruc));
}

#endif
