// ESRI shapefiles and dBase files: the registry of the structure tables and
// the one engine that decodes by them, the whole-file decoders, the entry
// points, and the fetch of one shape record through the database. The tables
// are in esri_tables.hpp, the listings in esri_printer.hpp and the values of
// dBase fields in dbase_fields.hpp.
#include "esri.h"

#include "byte_reader.hpp"
#include "c_boundary.hpp"
#include "dbase_fields.hpp"
#include "esri_printer.hpp"
#include "esri_release.hpp"
#include "esri_tables.hpp"
#include "short_copy.hpp"

#include "arrays.h"
#include "byteorder.h"
#include "datafile.h"
#include "db.h"
#include "elog.h"
#include "redblack.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

using vorpix::ByteReader;
using vorpix::copy_short;
using vorpix::DecodeError;
using vorpix::Failure;
using vorpix::relying_on;
using vorpix::Where;

// The names the decoders' messages carry, whichever entry point ran them.
constexpr const char *unstuff_function = "esri_unstuff_stream";
constexpr const char *record_function = "esri_decode_shapefile_record";
constexpr const char *dbase_function = "esri_decode_dbase_file";
constexpr const char *db_function = "esri_get_db_shp_record";

constexpr int index_slots = 512;
constexpr int highest_str_type = 199;

const ESRIStrdefs *esri_strdefs_index[index_slots];
// Sets whose rows are fixed little-endian numbers filling the destination in
// file order: an array of them is the file's bytes as they stand.
bool esri_strdefs_flat[index_slots];
std::atomic<bool> esri_strdefs_first{true};
std::mutex esri_strdefs_build;

bool is_flat(const ESRIStrdefs &set) {
    if (!set.strdef) return false;
    size_t at = 0;
    for (int i = 0; i < set.strdef_size; ++i) {
        const ESRIStrdef &r = set.strdef[i];
        if (r.number < 1 || (r.type != ESRI_INT && r.type != ESRI_DOUBLE) || r.bigendian ||
            static_cast<size_t>(r.offset) != at)
            return false;
        at += static_cast<size_t>(r.number) * item_bytes(r.type);
    }
    return at == static_cast<size_t>(set.str_size) && std::endian::native == std::endian::little;
}

// A table's rows in the steps the engine takes: a run of fixed rows whose
// items lie one after the other in the file and in memory alike, in one byte
// order, is one copy (reversing the bytes of each item when the file's order
// is not the host's); a counted row of items that stand in the file as in
// memory is an allocation and one copy; any other row is decoded by itself.
// The steps are the tables read once more, for speed alone: decoding the
// real county shapefile row by row takes about a tenth longer, which the
// shapefile benchmark shows as less than twice shapelib's speed.
struct Step {
    enum Kind { Row, Copy, CountedCopy } kind;
    int first_row, rows;
    int offset;        // a copy's destination, or the member that takes the array
    int bytes;         // Copy: the length; CountedCopy: the bytes of one item
    int swap;          // Copy: 0, or the width of the items whose bytes are reversed
    int count_offset;  // CountedCopy: the member that holds the count
};
std::vector<Step> esri_strdefs_steps[index_slots];

// For a row's items: 0 when they stand in the file as in memory, the item
// width when only their byte order differs, -1 when they take more than that.
int copy_swap(const ESRIStrdef &r) {
    const bool host_order = (r.bigendian != 0) == (std::endian::native == std::endian::big);
    switch (r.type) {
    case ESRI_CHAR:
    case ESRI_UCHAR: return 0;
    case ESRI_INT:
    case ESRI_DOUBLE:
    case ESRI_SHORT: return host_order ? 0 : static_cast<int>(item_bytes(r.type));
    case ESRI_POINT: return esri_strdefs_flat[str_point] ? 0 : -1;
    case ESRI_BOX: return esri_strdefs_flat[str_box] ? 0 : -1;
    default: return -1;
    }
}

std::vector<Step> make_steps(const ESRIStrdefs &set) {
    std::vector<Step> steps;
    for (int i = 0; i < set.strdef_size; ++i) {
        const ESRIStrdef &r = set.strdef[i];
        const int item = static_cast<int>(item_bytes(r.type)), swap = copy_swap(r);
        if (r.number >= 1 && swap >= 0) {
            const int bytes = r.number * item;
            Step *last = steps.empty() ? nullptr : &steps.back();
            if (last && last->kind == Step::Copy && last->swap == swap && last->offset + last->bytes == r.offset) {
                ++last->rows;
                last->bytes += bytes;
            } else {
                steps.push_back(Step{Step::Copy, i, 1, r.offset, bytes, swap, 0});
            }
        } else if (r.number == 0 && r.type >= ESRI_INT && r.type <= ESRI_BOX && swap == 0) {
            steps.push_back(Step{Step::CountedCopy, i, 1, r.offset, item, 0, r.offset_number});
        } else {
            steps.push_back(Step{Step::Row, i, 1, r.offset, 0, 0, 0});
        }
    }
    return steps;
}

void build_index() {
    std::fill(std::begin(esri_strdefs_index), std::end(esri_strdefs_index), nullptr);
    for (const ESRIStrdefs &set : esri_strdefs) {
        if (set.str_type < 0 || set.str_type > highest_str_type)
            elog_die(0, "esri_strdefs_init: str_type 0x%x out of range.\n", set.str_type);
        if (set.strdef) {
            const char *defect = table_defect(set.strdef, static_cast<size_t>(set.strdef_size),
                                              static_cast<size_t>(set.str_size));
            if (*defect) elog_die(0, "esri_strdefs_init: str_type 0x%x: %s.\n", set.str_type, defect);
        }
        esri_strdefs_index[set.str_type] = &set;
        esri_strdefs_flat[set.str_type] = is_flat(set);
    }
    for (const ESRIStrdefs &set : esri_strdefs)
        if (set.strdef) esri_strdefs_steps[set.str_type] = make_steps(set);
    esri_strdefs_first.store(false, std::memory_order_release);
}

