// The values of a dBase record's character and numeric fields: each field's
// bytes up to the first zero byte, trimmed of white space at both ends, in an
// array keyed by the field's trimmed name. Included once, by
// esri_strdefs.cpp.
#ifndef VORPIX_DBASE_FIELDS_HPP
#define VORPIX_DBASE_FIELDS_HPP

#include "esri.h"
#include "short_copy.hpp"

#include "arrays.h"
#include "redblack.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include "vector_paths.hpp"
#if defined(VORPIX_VECTOR_SSE2)
#include <emmintrin.h>
#endif
#if defined(VORPIX_VECTOR_SSE2) && defined(VORPIX_VECTOR_AVX2)
#define VORPIX_DBASE_AVX2 1
#include <immintrin.h>
#endif

namespace {

using vorpix::copy_short;

// The place of the first zero byte among n, or n. Field values are short, so
// this looks at a word of eight bytes at a time without a call.
size_t first_zero(const char *text, size_t n) {
    constexpr std::uint64_t low7 = 0x7f7f7f7f7f7f7f7fULL;
    // The top bit of each byte that is zero, and of no other.
    auto zeros = [](std::uint64_t w) { return ~(((w & low7) + low7) | w | low7); };
    size_t at = 0;
    for (; at + 8 <= n; at += 8) {
        std::uint64_t w;
        std::memcpy(&w, text + at, sizeof w);
        if (const std::uint64_t z = zeros(w)) {
            if constexpr (std::endian::native == std::endian::little)
                return at + static_cast<size_t>(std::countr_zero(z)) / 8;
            else return at + static_cast<size_t>(std::countl_zero(z)) / 8;
        }
    }
    for (; at < n; ++at)
        if (text[at] == 0) return at;
    return n;
}

// A field's value: its bytes up to the first zero byte, without leading and
// trailing blanks as strtrim takes them (white space in the C locale), found
// where the bytes stand, before any copy. This form works a word of eight
// bytes at a time on any machine.
std::string_view field_text_words(const char *text, size_t n) {
    auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    // Fields are padded with long runs of spaces: a word of eight bytes tells
    // how many of them are spaces.
    constexpr std::uint64_t spaces = 0x2020202020202020ULL;
    constexpr bool little = std::endian::native == std::endian::little;
    auto word = [text](size_t at) {
        std::uint64_t w;
        std::memcpy(&w, text + at, sizeof w);
        return w ^ spaces;  // zero bytes where the spaces are
    };
    // Trailing blanks hold no zero byte, so the zero byte is looked for only
    // in front of them.
    while (n >= 8) {
        const std::uint64_t w = word(n - 8);
        if (w) {
            if (little) n -= static_cast<size_t>(std::countl_zero(w)) / 8;
            break;
        }
        n -= 8;
    }
    while (n > 0 && blank(text[n - 1])) --n;
    if (const size_t zero = first_zero(text, n); zero < n) {
        n = zero;
        while (n > 0 && blank(text[n - 1])) --n;
    }
    size_t begin = 0;
    while (begin + 8 <= n) {
        const std::uint64_t w = word(begin);
        if (w) {
            if (little) begin += static_cast<size_t>(std::countr_zero(w)) / 8;
            break;
        }
        begin += 8;
    }
    while (begin < n && blank(text[begin])) ++begin;
    return {text + begin, n - begin};
}

#if defined(VORPIX_VECTOR_SSE2)
// The same with 16 bytes at a time: runs of trailing spaces are passed over,
// and what is left, when at most 64 bytes, becomes two masks (blank bytes,
// zero bytes) from which both ends follow by counting bits. readable bytes
// (at least n) may be read from text: a shorter field is loaded as 16 bytes
// with what follows it, which the masks leave out.
std::string_view field_text_sse2(const char *text, size_t n, size_t readable) {
    const __m128i spaces = _mm_set1_epi8(' ');
    auto load = [](const char *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); };
    auto all_spaces = [&](const char *p) { return _mm_movemask_epi8(_mm_cmpeq_epi8(load(p), spaces)) == 0xffff; };
    // Wide fields hold short values: their long padding is passed 64 bytes
    // at a step, without a branch for each 16.
    while (n >= 80) {
        const char *p = text + n - 64;
        const __m128i same = _mm_and_si128(
            _mm_and_si128(_mm_cmpeq_epi8(load(p), spaces), _mm_cmpeq_epi8(load(p + 16), spaces)),
            _mm_and_si128(_mm_cmpeq_epi8(load(p + 32), spaces), _mm_cmpeq_epi8(load(p + 48), spaces)));
        if (_mm_movemask_epi8(same) != 0xffff) break;
        n -= 64;
    }
    while (n > 16 && all_spaces(text + n - 16)) n -= 16;
    if (n > 64) return field_text_words(text, n);
    // Bit i: byte i is blank, or zero.
    std::uint64_t blank = 0, zero = 0;
    auto classify = [&](__m128i v, size_t at) {
        const __m128i control = _mm_sub_epi8(v, _mm_set1_epi8('\t'));  // \t to \r become 0 to 4
        const __m128i is_control = _mm_cmpeq_epi8(_mm_min_epu8(control, _mm_set1_epi8(4)), control);
        const auto b = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, spaces), is_control)));
        const auto z = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())));
        blank |= std::uint64_t{b} << at;
        zero |= std::uint64_t{z} << at;
    };
    if (n >= 16) {
        // The last 16 bytes may overlap the ones before: the same bits again.
        for (size_t at = 0;; at += 16) {
            const size_t from = std::min(at, n - 16);
            classify(load(text + from), from);
            if (from + 16 == n) break;
        }
    } else if (readable >= 16) {
        classify(load(text), 0);
    } else {
        // Only near the end of the records: a copy read back at once waits
        // for its stores.
        char padded[16];
        std::memset(padded, ' ', sizeof padded);
        std::memcpy(padded, text, n);
        classify(load(padded), 0);
    }
    const std::uint64_t within = n == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
    std::uint64_t kept = ~blank & within;
    if (zero & within) kept &= (std::uint64_t{1} << std::countr_zero(zero & within)) - 1;
    if (!kept) return {text, text};  // nothing kept
    const auto begin = static_cast<size_t>(std::countr_zero(kept));
    const auto end = 64 - static_cast<size_t>(std::countl_zero(kept));
    return {text + begin, end - begin};
}
#endif

