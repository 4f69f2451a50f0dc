// DDS textures: the table-driven header decoder, file decoding with the DXT1
// mipmap chain, and the listing.
#include "dds.h"

#include "byte_reader.hpp"
#include "c_boundary.hpp"

#include "arrays.h"
#include "elog.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <new>
#include <string>

namespace {

using vorpix::ByteReader;
using vorpix::Where;

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
    int (*unstuff)(void *record, unsigned char *stream0, unsigned char **stream);
    void (*print)(char *prefix, void *record);
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
    {DDS_HEADER, sizeof(DDSHEADERStr), DDS_HEADER_Strdef, rows(DDS_HEADER_Strdef), nullptr, nullptr},
    {DDS_HEADER10, sizeof(DDSHEADER10Str), DDS_HEADER10_Strdef, rows(DDS_HEADER10_Strdef), nullptr, nullptr},
    {DDS_PIXELFORMAT, sizeof(DDSPIXELFORMATStr), DDS_PIXELFORMAT_Strdef, rows(DDS_PIXELFORMAT_Strdef), nullptr,
     nullptr},
};

constexpr int registry_slots = 512;
const DDSStrdefs *dds_strdefs_index[registry_slots];
// Built once, on the first decode; several threads may start at once.
std::atomic<int> dds_strdefs_first{1};
std::mutex dds_strdefs_build;

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

constexpr std::size_t header_bytes = stream_length(*find_set(DDS_HEADER));
constexpr std::size_t header10_bytes = stream_length(*find_set(DDS_HEADER10));
constexpr std::size_t dxt1_block_bytes = 8;
// A chain from a side of 2^32 down to 1 has 33 levels.
constexpr std::uint64_t max_hinted_levels = 33;

const DDSStrdefs *registered(int str_type) {
    if (str_type < 0 || str_type >= registry_slots) return nullptr;
    return dds_strdefs_index[str_type];
}

template <size_t N>
char *code_name(const Codedef (&table)[N], int code) {
    const auto wanted = static_cast<std::uint64_t>(static_cast<std::int64_t>(code));
    for (const auto &row : table)
        if (row.code == wanted) return const_cast<char *>(row.str);
    return const_cast<char *>("Unknown");
}

template <size_t N>
void flag_names(const Codedef (&table)[N], int value, char *bitmap) {
    const auto bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(value));
    char *end = bitmap;
    *end = '\0';
    for (const auto &row : table) {
        if (!(row.code & bits)) continue;
        if (end != bitmap) *end++ = ' ';
        const std::size_t n = std::strlen(row.str);
        std::memcpy(end, row.str, n + 1);
        end += n;
    }
}

// n 32-bit words into n zero-extended 64-bit elements at h_ptr.
int dds2h4(void *h_ptr, ByteReader &in, std::size_t n, int bigendian) {
    in.need(n, 4);
    auto *out = static_cast<std::uint64_t *>(h_ptr);
    for (std::size_t k = 0; k < n; ++k) out[k] = bigendian ? in.be32() : in.le32();
    return 0;
}

// The same into 32-bit elements, for the enumerations.
void dds2h4_32(void *h_ptr, ByteReader &in, std::size_t n, int bigendian) {
    in.need(n, 4);
    auto *out = static_cast<std::uint32_t *>(h_ptr);
    for (std::size_t k = 0; k < n; ++k) out[k] = bigendian ? in.be32() : in.le32();
}

// A counted field's new array, its address stored in the member.
void *counted_array(unsigned char *member, std::size_t count, std::size_t item) {
    if (item && count > SIZE_MAX / item) return nullptr;
    void *items = std::malloc(count ? count * item : 1);
    if (items) std::memcpy(member, &items, sizeof items);
    return items;
}

