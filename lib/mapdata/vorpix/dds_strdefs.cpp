// DDS textures: the registry of the structure tables and the decoder that
// reads headers by them, file decoding with the DXT1 mipmap chain, and the
// entry points. The tables and the names of the codes are in dds_tables.hpp,
// the listings in dds_printer.hpp.
#include "dds.h"

#include "byte_reader.hpp"
#include "c_boundary.hpp"
#include "dds_printer.hpp"
#include "dds_tables.hpp"

#include "arrays.h"
#include "elog.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>

namespace {

using vorpix::ByteReader;
using vorpix::DecodeError;
using vorpix::Failure;
using vorpix::Where;

constexpr int registry_slots = 512;
const DDSStrdefs *dds_strdefs_index[registry_slots];
// Built once, on the first decode; several threads may start at once.
std::atomic<int> dds_strdefs_first{1};
std::mutex dds_strdefs_build;

constexpr std::size_t header_bytes = stream_length(*find_set(DDS_HEADER));
constexpr std::size_t header10_bytes = stream_length(*find_set(DDS_HEADER10));
constexpr std::size_t dxt1_block_bytes = 8;
// A chain from a side of 2^32 down to 1 has 33 levels.
constexpr std::uint64_t max_hinted_levels = 33;

const DDSStrdefs *registered(int str_type) {
    if (str_type < 0 || str_type >= registry_slots) return nullptr;
    return dds_strdefs_index[str_type];
}

char *unknown_name() { return const_cast<char *>("Unknown"); }

template <size_t N>
char *code_name(const Codedef (&table)[N], int code) {
    const auto wanted = static_cast<std::uint64_t>(static_cast<std::int64_t>(code));
    for (const auto &row : table)
        if (row.code == wanted) return const_cast<char *>(row.str);
    return unknown_name();
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

int unstuff(ByteReader &in, int str_type, void **dstruc) {
    dds_strdefs_init();
    const DDSStrdefs *set = registered(str_type);
    if (!set)
        throw DecodeError::failed(Failure::bad_value, "dds_unstuff_stream", "str_type 0x%x not defined",
                                  static_cast<unsigned>(str_type));
    if (!*dstruc) {
        *dstruc = std::malloc(static_cast<std::size_t>(set->str_size));
        if (!*dstruc) throw DecodeError::allocation("dds_unstuff_stream");
    }
    auto *record = static_cast<unsigned char *>(*dstruc);
    std::memset(record, 0, static_cast<std::size_t>(set->str_size));
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
                if (!(items = counted_array(member, count, item))) throw DecodeError::allocation("dds_unstuff_stream");
            }
            if (item == sizeof(std::uint64_t)) dds2h4(items, in, count, def.bigendian);
            else dds2h4_32(items, in, count, def.bigendian);
        } else if (const int nested = nested_type(def.type)) {
            const DDSStrdefs *inner = registered(nested);
            const std::size_t size = inner ? static_cast<std::size_t>(inner->str_size) : 0;
            auto *items = member;
            if (counted && inner) {
                if (inner->strdef) in.need(count, stream_length(*inner));
                if (!(items = static_cast<unsigned char *>(counted_array(member, count, size))))
                    throw DecodeError::allocation("dds_unstuff_stream");
            }
            for (std::uint64_t i = 0; i < count; ++i) {
                void *element = inner ? items + i * size : member;
                vorpix::relying_on("dds_unstuff_stream", "dds_unstuff_stream", 1,
                                   [&] { return unstuff(in, nested, &element); });
            }
        } else {
            throw DecodeError::failed(Failure::bad_value, "dds_unstuff_stream", "Unknown type %d", def.type);
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

int decode_file(ByteReader &in, DDSFILEStr **fstr, int mipmaps_index, Where &where) {
    if (!*fstr) {
        *fstr = static_cast<DDSFILEStr *>(std::calloc(1, sizeof(DDSFILEStr)));
        if (!*fstr) throw DecodeError::allocation("dds_decode_file");
    }
    DDSFILEStr *file = *fstr;
    if (file->argb_mipmaps) freetbl(file->argb_mipmaps, std::free);
    std::memset(file, 0, sizeof *file);

    where.item = "magic word";
    dds2h4(&file->dwMagic, in, 1, 0);
    where.item = "header";
    in.need(header_bytes);
    void *header = &file->header;
    vorpix::relying_on("dds_decode_file", "dds_unstuff_stream", 0, [&] { return unstuff(in, DDS_HEADER, &header); });
    const DDSPIXELFORMATStr &format = file->header.ddspf;
    const auto fourcc = static_cast<std::uint32_t>(format.dwFourCC);
    const bool has_fourcc = (format.dwFlags & DPF_FOURCC) != 0;
    if (has_fourcc && fourcc == DDS_FOURCC_DX10) {
        where.item = "DX10 header";
        in.need(header10_bytes);
        void *header10 = &file->header10;
        vorpix::relying_on("dds_decode_file", "dds_unstuff_stream", 0,
                           [&] { return unstuff(in, DDS_HEADER10, &header10); });
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
    if (!file->argb_mipmaps) throw DecodeError::step_failed("dds_decode_file", "newtbl");
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
        const unsigned char *level = in.bytes(blocks * dxt1_block_bytes);
        if (every || k == chosen) {
            unsigned int *image = allocate_level(w, h);
            if (!image) throw DecodeError::allocation("dds_decode_file");
            BlockDecompressImageDXT1(w, h, level, image);
            const int index = !every ? 0 : k <= INT_MAX ? static_cast<int>(k) : -1;
            if (settbl(file->argb_mipmaps, index, image) < 0) {
                std::free(image);
                throw DecodeError::allocation("dds_decode_file");
            }
        }
        w /= 2;
        h /= 2;
    }
    return 0;
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

char *dds_get_type(int dds_type) {
    return vorpix::guarded("dds_get_type", unknown_name(), [&] { return code_name(DDS_Codedef, dds_type); });
}
char *dds_get_word_type(int dds_type) {
    return vorpix::guarded("dds_get_word_type", unknown_name(), [&] { return code_name(DDSTYPE_Codedef, dds_type); });
}

void dds_get_dds_bitmap(int dds_type, char *bitmap) {
    vorpix::guarded("dds_get_dds_bitmap", [&] { flag_names(DDSDBITMAP_Codedef, dds_type, bitmap); });
}
void dds_get_pixelformat_bitmap(int dds_type, char *bitmap) {
    vorpix::guarded("dds_get_pixelformat_bitmap", [&] { flag_names(DDPFBITMAP_Codedef, dds_type, bitmap); });
}
void dds_get_ddscaps_bitmap(int dds_type, char *bitmap) {
    vorpix::guarded("dds_get_ddscaps_bitmap", [&] { flag_names(DDSCAPSBITMAP_Codedef, dds_type, bitmap); });
}

int dds_unstuff_stream(int str_type, void **dstruc, unsigned char * /*stream0*/, unsigned char **stream) {
    return vorpix::guarded("dds_unstuff_stream", -1, [&] {
        auto in = ByteReader::unbounded(*stream);
        return vorpix::run_plain("dds_unstuff_stream", stream, in, [&] { return unstuff(in, str_type, dstruc); });
    });
}

int dds_decode_file(DDSFILEStr **fstr, int mipmaps_index, unsigned char * /*stream0*/, unsigned char **stream) {
    return vorpix::guarded("dds_decode_file", -1, [&] {
        auto in = ByteReader::unbounded(*stream);
        Where where;
        return vorpix::run_plain("dds_decode_file", stream, in,
                                 [&] { return decode_file(in, fstr, mipmaps_index, where); });
    });
}

int dds_decode_file_sized(DDSFILEStr **fstr, int mipmaps_index, const unsigned char *data, long size) {
    return vorpix::guarded("dds_decode_file_sized", -1, [&] {
        auto in = vorpix::sized_reader("dds_decode_file_sized", data, size, fstr != nullptr);
        if (!in) return -1;
        Where where;
        return vorpix::run_sized("dds_decode_file_sized", "file", where,
                                 [&] { return decode_file(*in, fstr, mipmaps_index, where); });
    });
}

void dds_fprint_file(FILE *file, char *prefix, void *dstruc) {
    vorpix::guarded("dds_fprint_file", [&] {
        if (!file) throw DecodeError::failed(Failure::invalid_argument, "dds_fprint_file", "no stream");
        dds_strdefs_init();
        dds_print_file_callback(file, prefix, dstruc);
    });
}

void dds_print_file(char *prefix, void *dstruc) {
    vorpix::guarded("dds_print_file", [&] { dds_fprint_file(stdout, prefix, dstruc); });
}

}  // extern "C"