const ESRIStrdefs *find_set(int str_type) {
    if (esri_strdefs_first.load(std::memory_order_acquire)) esri_strdefs_init();
    if (str_type < 0 || str_type >= index_slots) return nullptr;
    return esri_strdefs_index[str_type];
}

bool is_shape_type(int type) {
    switch (type) {
    case shape_null:
    case shape_point:
    case shape_polyline:
    case shape_polygon:
    case shape_multipoint:
    case shape_point_z:
    case shape_polyline_z:
    case shape_polygon_z:
    case shape_multipoint_z:
    case shape_point_m:
    case shape_polyline_m:
    case shape_polygon_m:
    case shape_multipoint_m:
    case shape_multipatch: return true;
    default: return false;
    }
}

// ---------------------------------------------------------------------------
// The engine

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...) {
    char buffer[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

struct Stream {
    ByteReader in;
    const unsigned char *stream0;
    Where where;
    // A Z record whose content length leaves no room for its measures: the
    // shape is read up to its Z values.
    bool without_m = false;
    // Faults inside the file (an undefined shape type, a negative count) are
    // reported with the plain decoder's messages; only running out of data
    // has a message of its own.
    bool plain_faults = false;
    int structure = -1;  // the structure type being decoded

    // For a message about the row being decoded.
    [[gnu::cold]] void name_row(const ESRIStrdef &row) {
        where.part_of = esri_get_shapetype(structure);
        where.part = row.name;
    }

    size_t file_offset() const { return static_cast<size_t>(in.begin() - stream0) + in.position(); }
};

// n items of N bytes each into dst, from most significant byte first when
// bigendian, else least significant first.
template <size_t N>
[[gnu::always_inline]] inline void esri2h(void *dst, Stream &s, int n, int bigendian) {
    using Word = std::conditional_t<N == 2, std::uint16_t, std::conditional_t<N == 4, std::uint32_t, std::uint64_t>>;
    if (n == 1) {  // most rows: one item, copied without a call
        const Word v = bigendian ? s.in.word<Word, true>() : s.in.word<Word, false>();
        std::memcpy(dst, &v, N);
        return;
    }
    const size_t bytes = static_cast<size_t>(n) * N;
    const unsigned char *src = s.in.bytes(bytes);
    if (bigendian) {
        if constexpr (N == 2) N2H2(dst, src, n);
        else if constexpr (N == 4) N2H4(dst, src, n);
        else N2H8(dst, src, n);
    } else if constexpr (std::endian::native == std::endian::little) {
        if (bytes) std::memcpy(dst, src, bytes);
    } else {
        auto *out = static_cast<unsigned char *>(dst);
        for (size_t i = 0; i < bytes; i += N)
            for (size_t b = 0; b < N; ++b) out[i + b] = src[i + N - 1 - b];
    }
}

int unstuff(Stream &s, int str_type, void **estruc);

const char *plural(int type) {
    switch (type) {
    case ESRI_INT: return "ints";
    case ESRI_DOUBLE: return "doubles";
    case ESRI_POINT: return "points";
    case ESRI_BOX: return "boxes";
    case ESRI_SHORT: return "shorts";
    default: return "bytes";
    }
}

[[noreturn, gnu::cold]] void short_of(Stream &s, const ESRIStrdef &row, size_t count) {
    const size_t item = item_bytes(row.type);
    s.name_row(row);
    throw DecodeError::bad_value(
        format("%zu %s need %zu bytes, %zu remain", count, plural(row.type), count * item, s.in.remaining()));
}

// Fails unless count items of the row's type remain to be read.
inline void need_items(Stream &s, const ESRIStrdef &row, size_t count) {
    if (!s.in.has(count, item_bytes(row.type))) short_of(s, row, count);
}

// count points or boxes into dst, each decoded as structure type str_type.
int decode_elements(Stream &s, int str_type, unsigned char *dst, size_t count) {
    const size_t size = static_cast<size_t>(esri_strdefs_index[str_type]->str_size);
    if (esri_strdefs_flat[str_type]) {
        s.in.copy(dst, count * size);
        return 0;
    }
    for (size_t i = 0; i < count; ++i) {
        void *element = dst + i * size;
        relying_on(unstuff_function, unstuff_function, 1, [&] { return unstuff(s, str_type, &element); });
    }
    return 0;
}

int decode_fixed_row(Stream &s, const ESRIStrdef &row, unsigned char *member) {
    const size_t n = static_cast<size_t>(row.number);
    switch (row.type) {
    case ESRI_INT:
        need_items(s, row, n);
        esri2h<4>(member, s, row.number, row.bigendian);
        return 0;
    case ESRI_DOUBLE:
        need_items(s, row, n);
        esri2h<8>(member, s, row.number, row.bigendian);
        return 0;
    case ESRI_SHORT:
        need_items(s, row, n);
        esri2h<2>(member, s, row.number, row.bigendian);
        return 0;
    case ESRI_POINT: need_items(s, row, n); return decode_elements(s, str_point, member, n);
    case ESRI_BOX: need_items(s, row, n); return decode_elements(s, str_box, member, n);
    case ESRI_CHAR:
    case ESRI_UCHAR:
        need_items(s, row, n);
        s.in.copy(member, n);
        return 0;
    default: return 0;
    }
}

const char *row_name_at(const ESRIStrdefs &set, int offset) {
    for (int i = 0; i < set.strdef_size; ++i)
        if (set.strdef[i].offset == offset) return set.strdef[i].name;
    return "count";
}

int decode_counted_row(Stream &s, const ESRIStrdefs &set, const ESRIStrdef &row, unsigned char *base) {
    if (row.type < ESRI_INT || row.type > ESRI_BOX) return 0;
    int count;
    std::memcpy(&count, base + row.offset_number, sizeof count);
    if (count < 0) {
        if (s.in.bounded() && !s.plain_faults) {
            s.name_row(row);
            throw DecodeError::bad_value(format("%s %d is negative", row_name_at(set, row.offset_number), count));
        }
        throw DecodeError::allocation(unstuff_function);
    }
    const size_t n = static_cast<size_t>(count), item = item_bytes(row.type);
    // Checked before allocating, so that a hostile count allocates nothing.
    need_items(s, row, n);
    auto *array = static_cast<unsigned char *>(std::malloc(n ? n * item : 1));
    if (!array) throw DecodeError::allocation(unstuff_function);
    std::memcpy(base + row.offset, &array, sizeof array);
    switch (row.type) {
    case ESRI_INT: esri2h<4>(array, s, count, row.bigendian); return 0;
    case ESRI_DOUBLE: esri2h<8>(array, s, count, row.bigendian); return 0;
    case ESRI_POINT: return decode_elements(s, str_point, array, n);
    default: return decode_elements(s, str_box, array, n);
    }
}

int decode_record(Stream &s, ESRISHPRECStr *rec);

// A run of n bytes of items from in into memory, the bytes of each item of
// width swap reversed when swap is not 0.
inline void copy_run(unsigned char *dst, ByteReader &in, size_t n, int swap) {
    auto reversed = [&](auto word) {
        using Word = decltype(word);
        in.read_each<Word, std::endian::native == std::endian::little>(
            n / sizeof(Word), [&](size_t i, Word v) { std::memcpy(dst + i * sizeof v, &v, sizeof v); });
    };
    switch (swap) {
    case 2: reversed(std::uint16_t{}); break;
    case 4: reversed(std::uint32_t{}); break;
    case 8: reversed(std::uint64_t{}); break;
    default: copy_short(dst, in.bytes(n), n);
    }
}

int unstuff(Stream &s, int str_type, void **estruc) {
    const ESRIStrdefs *set = find_set(str_type);
    if (!set)
        throw DecodeError::failed(Failure::bad_value, unstuff_function, "str_type 0x%x not defined",
                                  static_cast<unsigned>(str_type));
    if (!*estruc) {
        *estruc = std::malloc(static_cast<size_t>(set->str_size));
        if (!*estruc) throw DecodeError::allocation(unstuff_function);
    }
    std::memset(*estruc, 0, static_cast<size_t>(set->str_size));
    if (!set->strdef) {
        // The record decoder runs on this reader, so that a sized decode stays
        // bounded; the field-properties decoder consumes nothing.
        if (set->unstuff == esri_decode_shapefile_record)
            return decode_record(s, static_cast<ESRISHPRECStr *>(*estruc));
        return 0;
    }
    const int outer_structure = s.structure;
    s.structure = str_type;
    auto *base = static_cast<unsigned char *>(*estruc);
    for (const Step &step : esri_strdefs_steps[str_type]) {
        // Anything out of the ordinary (data that runs short, a negative
        // count, a Z shape without its measures) goes row by row, so that its
        // message names the row.
        if (step.kind == Step::Copy && !s.without_m && s.in.has(static_cast<size_t>(step.bytes))) {
            copy_run(base + step.offset, s.in, static_cast<size_t>(step.bytes), step.swap);
            continue;
        }
        if (step.kind == Step::CountedCopy && !s.without_m) {
            int count;
            std::memcpy(&count, base + step.count_offset, sizeof count);
            const size_t item = static_cast<size_t>(step.bytes);
            if (count >= 0 && s.in.has(static_cast<size_t>(count), item)) {
                const size_t bytes = static_cast<size_t>(count) * item;
                void *array = std::malloc(bytes ? bytes : 1);
                if (!array) throw DecodeError::allocation(unstuff_function);
                std::memcpy(base + step.offset, &array, sizeof array);
                copy_short(array, s.in.bytes(bytes), bytes);
                continue;
            }
        }
        for (int i = step.first_row; i < step.first_row + step.rows; ++i) {
            const ESRIStrdef &row = set->strdef[i];
            // The measures are the last rows of every Z shape.
            if (s.without_m && (std::strcmp(row.name, "m") == 0 || std::strcmp(row.name, "mmin") == 0)) {
                s.structure = outer_structure;
                return 0;
            }
            if (row.number >= 1) decode_fixed_row(s, row, base + row.offset);
            else decode_counted_row(s, *set, row, base);
        }
    }
    s.structure = outer_structure;
    return 0;
}

// ---------------------------------------------------------------------------
// Shapefiles

// Whether a Z record of the given content length stops after its Z values,
// as the format allows: its length is at least the shape up to the Z values
// and less than the shape with its measures.
bool lacks_measures(const Stream &s, int shape_type, size_t length) {
    if (length > s.in.remaining()) return false;
    const ByteReader record = s.in.ahead(length);
    auto word = [&](size_t at) -> long long {
        if (at + 4 > length) return -1;
        ByteReader w = record;
        w.seek(at);
        return w.le32s();
    };
    long long head, points;
    switch (shape_type) {
    case shape_point_z: head = 28, points = 0; break;
    case shape_multipoint_z: head = 40, points = word(36); break;
    case shape_polyline_z:
    case shape_polygon_z: head = 44 + 4 * word(36), points = word(40); break;
    case shape_multipatch: head = 44 + 8 * word(36), points = word(40); break;
    default: return false;
    }
    if (points < 0 || head < 0) return false;
    const long long with_z = shape_type == shape_point_z ? 28 : head + 16 * points + 16 + 8 * points;
    const long long with_m = shape_type == shape_point_z ? 36 : with_z + 16 + 8 * points;
    const auto have = static_cast<long long>(length);
    return have >= with_z && have < with_m;
}

int decode_record(Stream &s, ESRISHPRECStr *rec) {
    rec->offset = static_cast<unsigned long>(s.file_offset());
    void *hdr = &rec->hdr;
    relying_on(record_function, unstuff_function, 0, [&] { return unstuff(s, str_record_header, &hdr); });
    if (s.in.bounded() && !s.plain_faults) {
        const int length = rec->hdr.length;
        if (length < 0) throw DecodeError::bad_value(format("content length %d words is negative", length));
        if (!s.in.has(2 * static_cast<size_t>(length)))
            throw DecodeError::bad_value(format("content length %d words (%zu bytes) runs past the data, %zu remain",
                                                length, 2 * static_cast<size_t>(length), s.in.remaining()));
    }
    // The shape structure starts with its own shape_type row, so the type is
    // read and the position stepped back over it.
    const size_t contents = s.in.position();
    esri2h<4>(&rec->shape_type, s, 1, 0);
    s.in.seek(contents);
    if (!is_shape_type(rec->shape_type)) {
        if (s.in.bounded() && !s.plain_faults)
            throw DecodeError::bad_value(format("shape type %d is not a shape type", rec->shape_type));
        // Framing and dBase types would decode in place of a shape, and a
        // record type would nest records without end: refused like an
        // undefined type.
        throw DecodeError::failed(Failure::bad_value, unstuff_function, "str_type 0x%x not defined",
                                  static_cast<unsigned>(rec->shape_type))
            .then(record_function, unstuff_function);
    }
    s.without_m = s.in.bounded() && lacks_measures(s, rec->shape_type, 2 * static_cast<size_t>(rec->hdr.length));
    try {
        unstuff(s, rec->shape_type, &rec->record);
    } catch (DecodeError &error) {
        s.without_m = false;
        error.then(record_function, unstuff_function);
        throw;
    }
    s.without_m = false;
    return 0;
}

int decode_shapefile(Stream &s, ESRISHPStr *shp) {
    if (shp->records) {
        clrtbl(shp->records, nullptr);
    } else if (!(shp->records = newtbl(0))) {
        throw DecodeError::step_failed("esri_decode_shapefile", "newtbl");
    }
    void *hdr = &shp->hdr;
    s.where = Where{.item = "header"};
    relying_on("esri_decode_shapefile", unstuff_function, 0, [&] { return unstuff(s, str_file_header, &hdr); });
    const long long length = shp->hdr.length;
    if (s.in.bounded()) {
        if (length < 0) throw DecodeError::bad_value(format("file length %lld words is negative", length));
        const size_t bytes = 2 * static_cast<size_t>(length);
        if (bytes > s.in.size())
            throw DecodeError::bad_value(format("file length %lld words (%zu bytes) runs past the data, which has %zu",
                                                length, bytes, s.in.size()));
    }
    long long remaining = length * 2 - 100;
    for (int index = 0; remaining > 0; ++index) {
        s.where = Where{.item = "record", .index = index, .at = static_cast<long long>(s.file_offset())};
        void *rec = nullptr;
        try {
            unstuff(s, str_record, &rec);
        } catch (DecodeError &error) {
            vorpix::esri::release_record(static_cast<ESRISHPRECStr *>(rec));
            error.then("esri_decode_shapefile", unstuff_function);
            throw;
        } catch (...) {
            vorpix::esri::release_record(static_cast<ESRISHPRECStr *>(rec));
            throw;
        }
        if (settbl(shp->records, -1, rec) < 0) {
            vorpix::esri::release_record(static_cast<ESRISHPRECStr *>(rec));
            throw std::bad_alloc();
        }
        remaining -= static_cast<long long>(static_cast<ESRISHPRECStr *>(rec)->hdr.length) * 2 + 8;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// dBase files

constexpr unsigned char field_terminator = 0x0d;

int decode_field_descriptors(Stream &s, ESRIDBASEStr *dbf, int most);

// The header and its field descriptors, up to the terminator.
int decode_dbase_header(Stream &s, ESRIDBASEStr *dbf) {
    if (dbf->field_descriptors) {
        clrtbl(dbf->field_descriptors, nullptr);
    } else if (!(dbf->field_descriptors = newtbl(0))) {
        throw DecodeError::step_failed(dbase_function, "newtbl");
    }
    s.where = Where{.item = "header"};
    const int version = s.in.ahead(1).u8() & 7;
    dbf->level = version == 3 ? 5 : version == 4 ? 7 : version;
    if (dbf->level != 5)
        throw DecodeError::failed(Failure::bad_value, dbase_function, "dbase level = %d - only level 5 supported",
                                  dbf->level);
    void *hdr = &dbf->hdr;
    relying_on(dbase_function, unstuff_function, 0, [&] { return unstuff(s, str_dbase_header5, &hdr); });
    const ESRIDBASEHDRStr &h = dbf->hdr;
    if (s.in.bounded()) {
        if (h.numrecs < 0) throw DecodeError::bad_value(format("numrecs %d is negative", h.numrecs));
        if (h.numbytesrec < 0) throw DecodeError::bad_value(format("numbytesrec %d is negative", h.numbytesrec));
    }
    return decode_field_descriptors(s, dbf, INT_MAX);
}

// The descriptors after the header, up to the terminator or the most given.
int decode_field_descriptors(Stream &s, ESRIDBASEStr *dbf, int most) {
    for (int index = 0; index < most; ++index) {
        s.where = Where{.item = "field descriptor", .index = index, .at = static_cast<long long>(s.file_offset())};
        if (s.in.ahead(1).u8() == field_terminator) break;
        void *descriptor = nullptr;
        try {
            unstuff(s, str_field_descriptor5, &descriptor);
        } catch (DecodeError &error) {
            std::free(descriptor);
            error.then(dbase_function, unstuff_function);
            throw;
        } catch (...) {
            std::free(descriptor);
            throw;
        }
        if (settbl(dbf->field_descriptors, -1, descriptor) < 0) {
            std::free(descriptor);
            throw DecodeError::step_failed(dbase_function, unstuff_function);
        }
    }
    return 0;
}

int decode_dbase(Stream &s, ESRIDBASEStr *dbf) {
    decode_dbase_header(s, dbf);
    const ESRIDBASEHDRStr &h = dbf->hdr;
    s.where = Where{.item = "records area"};
    s.in.skip(1);
    // In the usual layout numbyteshdr counts the terminator and is odd, so the
    // byte passed over here is the first record's deletion flag.
    const bool odd = (h.numbyteshdr & 1) != 0;
    bool flag_missing = false;
    if (odd) {
        if (s.in.has(1)) s.in.skip(1);
        else flag_missing = true;
    }
    std::free(dbf->records);
    dbf->records = nullptr;
    const long long size = static_cast<long long>(h.numrecs) * h.numbytesrec;
    // A file that ends right after its records, without the end-of-file
    // marker, is one byte short of the last slot: that byte is taken as zero.
    // Checked before the size itself, so that data too short for the records
    // is named as such, not as a failed allocation.
    long long available = size;
    if (size >= 0 && (flag_missing || !s.in.has(static_cast<size_t>(std::min<long long>(size, LLONG_MAX))))) {
        const size_t remaining = flag_missing ? 0 : s.in.remaining();
        if (!(odd && (flag_missing ? size == 0 : static_cast<long long>(remaining) + 1 == size)))
            throw DecodeError::bad_value(format("%d records of %d bytes need %lld bytes at byte %zu, %zu remain",
                                                h.numrecs, h.numbytesrec, size,
                                                s.file_offset() + (flag_missing ? 1 : 0), remaining));
        available = static_cast<long long>(remaining);
    }
    // The records' copy is refused with the same message whether its size
    // cannot be or malloc has no room for it.
    if (size < 0 || size > 0x7fffffffLL)
        throw DecodeError::failed(Failure::bad_value, dbase_function, "malloc(%d) error", static_cast<int>(size));
    const size_t bytes = static_cast<size_t>(size);
    auto *records = static_cast<unsigned char *>(std::malloc(bytes ? bytes : 1));
    if (!records)
        throw DecodeError::failed(Failure::allocation, dbase_function, "malloc(%d) error", static_cast<int>(size))
            .logged_with(0);
    s.in.ahead(static_cast<size_t>(available)).copy(records, static_cast<size_t>(available));
    std::memset(records + available, 0, (bytes ? bytes : 1) - static_cast<size_t>(available));
    dbf->records = records;
    return 0;
}

}  // namespace

namespace {

// The header area as a reader of records needs it: a header length that
// holds the header and the descriptors read (at most as many as it has room
// for) and lies within the data, and fields that fit in a record after its
// deletion flag.
int decode_dbase_header_only(Stream &s, ESRIDBASEStr *dbf) {
    if (dbf->field_descriptors) {
        clrtbl(dbf->field_descriptors, std::free);
    } else if (!(dbf->field_descriptors = newtbl(0))) {
        throw DecodeError::step_failed("esri_decode_dbase_header_sized", "newtbl");
    }
    s.where = Where{.item = "header"};
    const int version = s.in.ahead(1).u8() & 7;
    dbf->level = version == 3 ? 5 : version == 4 ? 7 : version;
    if (dbf->level != 5) throw DecodeError::bad_value(format("dBase level %d; only level 5 is read", dbf->level));
    void *hdr = &dbf->hdr;
    unstuff(s, str_dbase_header5, &hdr);
    const ESRIDBASEHDRStr &h = dbf->hdr;
    const int header = static_cast<unsigned short>(h.numbyteshdr);
    const int width = static_cast<unsigned short>(h.numbytesrec);
    if (h.numrecs < 0) throw DecodeError::bad_value(format("numrecs %d is negative", h.numrecs));
    if (header <= 32)
        throw DecodeError::bad_value(
            format("header length of %d bytes, shorter than the 33 bytes of a header without fields", header));
    if (static_cast<size_t>(header) > s.in.size())
        throw DecodeError::bad_value(format(
            "header length of %d bytes runs past the end of the data, which has %zu bytes", header, s.in.size()));
    if (width <= 0) throw DecodeError::bad_value("record length of 0 bytes leaves no room for the deletion flag");
    decode_field_descriptors(s, dbf, (header - 32) / 32);
    int taken = 1;
    for (int i = 0; i < cnttbl(dbf->field_descriptors); ++i)
        taken += static_cast<const ESRIDBASEFIELDDESCRStr *>(gettbl(dbf->field_descriptors, i))->length;
    s.where = Where{.item = "field descriptors"};
    if (taken > width)
        throw DecodeError::bad_value(
            format("the fields take %d bytes of each record, more than the record length of %d", taken, width));
    return 0;
}

bool digits_only(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A numeric field's text as an integer when it is one that fits, else a real.
void number_value(std::string_view text, ESRIDBASEVALUEStr &v) {
    if (text.find_first_not_of('*') == std::string_view::npos) return;  // overflowed
    if (text[0] == '+') text.remove_prefix(1);
    const std::string_view digits = !text.empty() && text[0] == '-' ? text.substr(1) : text;
    if (digits_only(digits)) {
        long long integer = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), integer);
        if (ec == std::errc() && end == text.data() + text.size()) {
            v.type = ESRI_VALUE_INTEGER;
            v.integer = integer;
            return;
        }
    }
    double real = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), real);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(real)) return;
    v.type = ESRI_VALUE_REAL;
    v.real = real;
}

