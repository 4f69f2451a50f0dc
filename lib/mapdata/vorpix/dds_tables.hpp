// The DDS structure tables: the field types; the names of the structure
// types, field types, header flags, pixel-format flags and capabilities; one
// row per field of the header, the DX10 header and the pixel format, in the
// order of the file, and the sets that give each structure its table, checked
// when compiled; and the names of the DXGI formats and resource dimensions.
// Included once, by dds_strdefs.cpp.
#ifndef VORPIX_DDS_TABLES_HPP
#define VORPIX_DDS_TABLES_HPP

#include "dds.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iterator>

namespace {

// Field types. The word types (1, 7, 8, 9, 10) decode alike and differ only
// in how they are printed; 9 and 10 have no row in DDSTYPE_Codedef.
constexpr int type_dword = 1;
constexpr int type_header = 2;
constexpr int type_header10 = 3;
constexpr int type_dxgi_format = 4;
constexpr int type_resource_dimension = 5;
constexpr int type_pixelformat = 6;
constexpr int type_header_flags = 7;
constexpr int type_pixelformat_flags = 8;
constexpr int type_fourcc = 9;
constexpr int type_caps = 10;

struct DDSStrdef {
    char name[32];
    int type;
    int number;  // 0: counted, the count is the member at offset_number
    int offset_number;
    int offset;
    int bigendian;
};

struct DDSStrdefs {
    int str_type;
    int str_size;
    const DDSStrdef *strdef;
    int strdef_size;
    void (*print)(FILE *out, char *prefix, void *record);
};

struct Codedef {
    std::uint64_t code;
    const char *str;
};

constexpr Codedef DDS_Codedef[] = {
    {DDS_FILE, "File"},
    {DDS_HEADER, "Header"},
    {DDS_HEADER10, "Header10"},
    {DDS_PIXELFORMAT, "PixelFormat"},
};

constexpr Codedef DDSTYPE_Codedef[] = {
    {type_dword, "DWord"},
    {type_header, "Header"},
    {type_header10, "Header10"},
    {type_dxgi_format, "DXGIFormat"},
    {type_resource_dimension, "D3D!)ResourceDimension"},
    {type_pixelformat, "Pixelformat"},
    {type_header_flags, "HeaderDwFlags"},
    {type_pixelformat_flags, "PixelformatDwFlags"},
};

constexpr Codedef DDSDBITMAP_Codedef[] = {
    {DSD_CAPS, "DSD_CAPS"},
    {DSD_HEIGHT, "DSD_HEIGHT"},
    {DSD_WIDTH, "DSD_WIDTH"},
    {DSD_PITCH, "DSD_PITCH"},
    {DSD_PIXELFORMAT, "DSD_PIXELFORMAT"},
    {DSD_MIPMAPCOUNT, "DSD_MIPMAPCOUNT"},
    {DSD_LINEARSIZE, "DSD_LINEARSIZE"},
    {DSD_DEPTH, "DSD_DEPTH"},
};

constexpr Codedef DDPFBITMAP_Codedef[] = {
    {DPF_ALPHAPIXELS, "DPF_ALPHAPIXELS"},
    {DPF_ALPHA, "DPF_ALPHA"},
    {DPF_FOURCC, "DPF_FOURCC"},
    {DPF_RGB, "DPF_RGB"},
    {DPF_YUV, "DPF_YUV"},
    {DPF_LUMINANCE, "DPF_LUMINANCE"},
};

// Listed in this order, not by value.
constexpr Codedef DDSCAPSBITMAP_Codedef[] = {
    {DDSCAPS_COMPLEX, "DDSCAPS_COMPLEX"},
    {DDSCAPS_MIPMAP, "DDSCAPS_MIPMAP"},
    {DDSCAPS_TEXTURE, "DDSCAPS_TEXTURE"},
};

// One row per field, as the format lays them out.
// clang-format off
#define DDS_FIELD(record, member, type, number) {#member, type, number, 0, static_cast<int>(offsetof(record, member)), 0}

constexpr DDSStrdef DDS_HEADER_Strdef[] = {
    DDS_FIELD(DDSHEADERStr, dwSize, type_dword, 1),
    DDS_FIELD(DDSHEADERStr, dwFlags, type_header_flags, 1),
    DDS_FIELD(DDSHEADERStr, dwHeight, type_dword, 1),
    DDS_FIELD(DDSHEADERStr, dwWidth, type_dword, 1),
    DDS_FIELD(DDSHEADERStr, dwPitchOrLinearSize, type_dword, 1),
    DDS_FIELD(DDSHEADERStr, dwDepth, type_dword, 1),
    DDS_FIELD(DDSHEADERStr, dwMipMapCount, type_dword, 1),
    DDS_FIELD(DDSHEADERStr, dwReserved, type_dword, 11),
    DDS_FIELD(DDSHEADERStr, ddspf, type_pixelformat, 1),
    DDS_FIELD(DDSHEADERStr, dwCaps, type_caps, 1),
    DDS_FIELD(DDSHEADERStr, dwCaps2, type_dword, 1),
    DDS_FIELD(DDSHEADERStr, dwCaps3, type_dword, 1),
    DDS_FIELD(DDSHEADERStr, dwCaps4, type_dword, 1),
    DDS_FIELD(DDSHEADERStr, dwReserved2, type_dword, 1),
};

constexpr DDSStrdef DDS_HEADER10_Strdef[] = {
    DDS_FIELD(DDSHEADER10Str, dxgiFormat, type_dxgi_format, 1),
    DDS_FIELD(DDSHEADER10Str, resourceDimension, type_resource_dimension, 1),
    DDS_FIELD(DDSHEADER10Str, miscFlag, type_dword, 1),
    DDS_FIELD(DDSHEADER10Str, arraySize, type_dword, 1),
    DDS_FIELD(DDSHEADER10Str, miscFlag2, type_dword, 1),
};

constexpr DDSStrdef DDS_PIXELFORMAT_Strdef[] = {
    DDS_FIELD(DDSPIXELFORMATStr, dwSize, type_dword, 1),
    DDS_FIELD(DDSPIXELFORMATStr, dwFlags, type_pixelformat_flags, 1),
    DDS_FIELD(DDSPIXELFORMATStr, dwFourCC, type_fourcc, 1),
    DDS_FIELD(DDSPIXELFORMATStr, dwRGBBitCount, type_dword, 1),
    DDS_FIELD(DDSPIXELFORMATStr, dwRBitMask, type_dword, 1),
    DDS_FIELD(DDSPIXELFORMATStr, dwGBitMask, type_dword, 1),
    DDS_FIELD(DDSPIXELFORMATStr, dwBBitMask, type_dword, 1),
    DDS_FIELD(DDSPIXELFORMATStr, dwABitMask, type_dword, 1),
};
// clang-format on

#undef DDS_FIELD

template <typename T, size_t N>
constexpr int rows(const T (&)[N]) {
    return static_cast<int>(N);
}

constexpr DDSStrdefs dds_strdefs[] = {
    {DDS_HEADER, sizeof(DDSHEADERStr), DDS_HEADER_Strdef, rows(DDS_HEADER_Strdef), nullptr},
    {DDS_HEADER10, sizeof(DDSHEADER10Str), DDS_HEADER10_Strdef, rows(DDS_HEADER10_Strdef), nullptr},
    {DDS_PIXELFORMAT, sizeof(DDSPIXELFORMATStr), DDS_PIXELFORMAT_Strdef, rows(DDS_PIXELFORMAT_Strdef), nullptr},
};

constexpr bool is_word_type(int type) {
    return type == type_dword || type == type_header_flags || type == type_pixelformat_flags || type == type_fourcc ||
           type == type_caps;
}
constexpr bool is_enum_type(int type) { return type == type_dxgi_format || type == type_resource_dimension; }
// The structure type of a nested field's records, or 0.
constexpr int nested_type(int type) {
    return type == type_header        ? DDS_HEADER
           : type == type_header10    ? DDS_HEADER10
           : type == type_pixelformat ? DDS_PIXELFORMAT
                                      : 0;
}

constexpr const DDSStrdefs *find_set(int str_type) {
    for (const auto &set : dds_strdefs)
        if (set.str_type == str_type) return &set;
    return nullptr;
}

// Bytes of stream that one record of a fixed-size structure takes.
constexpr std::size_t stream_length(const DDSStrdefs &set) {
    std::size_t bytes = 0;
    for (int i = 0; i < set.strdef_size; ++i) {
        const DDSStrdef &def = set.strdef[i];
        const std::size_t item = nested_type(def.type) ? stream_length(*find_set(nested_type(def.type))) : 4;
        bytes += item * static_cast<std::size_t>(def.number);
    }
    return bytes;
}

// Every row's items lie inside the record, and nested rows name a set.
constexpr bool rows_fit(const DDSStrdefs &set) {
    for (int i = 0; i < set.strdef_size; ++i) {
        const DDSStrdef &def = set.strdef[i];
        std::size_t item = 0;
        if (is_word_type(def.type)) item = sizeof(std::uint64_t);
        else if (is_enum_type(def.type)) item = sizeof(std::uint32_t);
        else if (const int nested = nested_type(def.type)) {
            if (!find_set(nested)) return false;
            item = static_cast<std::size_t>(find_set(nested)->str_size);
        } else return false;
        const std::size_t span = def.number ? item * static_cast<std::size_t>(def.number) : sizeof(void *);
        if (def.offset < 0 || static_cast<std::size_t>(def.offset) + span > static_cast<std::size_t>(set.str_size))
            return false;
    }
    return true;
}

static_assert(sizeof(DXGI_FORMAT) == 4 && sizeof(D3D10_RESOURCE_DIMENSION) == 4);
static_assert(rows_fit(dds_strdefs[0]) && rows_fit(dds_strdefs[1]) && rows_fit(dds_strdefs[2]));
static_assert(stream_length(*find_set(DDS_HEADER)) == 124);
static_assert(stream_length(*find_set(DDS_HEADER10)) == 20);
static_assert(stream_length(*find_set(DDS_PIXELFORMAT)) == 32);

// clang-format off
const char *const dxgi_format_names[] = {
    "UNKNOWN", "R32G32B32A32_TYPELESS", "R32G32B32A32_FLOAT", "R32G32B32A32_UINT", "R32G32B32A32_SINT",
    "R32G32B32_TYPELESS", "R32G32B32_FLOAT", "R32G32B32_UINT", "R32G32B32_SINT", "R16G16B16A16_TYPELESS",
    "R16G16B16A16_FLOAT", "R16G16B16A16_UNORM", "R16G16B16A16_UINT", "R16G16B16A16_SNORM", "R16G16B16A16_SINT",
    "R32G32_TYPELESS", "R32G32_FLOAT", "R32G32_UINT", "R32G32_SINT", "R32G8X24_TYPELESS", "D32_FLOAT_S8X24_UINT",
    "R32_FLOAT_X8X24_TYPELESS", "X32_TYPELESS_G8X24_UINT", "R10G10B10A2_TYPELESS", "R10G10B10A2_UNORM",
    "R10G10B10A2_UINT", "R11G11B10_FLOAT", "R8G8B8A8_TYPELESS", "R8G8B8A8_UNORM", "R8G8B8A8_UNORM_SRGB",
    "R8G8B8A8_UINT", "R8G8B8A8_SNORM", "R8G8B8A8_SINT", "R16G16_TYPELESS", "R16G16_FLOAT", "R16G16_UNORM",
    "R16G16_UINT", "R16G16_SNORM", "R16G16_SINT", "R32_TYPELESS", "D32_FLOAT", "R32_FLOAT", "R32_UINT", "R32_SINT",
    "R24G8_TYPELESS", "D24_UNORM_S8_UINT", "R24_UNORM_X8_TYPELESS", "X24_TYPELESS_G8_UINT", "R8G8_TYPELESS",
    "R8G8_UNORM", "R8G8_UINT", "R8G8_SNORM", "R8G8_SINT", "R16_TYPELESS", "R16_FLOAT", "D16_UNORM", "R16_UNORM",
    "R16_UINT", "R16_SNORM", "R16_SINT", "R8_TYPELESS", "R8_UNORM", "R8_UINT", "R8_SNORM", "R8_SINT", "A8_UNORM",
    "R1_UNORM", "R9G9B9E5_SHAREDEXP", "R8G8_B8G8_UNORM", "G8R8_G8B8_UNORM", "BC1_TYPELESS", "BC1_UNORM",
    "BC1_UNORM_SRGB", "BC2_TYPELESS", "BC2_UNORM", "BC2_UNORM_SRGB", "BC3_TYPELESS", "BC3_UNORM", "BC3_UNORM_SRGB",
    "BC4_TYPELESS", "BC4_UNORM", "BC4_SNORM", "BC5_TYPELESS", "BC5_UNORM", "BC5_SNORM", "B5G6R5_UNORM",
    "B5G5R5A1_UNORM", "B8G8R8A8_UNORM", "B8G8R8X8_UNORM", "R10G10B10_XR_BIAS_A2_UNORM", "B8G8R8A8_TYPELESS",
    "B8G8R8A8_UNORM_SRGB", "B8G8R8X8_TYPELESS", "B8G8R8X8_UNORM_SRGB", "BC6H_TYPELESS", "BC6H_UF16", "BC6H_SF16",
    "BC7_TYPELESS", "BC7_UNORM", "BC7_UNORM_SRGB", "AYUV", "Y410", "Y416", "NV12", "P010", "P016", "420_OPAQUE",
    "YUY2", "Y210", "Y216", "NV11", "AI44", "IA44", "P8", "A8P8", "B4G4R4A4_UNORM",
};
// clang-format on
static_assert(std::size(dxgi_format_names) == DXGI_FORMAT_B4G4R4A4_UNORM + 1);

const char *const resource_dimension_names[] = {"UNKNOWN", "BUFFER", "TEXTURE1D", "TEXTURE2D", "TEXTURE3D"};
static_assert(std::size(resource_dimension_names) == D3D10_RESOURCE_DIMENSION_TEXTURE3D + 1);

}  // namespace

#endif