int unstuff(ByteReader &in, int str_type, void **dstruc, unsigned char *stream0) {
    dds_strdefs_init();
    const DDSStrdefs *set = registered(str_type);
    if (!set) {
        elog_log(0, "dds_unstuff_stream: str_type 0x%x not defined.\n", static_cast<unsigned>(str_type));
        return -1;
    }
    if (!*dstruc) {
        *dstruc = std::malloc(static_cast<std::size_t>(set->str_size));
        if (!*dstruc) {
            elog_log(1, "dds_unstuff_stream: malloc() error.\n");
            return -1;
        }
    }
    auto *record = static_cast<unsigned char *>(*dstruc);
    std::memset(record, 0, static_cast<std::size_t>(set->str_size));
    if (!set->strdef) {
        if (!set->unstuff) return 0;
        auto *p = const_cast<unsigned char *>(in.cursor());
        const int result = set->unstuff(record, stream0, &p);
        in.skip(static_cast<std::size_t>(p - in.cursor()));
        return result;
    }
    for (int row = 0; row < set->strdef_size; ++row) {
        const DDSStrdef &def = set->strdef[row];
        unsigned char *member = record + def.offset;
        const bool counted = def.number == 0;
        std::uint64_t count = static_cast<std::uint64_t>(def.number);
        if (counted) std::memcpy(&count, record + def.offset_number, sizeof count);
        if (is_word_type(def.type) || is_enum_type(def.type)) {
            const std::size_t item = is_word_type(def.type) ? sizeof(std::uint64_t) : sizeof(std::uint32_t);
            void *items = member;
            if (counted) {
                in.need(count, 4);
                if (!(items = counted_array(member, count, item))) {
                    elog_log(1, "dds_unstuff_stream: malloc() error.\n");
                    return -1;
                }
            }
            if (item == sizeof(std::uint64_t)) dds2h4(items, in, count, def.bigendian);
            else dds2h4_32(items, in, count, def.bigendian);
        } else if (const int nested = nested_type(def.type)) {
            const DDSStrdefs *inner = registered(nested);
            const std::size_t size = inner ? static_cast<std::size_t>(inner->str_size) : 0;
            auto *items = member;
            if (counted && inner) {
                if (inner->strdef) in.need(count, stream_length(*inner));
                if (!(items = static_cast<unsigned char *>(counted_array(member, count, size)))) {
                    elog_log(1, "dds_unstuff_stream: malloc() error.\n");
                    return -1;
                }
            }
            for (std::uint64_t i = 0; i < count; ++i) {
                void *element = inner ? items + i * size : member;
                if (unstuff(in, nested, &element, stream0) < 0) {
                    elog_log(1, "dds_unstuff_stream: dds_unstuff_stream() error.\n");
                    return -1;
                }
            }
        } else {
            elog_log(0, "dds_unstuff_stream: Unknown type %d.\n", def.type);
            return -1;
        }
    }
    return 0;
}

// A level's pixels, with room for every row of its last block row.
unsigned int *allocate_level(std::uint64_t w, std::uint64_t h) {
    const std::uint64_t rows = (h + 3) / 4 * 4;
    if (w && rows > SIZE_MAX / sizeof(unsigned int) / w) return nullptr;
    const std::size_t pixels = static_cast<std::size_t>(w * rows);
    return static_cast<unsigned int *>(std::malloc(std::max<std::size_t>(pixels, 1) * sizeof(unsigned int)));
}

int decode_file(ByteReader &in, DDSFILEStr **fstr, int mipmaps_index, unsigned char *stream0, Where &where) {
    if (!*fstr) {
        *fstr = static_cast<DDSFILEStr *>(std::calloc(1, sizeof(DDSFILEStr)));
        if (!*fstr) {
            elog_log(1, "dds_decode_file: malloc() error.\n");
            return -1;
        }
    }
    DDSFILEStr *file = *fstr;
    if (file->argb_mipmaps) freetbl(file->argb_mipmaps, std::free);
    std::memset(file, 0, sizeof *file);

    where.item = "magic word";
    dds2h4(&file->dwMagic, in, 1, 0);
    where.item = "header";
    in.need(header_bytes);
    void *header = &file->header;
    if (unstuff(in, DDS_HEADER, &header, stream0) < 0) {
        elog_log(0, "dds_decode_file: dds_unstuff_stream() error.\n");
        return -1;
    }
    const DDSPIXELFORMATStr &format = file->header.ddspf;
    const auto fourcc = static_cast<std::uint32_t>(format.dwFourCC);
    const bool has_fourcc = (format.dwFlags & DPF_FOURCC) != 0;
    if (has_fourcc && fourcc == DDS_FOURCC_DX10) {
        where.item = "DX10 header";
        in.need(header10_bytes);
        void *header10 = &file->header10;
        if (unstuff(in, DDS_HEADER10, &header10, stream0) < 0) {
            elog_log(0, "dds_decode_file: dds_unstuff_stream() error.\n");
            return -1;
        }
    }
    if (!(file->header.dwFlags & DSD_PIXELFORMAT) || !(file->header.dwFlags & DSD_MIPMAPCOUNT)) return 0;
    if (!has_fourcc || fourcc != DDS_FOURCC_DXT1) return 0;

    const std::uint64_t count = file->header.dwMipMapCount;
    std::uint64_t w = file->header.dwWidth, h = file->header.dwHeight;
    const bool every = mipmaps_index < 0;
    std::uint64_t chosen = every ? 0 : static_cast<std::uint64_t>(mipmaps_index);
    if (!every && chosen >= count) chosen = count - 1;  // with no level at all, none is chosen
    // The count is only a hint for the list: a header may claim far more
    // levels than its data holds, and each level is checked as it comes.
    file->argb_mipmaps = newtbl(every ? static_cast<int>(std::min<std::uint64_t>(count, max_hinted_levels)) : 1);
    if (!file->argb_mipmaps) {
        elog_log(0, "dds_decode_file: newtbl() error.\n");
        return -1;
    }
    if (!every && chosen < count) file->argb_first_level = static_cast<int>(chosen);
    where.item = "mipmap level";
    where.sized = true;
    for (std::uint64_t k = 0; k < count; ++k) {
        // Even a level with a side of 0 takes one block.
        const std::uint64_t blocks = std::max<std::uint64_t>(1, (w + 3) / 4) * std::max<std::uint64_t>(1, (h + 3) / 4);
        where.index = static_cast<long long>(k);
        where.width = w;
        where.height = h;
        in.need(blocks, dxt1_block_bytes);
        if (every || k == chosen) {
            unsigned int *image = allocate_level(w, h);
            if (!image) {
                elog_log(1, "dds_decode_file: malloc() error.\n");
                return -1;
            }
            BlockDecompressImageDXT1(w, h, in.cursor(), image);
            const int index = !every ? 0 : k <= INT_MAX ? static_cast<int>(k) : -1;
            if (settbl(file->argb_mipmaps, index, image) < 0) {
                std::free(image);
                elog_log(1, "dds_decode_file: malloc() error.\n");
                return -1;
            }
        }
        in.skip(blocks * dxt1_block_bytes);
        w /= 2;
        h /= 2;
    }
    return 0;
}

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

