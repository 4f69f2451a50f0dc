// The DDS listing: one generic printer walks a structure's table and prints
// each field by name, flags and enumerations with their names, and the
// listing of a whole file adds the first pixels of each decoded level.
// Every printer writes to the stream it is given. Included once, by
// dds_strdefs.cpp.
#ifndef VORPIX_DDS_PRINTER_HPP
#define VORPIX_DDS_PRINTER_HPP

#include "dds.h"
#include "dds_tables.hpp"

#include "arrays.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

// The registry's lookup, with the decoder.
const DDSStrdefs *registered(int str_type);

void print_enum(FILE *out, int type, std::uint32_t value) {
    std::fprintf(out, "%u", value);
    if (type == type_dxgi_format && value < std::size(dxgi_format_names))
        std::fprintf(out, " DXGI_FORMAT_%s", dxgi_format_names[value]);
    else if (type == type_resource_dimension && value < std::size(resource_dimension_names))
        std::fprintf(out, " D3D10_RESOURCE_DIMENSION_%s", resource_dimension_names[value]);
}

void print_word(FILE *out, int type, std::uint64_t value) {
    char bitmap[512];
    const int low = static_cast<int>(static_cast<std::uint32_t>(value));
    switch (type) {
    case type_header_flags: dds_get_dds_bitmap(low, bitmap); break;
    case type_pixelformat_flags: dds_get_pixelformat_bitmap(low, bitmap); break;
    case type_caps: dds_get_ddscaps_bitmap(low, bitmap); break;
    case type_fourcc:
        std::fprintf(out, "%c%c%c%c", static_cast<int>(value & 0xff), static_cast<int>((value >> 8) & 0xff),
                     static_cast<int>((value >> 16) & 0xff), static_cast<int>((value >> 24) & 0xff));
        return;
    default: std::fprintf(out, "%lu", static_cast<unsigned long>(value)); return;
    }
    std::fprintf(out, "0x%lx %s", static_cast<unsigned long>(value), bitmap);
}

void dds_print_generic(FILE *out, const char *prefix, int str_type, const void *record) {
    const DDSStrdefs *set = registered(str_type);
    if (!set) return;
    char nested[512];
    std::snprintf(nested, sizeof nested, "%s  ", prefix);
    if (!set->strdef) {
        if (set->print) set->print(out, nested, const_cast<void *>(record));
        return;
    }
    std::fprintf(out, "%s%s:\n", prefix, dds_get_type(str_type));
    const auto *base = static_cast<const unsigned char *>(record);
    for (int row = 0; row < set->strdef_size; ++row) {
        const DDSStrdef &def = set->strdef[row];
        std::fprintf(out, "%s%s=", nested, def.name);
        std::uint64_t n = static_cast<std::uint64_t>(def.number);
        const unsigned char *items = base + def.offset;
        if (n == 0) {
            std::memcpy(&n, base + def.offset_number, sizeof n);
            std::memcpy(&items, base + def.offset, sizeof items);
        }
        const std::uint64_t m = std::min<std::uint64_t>(n, 10);
        if (const int inner_type = nested_type(def.type)) {
            const DDSStrdefs *inner = registered(inner_type);
            if (!inner) continue;
            for (std::uint64_t i = 0; i < m; ++i)
                dds_print_generic(out, nested, inner_type, items + i * static_cast<std::size_t>(inner->str_size));
            continue;
        }
        for (std::uint64_t i = 0; i < m; ++i) {
            if (i) std::fprintf(out, ", ");
            if (is_enum_type(def.type)) {
                std::uint32_t value;
                std::memcpy(&value, items + 4 * i, sizeof value);
                print_enum(out, def.type, value);
            } else {
                std::uint64_t value;
                std::memcpy(&value, items + 8 * i, sizeof value);
                print_word(out, def.type, value);
            }
        }
        std::fputs(m < n ? ", ...\n" : "\n", out);
    }
}

void dds_print_file_callback(FILE *out, const char *prefix, const void *dstruc) {
    const auto *file = static_cast<const DDSFILEStr *>(dstruc);
    dds_print_generic(out, prefix, DDS_HEADER, &file->header);
    const DDSPIXELFORMATStr &format = file->header.ddspf;
    if ((format.dwFlags & DPF_FOURCC) && static_cast<std::uint32_t>(format.dwFourCC) == DDS_FOURCC_DX10)
        dds_print_generic(out, prefix, DDS_HEADER10, &file->header10);
    if (!file->argb_mipmaps) return;
    // After a single-level extraction the list's one entry is that level.
    std::uint64_t w = file->header.dwWidth, h = file->header.dwHeight;
    for (int level = 0; level < file->argb_first_level && (w || h); ++level) w /= 2, h /= 2;
    const int entries = cnttbl(file->argb_mipmaps);
    for (int i = 0; i < entries; ++i) {
        std::fprintf(out, "%smipmap[%d] = %lux%lu", prefix, file->argb_first_level + i, static_cast<unsigned long>(w),
                     static_cast<unsigned long>(h));
        const auto *pixels = static_cast<const unsigned int *>(gettbl(file->argb_mipmaps, i));
        const std::uint64_t n = pixels ? std::min<std::uint64_t>(10, w * h) : 0;
        for (std::uint64_t k = 0; k < n; ++k) std::fprintf(out, " %8.8x", pixels[k]);
        std::fputc('\n', out);
        w /= 2;
        h /= 2;
    }
}

}  // namespace

#endif