#if defined(VORPIX_DBASE_AVX2)
// The AVX2 form: 32 bytes at a time, so that a field of up to 64 bytes
// takes one or two loads. Padding of wider fields is passed 32 bytes at a
// step; what is still wider, or lies too near the end of the records for a
// whole load, goes to the SSE2 form.
[[gnu::target("avx2"), gnu::always_inline]] inline void classify_avx2(const char *p, std::uint32_t &blank,
                                                                      std::uint32_t &zero) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
    const __m256i control = _mm256_sub_epi8(v, _mm256_set1_epi8('\t'));  // \t to \r become 0 to 4
    const __m256i is_control = _mm256_cmpeq_epi8(_mm256_min_epu8(control, _mm256_set1_epi8(4)), control);
    blank = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(' ')), is_control)));
    zero = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_setzero_si256())));
}

[[gnu::target("avx2"), gnu::always_inline]] inline std::string_view field_text_avx2(const char *text, size_t n,
                                                                                    size_t readable) {
    while (n > 64) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(text + n - 32));
        if (static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(' ')))) !=
            0xffffffffU)
            return field_text_sse2(text, n, readable);
        n -= 32;
    }
    std::uint64_t blank, zero;
    std::uint32_t b, z;
    if (n > 32) {
        // The last 32 bytes overlap the first: the same bits again.
        classify_avx2(text, b, z);
        blank = b, zero = z;
        classify_avx2(text + n - 32, b, z);
        blank |= std::uint64_t{b} << (n - 32);
        zero |= std::uint64_t{z} << (n - 32);
    } else if (readable >= 32) {
        classify_avx2(text, b, z);
        blank = b, zero = z;
    } else {
        return field_text_sse2(text, n, readable);
    }
    const std::uint64_t within = n == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
    zero &= within;
    // Below the first zero byte, or all of the field.
    const std::uint64_t before_zero = zero ? (zero & (0 - zero)) - 1 : within;
    const std::uint64_t kept = ~blank & before_zero;
    if (!kept) return {text, text};
    const auto begin = static_cast<size_t>(std::countr_zero(kept));
    const auto end = 64 - static_cast<size_t>(std::countl_zero(kept));
    return {text + begin, end - begin};
}
#endif