void print_enum(int type, std::uint32_t value) {
    std::printf("%u", value);
    if (type == type_dxgi_format && value < std::size(dxgi_format_names))
        std::printf(" DXGI_FORMAT_%s", dxgi_format_names[value]);
    else if (type == type_resource_dimension && value < std::size(resource_dimension_names))
        std::printf(" D3D10_RESOURCE_DIMENSION_%s", resource_dimension_names[value]);
}

void print_word(int type, std::uint64_t value) {
    char bitmap[512];
    const int low = static_cast<int>(static_cast<std::uint32_t>(value));
    switch (type) {
    case type_header_flags: dds_get_dds_bitmap(low, bitmap); break;
    case type_pixelformat_flags: dds_get_pixelformat_bitmap(low, bitmap); break;
    case type_caps: dds_get_ddscaps_bitmap(low, bitmap); break;
    case type_fourcc:
        std::printf("%c%c%c%c", static_cast<int>(value & 0xff), static_cast<int>((value >> 8) & 0xff),
                    static_cast<int>((value >> 16) & 0xff), static_cast<int>((value >> 24) & 0xff));
        return;
    default: std::printf("%lu", static_cast<unsigned long>(value)); return;
    }
    std::printf("0x%lx %s", static_cast<unsigned long>(value), bitmap);
}

void dds_print_generic(const char *prefix, int str_type, const void *record) {
    const DDSStrdefs *set = registered(str_type);
    if (!set) return;
    char nested[512];
    std::snprintf(nested, sizeof nested, "%s  ", prefix);
    if (!set->strdef) {
        if (set->print) set->print(nested, const_cast<void *>(record));
        return;
    }
    std::printf("%s%s:\n", prefix, dds_get_type(str_type));
    const auto *base = static_cast<const unsigned char *>(record);
    for (int row = 0; row < set->strdef_size; ++row) {
        const DDSStrdef &def = set->strdef[row];
        std::printf("%s%s=", nested, def.name);
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
                dds_print_generic(nested, inner_type, items + i * static_cast<std::size_t>(inner->str_size));
            continue;
        }
        for (std::uint64_t i = 0; i < m; ++i) {
            if (i) std::printf(", ");
            if (is_enum_type(def.type)) {
                std::uint32_t value;
                std::memcpy(&value, items + 4 * i, sizeof value);
                print_enum(def.type, value);
            } else {
                std::uint64_t value;
                std::memcpy(&value, items + 8 * i, sizeof value);
                print_word(def.type, value);
            }
        }
        std::fputs(m < n ? ", ...\n" : "\n", stdout);
    }
}