int get_dbase_values(const ESRIDBASEStr *dbf, const unsigned char *record, long size, ESRIDBASEVALUEStr *values,
                     int count) {
    if (!dbf || (!record && size > 0) || size < 0 || (!values && count > 0) || count < 0)
        throw DecodeError::invalid_arguments("esri_get_dbase_values");
    const int fields = dbf->field_descriptors ? cnttbl(dbf->field_descriptors) : 0;
    const auto room = static_cast<size_t>(size);
    size_t offset = 1;
    for (int i = 0; i < count; ++i) {
        ESRIDBASEVALUEStr &v = values[i];
        v = ESRIDBASEVALUEStr{};
        if (i >= fields) continue;
        const auto *d = static_cast<const ESRIDBASEFIELDDESCRStr *>(gettbl(dbf->field_descriptors, i));
        const size_t at = std::min(offset, room), n = std::min<size_t>(d->length, room - at);
        offset += d->length;
        const std::string_view text = field_text_words(reinterpret_cast<const char *>(record) + at, n);
        if (text.empty()) continue;
        switch (d->type) {
        case 'N':
        case 'F':
        case 'O': number_value(text, v); break;
        case 'L':
            if (text.size() == 1 && std::strchr("TtYy", text[0])) v.type = ESRI_VALUE_LOGICAL, v.integer = 1;
            else if (text.size() == 1 && std::strchr("FfNn", text[0])) v.type = ESRI_VALUE_LOGICAL, v.integer = 0;
            break;
        case 'D':
            if (text.size() == 8 && digits_only(text) && text != "00000000") {
                v.type = ESRI_VALUE_DATE;
                std::from_chars(text.data(), text.data() + 8, v.integer);
            }
            break;
        default:
            v.type = ESRI_VALUE_TEXT;
            v.text = reinterpret_cast<const unsigned char *>(text.data());
            v.length = static_cast<int>(text.size());
        }
    }
    return size > 0 && record[0] == '*' ? 1 : 0;
}

}  // namespace