// readable: how many bytes from text may be read, at least n; vector: the
// answer of vorpix::use_sse2(), asked once for many fields.
std::string_view field_text(const char *text, size_t n, size_t readable, bool vector) {
#if defined(VORPIX_VECTOR_SSE2)
    if (vector) return field_text_sse2(text, n, readable);
#else
    (void)readable;
    (void)vector;
#endif
    return field_text_words(text, n);
}

// What every record of a file shares, worked out once from the descriptors:
// the character and numeric fields under their trimmed names, each with
// where it lies within a record. A name given twice keeps the later field,
// as setarr would. The names are in byte-wise order, the order of the host's
// arrays, so that each key an array takes goes at its end.
class FieldPlan {
public:
    struct Field {
        std::string key;
        size_t offset;  // from the start of the record's slot, the widths of the fields before it added up
        size_t length;
    };

    // Made again whenever a descriptor's name, type or width differs from
    // those it was made from, so that it is never stale.
    bool matches(Tbl *descriptors) const {
        const int n = cnttbl(descriptors);
        if (n != count_) return false;
        for (int i = 0; i < n; ++i)
            if (used(gettbl(descriptors, i)) != made_from_[static_cast<size_t>(i)]) return false;
        return true;
    }

    void make(Tbl *descriptors) {
        count_ = -1;
        fields_.clear();
        const int n = cnttbl(descriptors);
        made_from_.resize(static_cast<size_t>(n));
        size_t offset = 0;
        for (int i = 0; i < n; ++i) {
            const auto *d = static_cast<const ESRIDBASEFIELDDESCRStr *>(gettbl(descriptors, i));
            made_from_[static_cast<size_t>(i)] = used(d);
            if (d->type == 'C' || d->type == 'N')
                fields_.push_back({std::string(field_text(d->name, sizeof d->name, sizeof d->name, vorpix::use_sse2())),
                                   offset, d->length});
            offset += d->length;
        }
        std::stable_sort(fields_.begin(), fields_.end(), [](const Field &a, const Field &b) { return a.key < b.key; });
        // Of the fields under one name, the last in the file stays.
        const auto same_name = [](const Field &a, const Field &b) { return a.key == b.key; };
        std::reverse(fields_.begin(), fields_.end());
        fields_.erase(std::unique(fields_.begin(), fields_.end(), same_name), fields_.end());
        std::reverse(fields_.begin(), fields_.end());
        texts_.resize(fields_.size());
        count_ = n;
    }

    const std::vector<Field> &fields() const { return fields_; }
    // Room for the values of one record, a view for each field.
    std::string_view *texts() { return texts_.data(); }

private:
    // The members of a descriptor that decide the plan (name, type, length),
    // as two words that overlap.
    struct Used {
        std::uint64_t head, tail;
        bool operator==(const Used &) const = default;
    };
    static constexpr size_t used_bytes = offsetof(ESRIDBASEFIELDDESCRStr, length) + 1;
    static_assert(offsetof(ESRIDBASEFIELDDESCRStr, name) == 0 && offsetof(ESRIDBASEFIELDDESCRStr, type) < used_bytes);
    static_assert(used_bytes > 8 && used_bytes <= 16);
    static Used used(const void *descriptor) {
        const auto *bytes = static_cast<const unsigned char *>(descriptor);
        Used u;
        std::memcpy(&u.head, bytes, 8);
        std::memcpy(&u.tail, bytes + used_bytes - 8, 8);
        return u;
    }