void dds_print_file_callback(const char *prefix, const void *dstruc) {
    const auto *file = static_cast<const DDSFILEStr *>(dstruc);
    dds_print_generic(prefix, DDS_HEADER, &file->header);
    const DDSPIXELFORMATStr &format = file->header.ddspf;
    if ((format.dwFlags & DPF_FOURCC) && static_cast<std::uint32_t>(format.dwFourCC) == DDS_FOURCC_DX10)
        dds_print_generic(prefix, DDS_HEADER10, &file->header10);
    if (!file->argb_mipmaps) return;
    // After a single-level extraction the list's one entry is that level.
    std::uint64_t w = file->header.dwWidth, h = file->header.dwHeight;
    for (int level = 0; level < file->argb_first_level && (w || h); ++level) w /= 2, h /= 2;
    const int entries = cnttbl(file->argb_mipmaps);
    for (int i = 0; i < entries; ++i) {
        std::printf("%smipmap[%d] = %lux%lu", prefix, file->argb_first_level + i, static_cast<unsigned long>(w),
                    static_cast<unsigned long>(h));
        const auto *pixels = static_cast<const unsigned int *>(gettbl(file->argb_mipmaps, i));
        const std::uint64_t n = pixels ? std::min<std::uint64_t>(10, w * h) : 0;
        for (std::uint64_t k = 0; k < n; ++k) std::printf(" %8.8x", pixels[k]);
        std::printf("\n");
        w /= 2;
        h /= 2;
    }
}

}  // namespace

extern "C" {

int dds_strdefs_init(void) {
    return vorpix::guarded("dds_strdefs_init", -1, [&] {
        if (!dds_strdefs_first.load(std::memory_order_acquire)) return 0;
        std::lock_guard<std::mutex> lock(dds_strdefs_build);
        if (!dds_strdefs_first.load(std::memory_order_relaxed)) return 0;
        std::fill(std::begin(dds_strdefs_index), std::end(dds_strdefs_index), nullptr);
        for (const auto &set : dds_strdefs) {
            if (set.str_type < 0 || set.str_type >= 200)
                elog_die(0, "dds_strdefs_init: str_type 0x%x out of range.\n", static_cast<unsigned>(set.str_type));
            dds_strdefs_index[set.str_type] = &set;
        }
        dds_strdefs_first.store(0, std::memory_order_release);
        return 0;
    });
}

char *dds_get_type(int dds_type) { return code_name(DDS_Codedef, dds_type); }
char *dds_get_word_type(int dds_type) { return code_name(DDSTYPE_Codedef, dds_type); }

void dds_get_dds_bitmap(int dds_type, char *bitmap) { flag_names(DDSDBITMAP_Codedef, dds_type, bitmap); }
void dds_get_pixelformat_bitmap(int dds_type, char *bitmap) { flag_names(DDPFBITMAP_Codedef, dds_type, bitmap); }
void dds_get_ddscaps_bitmap(int dds_type, char *bitmap) { flag_names(DDSCAPSBITMAP_Codedef, dds_type, bitmap); }

int dds_unstuff_stream(int str_type, void **dstruc, unsigned char *stream0, unsigned char **stream) {
    return vorpix::guarded("dds_unstuff_stream", -1, [&] {
        auto in = ByteReader::unbounded(*stream);
        return vorpix::run_plain("dds_unstuff_stream", stream, in,
                                 [&] { return unstuff(in, str_type, dstruc, stream0); });
    });
}

int dds_decode_file(DDSFILEStr **fstr, int mipmaps_index, unsigned char *stream0, unsigned char **stream) {
    return vorpix::guarded("dds_decode_file", -1, [&] {
        auto in = ByteReader::unbounded(*stream);
        Where where;
        return vorpix::run_plain("dds_decode_file", stream, in,
                                 [&] { return decode_file(in, fstr, mipmaps_index, stream0, where); });
    });
}

int dds_decode_file_sized(DDSFILEStr **fstr, int mipmaps_index, const unsigned char *data, long size) {
    return vorpix::guarded("dds_decode_file_sized", -1, [&] {
        auto in = vorpix::sized_reader("dds_decode_file_sized", data, size, fstr != nullptr);
        if (!in) return -1;
        Where where;
        return vorpix::run_sized("dds_decode_file_sized", "file", where, [&] {
            return decode_file(*in, fstr, mipmaps_index, const_cast<unsigned char *>(in->begin()), where);
        });
    });
}

void dds_print_file(char *prefix, void *dstruc) {
    vorpix::guarded("dds_print_file", [&] {
        dds_strdefs_init();
        dds_print_file_callback(prefix, dstruc);
    });
}

}  // extern "C"