static int esri_decode_dbase_field_properties(void *, unsigned char *, unsigned char **) { return 0; }

// ---------------------------------------------------------------------------
// Entry points

namespace {

// The decoders' state over the caller's stream, for the length-less entry
// points; run_plain moves the stream past what was read.
Stream plain_stream(unsigned char *stream0, unsigned char **stream) {
    return Stream{ByteReader::unbounded(*stream), stream0 ? stream0 : *stream, {}};
}

template <typename Decode>
int decode_sized(const char *function, const unsigned char *data, long size, Decode decode) {
    const auto in = vorpix::sized_reader(function, data, size);
    if (!in) return -1;
    Stream s{*in, in->begin(), {}};
    return vorpix::run_sized(function, "file", s.where, [&] { return decode(s); });
}

}  // namespace

static int esri_decode_shapefile_record(void *estruc, unsigned char *stream0, unsigned char **stream) {
    return vorpix::guarded("esri_decode_shapefile_record", -1, [&] {
        Stream s = plain_stream(stream0, stream);
        return vorpix::run_plain("esri_decode_shapefile_record", stream, s.in,
                                 [&] { return decode_record(s, static_cast<ESRISHPRECStr *>(estruc)); });
    });
}

extern "C" {

int esri_strdefs_init(void) {
    return vorpix::guarded("esri_strdefs_init", -1, [&] {
        if (!esri_strdefs_first.load(std::memory_order_acquire)) return 0;
        // The first decodes may come from several threads at once.
        std::lock_guard<std::mutex> lock(esri_strdefs_build);
        if (esri_strdefs_first.load(std::memory_order_relaxed)) build_index();
        return 0;
    });
}

char *esri_get_shapetype(int shape_type) {
    return vorpix::guarded("esri_get_shapetype", const_cast<char *>("Unknown"), [&] {
        for (const Codedef &c : SHAPETYPE_Codedef)
            if (c.code == shape_type) return const_cast<char *>(c.str);
        return const_cast<char *>("Unknown");
    });
}

int esri_unstuff_stream(int str_type, void **estruc, unsigned char *stream0, unsigned char **stream) {
    return vorpix::guarded("esri_unstuff_stream", -1, [&] {
        Stream s = plain_stream(stream0, stream);
        return vorpix::run_plain("esri_unstuff_stream", stream, s.in, [&] { return unstuff(s, str_type, estruc); });
    });
}

int esri_decode_shapefile(void *estruc, unsigned char *stream0, unsigned char **stream) {
    return vorpix::guarded("esri_decode_shapefile", -1, [&] {
        Stream s = plain_stream(stream0, stream);
        return vorpix::run_plain("esri_decode_shapefile", stream, s.in,
                                 [&] { return decode_shapefile(s, static_cast<ESRISHPStr *>(estruc)); });
    });
}

int esri_decode_dbase_file(void *dstruc, unsigned char *stream0, unsigned char **stream) {
    return vorpix::guarded("esri_decode_dbase_file", -1, [&] {
        auto *dbf = static_cast<ESRIDBASEStr *>(dstruc);
        Stream s = plain_stream(stream0, stream);
        return vorpix::run_plain("esri_decode_dbase_file", stream, s.in, [&] { return decode_dbase(s, dbf); });
    });
}

int esri_get_dbase_fields(ESRIDBASEStr *dbstr, int recno, Arr **fields) {
    return vorpix::guarded("esri_get_dbase_fields", -1, [&] { return get_dbase_fields(dbstr, recno, fields); });
}

int esri_decode_shapefile_sized(ESRISHPStr *shp, const unsigned char *data, long size) {
    return vorpix::guarded("esri_decode_shapefile_sized", -1, [&] {
        return decode_sized("esri_decode_shapefile_sized", data, size,
                            [shp](Stream &s) { return decode_shapefile(s, shp); });
    });
}

int esri_decode_dbase_file_sized(ESRIDBASEStr *dbf, const unsigned char *data, long size) {
    return vorpix::guarded("esri_decode_dbase_file_sized", -1, [&] {
        return decode_sized("esri_decode_dbase_file_sized", data, size,
                            [dbf](Stream &s) { return decode_dbase(s, dbf); });
    });
}

int esri_decode_shapefile_record_sized(ESRISHPRECStr *rec, const unsigned char *data, long size, long offset) {
    return vorpix::guarded("esri_decode_shapefile_record_sized", -1, [&] {
        const int status = decode_sized("esri_decode_shapefile_record_sized", data, size, [rec](Stream &s) {
            s.where = Where{.item = "record"};
            return decode_record(s, rec);
        });
        rec->offset = static_cast<unsigned long>(offset);
        return status;
    });
}

void esri_release_shapefile(ESRISHPStr *shp) {
    vorpix::guarded("esri_release_shapefile", [&] { vorpix::esri::release_shapefile(shp); });
}

void esri_release_shapefile_record(ESRISHPRECStr *rec) {
    vorpix::guarded("esri_release_shapefile_record", [&] {
        if (!rec) return;
        vorpix::esri::release_shape(rec->shape_type, rec->record);
        *rec = ESRISHPRECStr{};
    });
}

int esri_decode_dbase_header_sized(ESRIDBASEStr *dbf, const unsigned char *data, long size) {
    return vorpix::guarded("esri_decode_dbase_header_sized", -1, [&] {
        return decode_sized("esri_decode_dbase_header_sized", data, size,
                            [dbf](Stream &s) { return decode_dbase_header_only(s, dbf); });
    });
}

void esri_release_dbase_file(ESRIDBASEStr *dbf) {
    vorpix::guarded("esri_release_dbase_file", [&] { vorpix::esri::release_dbase_file(dbf); });
}

int esri_get_dbase_values(const ESRIDBASEStr *dbf, const unsigned char *record, long size, ESRIDBASEVALUEStr *values,
                          int count) {
    return vorpix::guarded("esri_get_dbase_values", -1,
                           [&] { return get_dbase_values(dbf, record, size, values, count); });
}

void esri_fprint_shapefile(FILE *file, char *prefix, void *estruc) {
    vorpix::guarded("esri_fprint_shapefile", [&] {
        if (!file) throw DecodeError::failed(Failure::invalid_argument, "esri_fprint_shapefile", "no stream");
        print_shapefile(file, prefix, static_cast<ESRISHPStr *>(estruc));
    });
}

void esri_fprint_shapefile_record(FILE *file, char *prefix, void *estruc, int recno) {
    vorpix::guarded("esri_fprint_shapefile_record", [&] {
        if (!file) throw DecodeError::failed(Failure::invalid_argument, "esri_fprint_shapefile_record", "no stream");
        print_shapefile_record(file, prefix, static_cast<ESRISHPRECStr *>(estruc), recno);
    });
}

void esri_fprint_dbase_file(FILE *file, char *prefix, void *estruc) {
    vorpix::guarded("esri_fprint_dbase_file", [&] {
        if (!file) throw DecodeError::failed(Failure::invalid_argument, "esri_fprint_dbase_file", "no stream");
        print_dbase_file(file, prefix, static_cast<ESRIDBASEStr *>(estruc));
    });
}

void esri_print_shapefile(char *prefix, void *estruc) {
    vorpix::guarded("esri_print_shapefile", [&] { esri_fprint_shapefile(stdout, prefix, estruc); });
}

void esri_print_shapefile_record(char *prefix, void *estruc, int recno) {
    vorpix::guarded("esri_print_shapefile_record",
                    [&] { esri_fprint_shapefile_record(stdout, prefix, estruc, recno); });
}

void esri_print_dbase_file(char *prefix, void *estruc) {
    vorpix::guarded("esri_print_dbase_file", [&] { esri_fprint_dbase_file(stdout, prefix, estruc); });
}

}  // extern "C"