    int count_ = -1;  // -1: not made
    std::vector<Used> made_from_;
    std::vector<Field> fields_;
    std::vector<std::string_view> texts_;
};

// The values of one record's fields, trimmed where they stand. Fields wider
// than their record read into the next one, as the widths say, but never
// past the records copy: room bytes from record on.
template <typename Trim>
[[gnu::always_inline]] inline void trim_record(const FieldPlan::Field *fields, size_t n, const char *record,
                                               size_t room, std::string_view *texts, Trim trim) {
    for (size_t i = 0; i < n; ++i) {
        const size_t at = std::min(fields[i].offset, room);
        texts[i] = trim(record + at, std::min(fields[i].length, room - at), room - at);
    }
}

void trim_record_words(const FieldPlan::Field *fields, size_t n, const char *record, size_t room,
                       std::string_view *texts) {
    trim_record(fields, n, record, room, texts,
                [](const char *text, size_t length, size_t) { return field_text_words(text, length); });
}

#if defined(VORPIX_VECTOR_SSE2)
void trim_record_sse2(const FieldPlan::Field *fields, size_t n, const char *record, size_t room,
                      std::string_view *texts) {
    trim_record(fields, n, record, room, texts, field_text_sse2);
}
#endif

#if defined(VORPIX_DBASE_AVX2)
[[gnu::target("avx2")]] void trim_record_avx2(const FieldPlan::Field *fields, size_t n, const char *record, size_t room,
                                              std::string_view *texts) {
    // Most records lie far enough from the end of the copy that no field
    // needs its place or width cut, and each may be read as 32 bytes.
    size_t reach = 0;
    for (size_t i = 0; i < n; ++i) reach = std::max(reach, fields[i].offset + fields[i].length);
    if (room >= reach + 32) {
        for (size_t i = 0; i < n; ++i)
            texts[i] = field_text_avx2(record + fields[i].offset, fields[i].length,
                                       std::max<size_t>(fields[i].length, 32));
        return;
    }
    for (size_t i = 0; i < n; ++i) {
        const size_t at = std::min(fields[i].offset, room);
        texts[i] = field_text_avx2(record + at, std::min(fields[i].length, room - at), room - at);
    }
}
#endif

void trim_record_chosen(const FieldPlan::Field *fields, size_t n, const char *record, size_t room,
                        std::string_view *texts) {
    switch (vorpix::vector_level()) {
#if defined(VORPIX_DBASE_AVX2)
    case vorpix::VectorLevel::avx2: return trim_record_avx2(fields, n, record, room, texts);
#endif
#if defined(VORPIX_VECTOR_SSE2)
    case vorpix::VectorLevel::sse2: return trim_record_sse2(fields, n, record, room, texts);
#endif
    default: return trim_record_words(fields, n, record, room, texts);
    }
}

// The plan of the last call waits here for the next one. A call while it is
// out (on another thread) makes a plan of its own; whichever is handed back
// last is kept. No per-thread storage: a thread's exit must not need our code.
std::atomic<FieldPlan *> spare_plan{nullptr};

class PlanLease {
public:
    PlanLease() : plan_(spare_plan.exchange(nullptr, std::memory_order_acquire)) {
        if (!plan_) plan_ = new FieldPlan;
    }
    ~PlanLease() { delete spare_plan.exchange(plan_, std::memory_order_acq_rel); }
    PlanLease(const PlanLease &) = delete;
    PlanLease &operator=(const PlanLease &) = delete;
    FieldPlan &operator*() const { return *plan_; }

private:
    FieldPlan *plan_;
};

