// The netCDF listings: the text of a value type and of one value, and the
// listing of a whole header, entry by entry. These are entry points of the
// library, defined here, so exactly one source includes this header:
// netcdf_strdefs.cpp.
#ifndef VORPIX_NETCDF_PRINTER_HPP
#define VORPIX_NETCDF_PRINTER_HPP

#include "netcdf.h"

#include "c_boundary.hpp"
#include "netcdf_tables.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// What a conversion answers should it ever fail.
char *unknown_type() {
    static char text[] = "UNKNOWNTYPE";
    return text;
}

}  // namespace

extern "C" {

char *netcdf_type2str(int type) {
    return vorpix::guarded("netcdf_type2str", unknown_type(), [&] {
        static char buffer[32];
        if (const char *name = type_name(type)) std::snprintf(buffer, sizeof buffer, "%s", name);
        else std::snprintf(buffer, sizeof buffer, "UNKNOWNTYPE(%d)", type);
        return buffer;
    });
}

// snprintf cuts a text longer than the buffer ("%f" of 1e23 and beyond).
char *netcdf_value2str(int type, int i, void *values) {
    return vorpix::guarded("netcdf_value2str", unknown_type(), [&] {
        static char buffer[32];
        switch (type) {
        case NETCDF_BYTE:
            std::snprintf(buffer, sizeof buffer, "0x%2.2X",
                          static_cast<unsigned>(static_cast<unsigned char *>(values)[i]));
            break;
        case NETCDF_CHAR: std::snprintf(buffer, sizeof buffer, "%c", static_cast<char *>(values)[i]); break;
        case NETCDF_SHORT: {
            std::int16_t v;
            std::memcpy(&v, static_cast<unsigned char *>(values) + 2 * static_cast<size_t>(i), 2);
            std::snprintf(buffer, sizeof buffer, "%d", v);
            break;
        }
        case NETCDF_INT: {
            std::int32_t v;
            std::memcpy(&v, static_cast<unsigned char *>(values) + 4 * static_cast<size_t>(i), 4);
            std::snprintf(buffer, sizeof buffer, "%d", v);
            break;
        }
        case NETCDF_FLOAT: {
            float v;
            std::memcpy(&v, static_cast<unsigned char *>(values) + 4 * static_cast<size_t>(i), 4);
            std::snprintf(buffer, sizeof buffer, "%f", static_cast<double>(v));
            break;
        }
        case NETCDF_DOUBLE: {
            double v;
            std::memcpy(&v, static_cast<unsigned char *>(values) + 8 * static_cast<size_t>(i), 8);
            std::snprintf(buffer, sizeof buffer, "%f", v);
            break;
        }
        // Not through netcdf_type2str: its buffer is the caller's until its next call.
        case NETCDF_DIMENSION:
        case NETCDF_VARIABLE:
        case NETCDF_ATTRIBUTE: std::snprintf(buffer, sizeof buffer, "%s", type_name(type)); break;
        default: std::snprintf(buffer, sizeof buffer, "UNKNOWNTYPE(%d)", type); break;
        }
        return buffer;
    });
}

}  // extern "C"

namespace {

// A header that a failed decode left half-filled lists what it holds: its
// counts as they stand, names not yet read as empty, and neither values nor
// entries that no buffer holds.
const char *text(const char *name) { return name ? name : ""; }

int netcdf_print_vals(NETCDFValues *vals, char *pre, FILE *file) {
    std::fprintf(file, "%svalues.type  =  %s\n", pre, netcdf_type2str(vals->type));
    std::fprintf(file, "%svalues.n     =  %d\n", pre, vals->n);
    if (!vals->values) return 0;
    if (vals->type != NETCDF_CHAR) {
        for (int i = 0; i < vals->n; ++i)
            std::fprintf(file, "%svalues.values[%2.2d]  =  %s\n", pre, i,
                         netcdf_value2str(vals->type, i, vals->values));
        return 0;
    }
    std::fprintf(file, "%svalues.values[..]  =  ", pre);
    for (int i = 0; i < vals->n; ++i) std::fprintf(file, "%s", netcdf_value2str(vals->type, i, vals->values));
    std::fprintf(file, "\n");
    return 0;
}

}  // namespace

extern "C" int netcdf_print_header(NETCDFHdr *hdr, FILE *file) {
    return vorpix::guarded("netcdf_print_header", -1, [&] {
        char pre[512];
        std::fprintf(file, "numrecs  =  %d\n", hdr->numrecs);
        std::fprintf(file, "dims_n   =  %d\n", hdr->dims_n);
        for (int i = 0; hdr->dims && i < hdr->dims_n; ++i) {
            std::fprintf(file, "dims[%2.2d].name   =  %s\n", i, text(hdr->dims[i].name));
            std::fprintf(file, "dims[%2.2d].value  =  %d\n", i, hdr->dims[i].value);
        }
        std::fprintf(file, "attrs_n  =  %d\n", hdr->attrs_n);
        for (int i = 0; hdr->attrs && i < hdr->attrs_n; ++i) {
            std::fprintf(file, "attrs[%2.2d].name  =  %s\n", i, text(hdr->attrs[i].name));
            std::snprintf(pre, sizeof pre, "attrs[%2.2d].", i);
            netcdf_print_vals(&hdr->attrs[i].values, pre, file);
        }
        std::fprintf(file, "vars_n   =  %d\n", hdr->vars_n);
        for (int i = 0; hdr->vars && i < hdr->vars_n; ++i) {
            const NETCDFVar &v = hdr->vars[i];
            std::fprintf(file, "vars[%2.2d].name   =  %s\n", i, text(v.name));
            std::fprintf(file, "vars[%2.2d].type   =  %s\n", i, netcdf_type2str(v.type));
            std::fprintf(file, "vars[%2.2d].vsize  =  %d\n", i, v.vsize);
            std::fprintf(file, "vars[%2.2d].begin  =  %d\n", i, v.begin);
            std::fprintf(file, "vars[%2.2d].fixed  =  %d\n", i, v.fixed);
            std::fprintf(file, "vars[%2.2d].dims_n =  %d\n", i, v.ndims);
            for (int j = 0; v.dims && j < v.ndims; ++j)
                if (v.dims[j])
                    std::fprintf(file, "vars[%2.2d].dims[%2.2d].name   =  %s (%d)\n", i, j, text(v.dims[j]->name),
                                 v.dims[j]->value);
            std::fprintf(file, "vars[%2.2d].attrs_n=  %d\n", i, v.nattrs);
            for (int j = 0; v.attrs && j < v.nattrs; ++j) {
                std::fprintf(file, "vars[%2.2d].attrs[%2.2d].name  =  %s\n", i, j, text(v.attrs[j].name));
                std::snprintf(pre, sizeof pre, "vars[%2.2d].attrs[%2.2d].", i, j);
                netcdf_print_vals(&v.attrs[j].values, pre, file);
            }
        }
        return 0;
    });
}

#endif