// ---------------------------------------------------------------------------
// One record named by a database row

namespace {

// File names by "database:fileid", and the files made available, for the
// life of the process, shared by every thread: each lookup or insertion
// holds cache_mutex. What they hand out, a path or a file's copy, is never
// changed or released later, so it is used after the mutex is let go.
std::mutex cache_mutex;
Arr *fname_arr = nullptr;
Arr *maparr = nullptr;

// The path cached under key (NULL when there is none) in *path, making the
// cache on first use; false when it cannot be made.
bool cached_path(const char *key, char **path) {
    const std::lock_guard lock(cache_mutex);
    if (!fname_arr && !(fname_arr = newarr(nullptr))) return false;
    *path = static_cast<char *>(getarr(fname_arr, key));
    return true;
}

struct FreeBlock {
    void operator()(char *block) const { std::free(block); }
};

// Caches resolved (a new block) under key, unless another thread cached a
// path there first; the path to use. A path the cache could not take is
// released with *unkept.
char *cache_path(const char *key, char *resolved, std::unique_ptr<char, FreeBlock> *unkept) {
    const std::lock_guard lock(cache_mutex);
    if (auto *known = static_cast<char *>(getarr(fname_arr, key))) {
        std::free(resolved);
        return known;
    }
    setarr(fname_arr, key, resolved);
    if (getarr(fname_arr, key) != resolved) unkept->reset(resolved);
    return resolved;
}

// The record at offset in size bytes at data; problems with the data are
// one message naming the file and the offset.
int decode_record_at(ESRISHPRECStr *record, const char *path, const unsigned char *data, long size, long offset) {
    Stream s{ByteReader(data, static_cast<size_t>(size)), data, Where{.item = "record", .at = offset}};
    s.plain_faults = true;
    return vorpix::run_sized(
        "esri_decode_shapefile_record", "file", s.where,
        [&] {
            if (offset < 0 || offset > size)
                throw DecodeError::bad_value(format("offset %ld lies outside the %ld bytes", offset, size));
            s.in.seek(static_cast<size_t>(offset));
            return decode_record(s, record);
        },
        path);
}

}  // namespace