// The value blocks of an array handed in, which the array gives up as it is
// released, in key order: each may hold a new value that fits in it, as if
// released and allocated again, so that a pass over a file's records, which
// hands each array back for the next record, allocates little. Blocks far
// larger than any field value are not kept; those not taken are released.
class SpareBlocks {
public:
    SpareBlocks() = default;
    SpareBlocks(const SpareBlocks &) = delete;
    SpareBlocks &operator=(const SpareBlocks &) = delete;
    ~SpareBlocks() {
        while (next_ < count_) std::free(blocks_[next_++]);
    }

    // Releases the array, keeping the blocks of its values.
    void take(Arr *array) {
        if (!array) return;
        collecting = this;
        freearr(array, keep);
        collecting = nullptr;
    }

    // A block of at least need bytes: the next spare one if it is large
    // enough, else a new one (and the spare one is released).
    void *block(size_t need) {
        void *spare = next_ < count_ ? blocks_[next_++] : nullptr;
        if (fits(spare, need)) return spare;
        std::free(spare);
        return std::malloc(need);
    }

private:
    static void keep(void *value) {
        SpareBlocks *s = collecting;
        if (s && value && s->count_ < capacity) s->blocks_[s->count_++] = value;
        else std::free(value);
    }
    static bool fits(void *block, size_t need) {
#if defined(__GLIBC__)
        constexpr size_t largest_kept = 1024;
        if (!block) return false;
        const size_t usable = malloc_usable_size(block);
        return usable >= need && usable <= largest_kept;
#else
        (void)block;
        (void)need;
        return false;
#endif
    }

    static constexpr size_t capacity = 64;
    // The blocks being kept while freearr runs, which gives its release
    // function no context: a plain pointer, which a thread's exit leaves be.
    [[gnu::tls_model("initial-exec")]] static inline thread_local SpareBlocks *collecting = nullptr;
    void *blocks_[capacity];
    size_t count_ = 0, next_ = 0;
};

int get_dbase_fields(ESRIDBASEStr *dbstr, int recno, Arr **fields) {
    SpareBlocks spare;
    spare.take(std::exchange(*fields, nullptr));
    if (!dbstr->records) return 0;
    const ESRIDBASEHDRStr &h = dbstr->hdr;
    if (recno < 0 || recno >= h.numrecs || h.numbytesrec < 0)
        throw vorpix::DecodeError::failed(vorpix::Failure::invalid_argument, "esri_get_dbase_fields",
                                          "record %d outside 0 to %d", recno, h.numrecs - 1);
    const PlanLease lease;
    FieldPlan &plan = *lease;
    if (!plan.matches(dbstr->field_descriptors)) plan.make(dbstr->field_descriptors);
    const size_t start = static_cast<size_t>(recno) * static_cast<size_t>(h.numbytesrec);
    const size_t room = static_cast<size_t>(h.numrecs) * static_cast<size_t>(h.numbytesrec) - start;
    const char *record = reinterpret_cast<const char *>(dbstr->records) + start;
    const std::vector<FieldPlan::Field> &planned = plan.fields();
    std::string_view *texts = plan.texts();
    trim_record_chosen(planned.data(), planned.size(), record, room, texts);
    Arr *values = newarr(nullptr);
    if (!values) throw vorpix::DecodeError::step_failed("esri_get_dbase_fields", "newarr");
    for (size_t i = 0; i < planned.size(); ++i) {
        const std::string_view text = texts[i];
        const char *key = planned[i].key.c_str();
        auto *value = static_cast<char *>(spare.block(text.size() + 1));
        if (value) {
            copy_short(value, text.data(), text.size());
            value[text.size()] = '\0';
            setarr(values, key, value);
        }
        // setarr has no failure result: a key it could not store is missing.
        if (!value || getarr(values, key) != value) {
            std::free(value);
            freearr(values, std::free);
            throw vorpix::DecodeError::allocation("esri_get_dbase_fields");
        }
    }
    *fields = values;
    return 0;
}

}  // namespace

#endif