namespace {

int get_db_shp_record(Dbptr db, ESRISHPRECStr *record) {
    long fileid = 0, offset = 0;
    if (dbgetv(db, nullptr, "fileid", &fileid, "offset", &offset, nullptr) < 0)
        throw DecodeError::step_failed(db_function, "dbgetv");
    char *dbname = nullptr;
    dbquery(db, dbDATABASE_NAME, &dbname);
    char id[32], key[1024];
    std::snprintf(id, sizeof id, "%ld", fileid);
    std::snprintf(key, sizeof key, "%s:%s", dbname ? dbname : "", id);
    char *path = nullptr;
    if (!cached_path(key, &path)) throw DecodeError::step_failed(db_function, "newarr");
    std::unique_ptr<char, FreeBlock> unkept;
    if (!path) {
        Dbptr file = dblookup(db, nullptr, "filename", "fileid", id);
        if (file.record == dbINVALID)
            throw DecodeError::failed(Failure::bad_value, db_function, "Cannot find fileid=%ld in filename table",
                                      fileid);
        file = dblookup(file, nullptr, nullptr, "dbALL", nullptr);
        char filename[256];
        if (dbgetv(file, nullptr, "filename", filename, nullptr) < 0)
            throw DecodeError::step_failed(db_function, "dbgetv");
        if (filename[0] != '/') {
            // Relative to the directory that holds the database.
            char *name = nullptr;
            dbquery(file, dbDATABASE_NAME, &name);
            char full[256];
            std::snprintf(full, sizeof full, "%s", name ? name : "");
            if (char *slash = std::strrchr(full, '/')) {
                slash[1] = '\0';
                const size_t used = std::strlen(full);
                if (used + std::strlen(filename) >= sizeof full)
                    throw DecodeError::failed(Failure::bad_value, db_function, "%s%s is longer than 255 characters",
                                              full, filename);
                std::memcpy(full + used, filename, std::strlen(filename) + 1);
                std::memcpy(filename, full, std::strlen(full) + 1);
            }
        }
        const size_t length = std::strlen(filename);
        auto *resolved = static_cast<char *>(std::malloc(length + 1));
        if (!resolved) throw DecodeError::allocation(db_function);
        std::memcpy(resolved, filename, length + 1);
        path = cache_path(key, resolved, &unkept);
    }
    char *data = nullptr;
    long size = -1;
    {
        // The file is read, when it must be, with the mutex held: another
        // thread that asks for it meanwhile then finds the copy, read once.
        const std::lock_guard lock(cache_mutex);
        size = mapfile(path, &maparr, &data);
    }
    if (size < 0) throw DecodeError::cannot_open(db_function, "mapfile", path);
    // The decoder has logged what is wrong with the data, naming the file.
    if (decode_record_at(record, path, reinterpret_cast<const unsigned char *>(data), size, offset) < 0)
        throw DecodeError::step_failed(db_function, "esri_decode_shapefile_record");
    return 0;
}

}  // namespace

extern "C" int esri_get_db_shp_record(Dbptr db, ESRISHPRECStr *record) {
    return vorpix::guarded("esri_get_db_shp_record", -1, [&] { return get_db_shp_record(db, record); });
}
