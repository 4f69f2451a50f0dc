// netCDF classic headers: the decoder, plain and sized, the check that each
// variable's data lies inside the file, and the entry points that decode and
// clear headers. The format's numbers (tags, type names and sizes) are in
// netcdf_tables.hpp, the listings of headers and values in netcdf_printer.hpp.
#include "netcdf.h"

#include "byte_reader.hpp"
#include "c_boundary.hpp"
#include "netcdf_printer.hpp"
#include "netcdf_tables.hpp"

#include "byteorder.h"
#include "redblack.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

#include <malloc.h>

namespace {

using vorpix::ByteReader;
using vorpix::DecodeError;
using vorpix::Failure;
using vorpix::relying_on;
using vorpix::Where;

constexpr const char *header_function = "netcdf_unstuff_header";

// Where the pieces of a header come from: malloc, or first the blocks of
// what the record held before. Decoding again into one record would
// otherwise free a few dozen small blocks and ask for as many again. The old
// blocks are kept in the order in which a decode asks for its pieces, and the
// piece asked for at the same place takes the block when malloc would have
// given it a block of that size class: a file decoded again finds every
// block at hand. A block's size is malloc's word, not the record's counts,
// for the client may have replaced any piece with a block of its own. Every
// piece stays a block of its own that the client may free or realloc, and
// the blocks not taken again are freed at the end.
class Recycled {
    static constexpr int capacity = 256;
    struct Piece {
        void *block;
        size_t usable;
    };

public:
    Recycled() = default;
    Recycled(const Recycled &) = delete;
    Recycled &operator=(const Recycled &) = delete;
    ~Recycled() {
        // Every block was taken when every place was asked for and none
        // refused; the rest are NULL.
        if (next_ == kept_ && !refused_) return;
        for (int i = 0; i < kept_; ++i) std::free(piece_[i].block);
    }

    // Takes the blocks of the old record, NULL keeping its place, through a
    // cursor of its own that stays in a register while malloc is asked the
    // size of each.
    class Keeper {
    public:
        explicit Keeper(Recycled &to) : to_(to), out_(to.piece_ + to.kept_) {}
        Keeper(const Keeper &) = delete;
        Keeper &operator=(const Keeper &) = delete;
        ~Keeper() { to_.kept_ = static_cast<int>(out_ - to_.piece_); }
        // False when there is no room for the block: the caller frees it, an
        // array once it has offered what the array holds.
        bool keep(void *block) {
            if (out_ == to_.piece_ + capacity) [[unlikely]]
                return false;
            *out_++ = Piece{block, block ? malloc_usable_size(block) : 0};
            return true;
        }
        void keep_leaf(void *block) {
            if (!keep(block)) std::free(block);
        }

    private:
        Recycled &to_;
        Piece *out_;
    };

    // n bytes (at least one), or NULL.
    void *get(size_t n) {
        if (!n) n = 1;
        if (next_ < kept_) {
            Piece &p = piece_[next_++];
            // Of n's class when it holds n and no more than n's class does.
            if (p.usable - n <= usable_size(n) - n) [[likely]]
                return std::exchange(p.block, nullptr);
            refused_ = true;
        }
        return std::malloc(n);
    }

    // malloc and a clear rather than calloc: glibc's calloc passes by the
    // per-thread cache that serves the many small pieces of a header.
    void *zeroed(size_t count, size_t size) {
        if (!count) count = 1;
        if (count > SIZE_MAX / size) return nullptr;
        void *p = get(count * size);
        if (!p) return nullptr;
        asm volatile("" : : "r"(p) : "memory");  // keeps the compiler from making this calloc again
        std::memset(p, 0, count * size);
        return p;
    }

private:
    // What malloc_usable_size says of glibc's block for n bytes: chunks in
    // steps of 16 bytes, 8 of them its header, 32 at the least. Where malloc
    // reports the size asked for (under a sanitizer), a block serves the
    // sizes of its class that it holds.
    static size_t usable_size(size_t n) {
        return n > SIZE_MAX - 32 ? n : std::max<size_t>(32, (n + 8 + 15) & ~size_t{15}) - 8;
    }

    Piece piece_[capacity];
    int kept_ = 0;
    int next_ = 0;
    bool refused_ = false;
};

// Offers the pieces of hdr to recycled in the order in which a decode asks
// for them, frees its index, and leaves the header empty.
void recycle_contents(NETCDFHdr *hdr, Recycled &recycled) {
    Recycled::Keeper keeper(recycled);
    const auto attrs = [&](NETCDFAttr *list, int n) {
        const bool kept = keeper.keep(list);
        for (int i = 0; i < n; ++i) {
            keeper.keep_leaf(list[i].name);
            keeper.keep_leaf(list[i].values.values);
        }
        if (!kept) std::free(list);
    };
    if (hdr->dims) {
        const bool kept = keeper.keep(hdr->dims);
        for (int i = 0; i < hdr->dims_n; ++i) keeper.keep_leaf(hdr->dims[i].name);
        if (!kept) std::free(hdr->dims);
    }
    hdr->dims = nullptr;
    hdr->dims_n = 0;
    if (hdr->attrs) attrs(hdr->attrs, hdr->attrs_n);
    hdr->attrs = nullptr;
    hdr->attrs_n = 0;
    if (hdr->vars) {
        const bool kept = keeper.keep(hdr->vars);
        for (int i = 0; i < hdr->vars_n; ++i) {
            NETCDFVar &v = hdr->vars[i];
            keeper.keep_leaf(v.name);
            keeper.keep_leaf(v.dims);
            // An attribute list that was ABSENT asked for nothing.
            if (v.attrs) attrs(v.attrs, v.nattrs);
        }
        if (!kept) std::free(hdr->vars);
    }
    hdr->vars = nullptr;
    hdr->vars_n = 0;
    if (hdr->vars_array) freearr(hdr->vars_array, nullptr);
    hdr->vars_array = nullptr;
}

// Hands every piece of the header to release and leaves the header empty.
// Entries whose pointers are NULL are skipped, so that a client may take or
// free pieces itself and set them NULL before clearing.
template <typename Release>
void release_contents(NETCDFHdr *hdr, Release &&release) {
    const auto attrs = [&](NETCDFAttr *list, int n) {
        if (!list) return;
        for (int i = 0; i < n; ++i) {
            release(list[i].name);
            release(list[i].values.values);
        }
        release(list);
    };
    if (hdr->dims) {
        for (int i = 0; i < hdr->dims_n; ++i) release(hdr->dims[i].name);
        release(hdr->dims);
    }
    hdr->dims = nullptr;
    hdr->dims_n = 0;
    attrs(hdr->attrs, hdr->attrs_n);
    hdr->attrs = nullptr;
    hdr->attrs_n = 0;
    if (hdr->vars) {
        for (int i = 0; i < hdr->vars_n; ++i) {
            NETCDFVar &v = hdr->vars[i];
            release(v.name);
            release(v.dims);
            attrs(v.attrs, v.nattrs);
        }
        release(hdr->vars);
    }
    hdr->vars = nullptr;
    hdr->vars_n = 0;
    if (hdr->vars_array) freearr(hdr->vars_array, nullptr);
    hdr->vars_array = nullptr;
}

void clear_contents(NETCDFHdr *hdr) {
    release_contents(hdr, [](void *p) { std::free(p); });
}

// The sized decoder reports a negative count in one message with its place;
// the plain one fails at the level that read it, so that every caller above
// adds its own line as for any other failure.
[[noreturn, gnu::noinline, gnu::cold]] void refuse_negative(bool bounded, size_t position, const char *function,
                                                            const char *what, std::int32_t value) {
    if (bounded) throw DecodeError::bad_value(std::string(what) + " " + std::to_string(value), position);
    throw DecodeError::failed(Failure::bad_value, function, "file error: %s %d is negative", what,
                              static_cast<int>(value));
}

inline void not_negative(const ByteReader &in, const char *function, const char *what, std::int32_t value) {
    if (value < 0) [[unlikely]]
        refuse_negative(in.bounded(), in.position(), function, what, value);
}

// n bytes from src to dst: names are short, and overlapping moves of a
// fixed width cost less than a call.
[[gnu::always_inline]] inline void copy_short(char *dst, const unsigned char *src, size_t n) {
    const auto move = [](char *to, const unsigned char *from, auto word) {
        std::memcpy(&word, from, sizeof word);
        std::memcpy(to, &word, sizeof word);
    };
    struct Wide {
        unsigned char bytes[16];
    };
    if (n >= 16 && n <= 64) {
        for (size_t i = 0; i + 16 < n; i += 16) move(dst + i, src + i, Wide{});
        move(dst + n - 16, src + n - 16, Wide{});
    } else if (n >= 8 && n < 16) {
        move(dst, src, std::uint64_t{});
        move(dst + n - 8, src + n - 8, std::uint64_t{});
    } else if (n >= 4 && n < 8) {
        move(dst, src, std::uint32_t{});
        move(dst + n - 4, src + n - 4, std::uint32_t{});
    } else if (n) {
        std::memcpy(dst, src, n);
    }
}

// source and length, when given, receive where the name lies in the data.
[[gnu::always_inline]] inline char *decode_string(ByteReader &in, Recycled &blocks,
                                                  const unsigned char **source = nullptr, size_t *length = nullptr) {
    const std::int32_t stored = in.be32s();
    not_negative(in, "netcdf_unstuff_string", "name length", stored);
    const size_t n = static_cast<size_t>(stored);
    const size_t consumed = n + fill_of(n);
    in.need(consumed);
    auto *s = static_cast<char *>(blocks.get(n + 1));
    if (!s) throw DecodeError::allocation("netcdf_unstuff_string");
    const unsigned char *from = in.bytes(consumed);
    copy_short(s, from, n);
    s[n] = '\0';
    if (source) *source = from;
    if (length) *length = n;
    return s;
}

// Reads values->n values of values->type into a new buffer, over whatever
// values->values held (a list entry's, still NULL).
[[gnu::always_inline]] inline void decode_values(ByteReader &in, NETCDFValues &values, Recycled &blocks) {
    const int item = value_size(values.type);
    if (item == 0) [[unlikely]]
        throw DecodeError::failed(Failure::bad_value, "netcdf_unstuff_values", "Unrecognized values type = %d",
                                  values.type);
    not_negative(in, "netcdf_unstuff_values", "value count", values.n);
    const size_t n = static_cast<size_t>(values.n);
    const size_t size = n * static_cast<size_t>(item);  // n < 2^31 and item <= 8: no overflow
    const size_t padded = size + fill_of(size);
    if (!in.has(padded)) [[unlikely]] {
        in.need(size);  // the values themselves first, then their padding
        in.need(padded);
    }
    const bool text = values.type == NETCDF_CHAR;
    void *buffer = blocks.get(text ? size + 1 : size);
    if (!buffer)
        throw DecodeError::allocation("netcdf_unstuff_values", "malloc", "values->values", static_cast<int>(size));
    const unsigned char *src = in.bytes(padded);
    switch (values.type) {
    case NETCDF_BYTE:
    case NETCDF_CHAR:
        copy_short(static_cast<char *>(buffer), src, size);
        if (text) static_cast<char *>(buffer)[size] = '\0';
        break;
    case NETCDF_SHORT: N2H2(buffer, src, values.n); break;
    case NETCDF_INT:
    case NETCDF_FLOAT: N2H4(buffer, src, values.n); break;
    default: N2H8(buffer, src, values.n); break;
    }
    values.values = buffer;
}

int decode_values(ByteReader &in, NETCDFValues *values, Recycled &blocks) {
    if (!values) throw DecodeError::failed(Failure::invalid_argument, "netcdf_unstuff_values", "values == NULL");
    std::free(std::exchange(values->values, nullptr));
    decode_values(in, *values, blocks);
    return 0;
}

// A failure of a step of a list entry passes on with the line of the list's
// decoder: one handler for the entry's steps, which name themselves.
struct Step {
    const char *name;
    const char *argument;
};

[[gnu::always_inline]] inline int decode_attrs(ByteReader &in, int *nattrs, NETCDFAttr **attrs, Where &where,
                                               Recycled &blocks) {
    const std::int32_t tag = in.be32s();
    if (tag == tag_absent) {
        if (in.be32s() != 0)
            throw DecodeError::failed(Failure::bad_value, "netcdf_unstuff_attrs",
                                      "file error: expecting NC_ATTRIBUTE or ABSENT");
        return 0;
    }
    if (tag != tag_attribute)
        throw DecodeError::failed(Failure::bad_value, "netcdf_unstuff_attrs", "file error: expecting NC_ATTRIBUTE");
    const std::int32_t count = in.be32s();
    not_negative(in, "netcdf_unstuff_attrs", "attribute count", count);
    in.need(static_cast<size_t>(count), min_attribute_bytes);
    auto *list = static_cast<NETCDFAttr *>(blocks.zeroed(static_cast<size_t>(count), sizeof(NETCDFAttr)));
    if (!list) throw DecodeError::allocation("netcdf_unstuff_attrs", "malloc", "attrs");
    *attrs = list;
    *nattrs = count;
    constexpr Step name_step{"netcdf_unstuff_string", "attrs->name"};
    constexpr Step values_step{"netcdf_unstuff_values", "attrs->values"};
    const Step *step = &name_step;
    try {
        for (int i = 0; i < count; ++i) {
            where.sub_index = i;
            NETCDFAttr &a = list[i];
            step = &name_step;
            a.name = decode_string(in, blocks);
            if (in.has(8)) [[likely]] {
                const auto words = in.block<8>();
                a.values.type = words.be32s<0>();
                a.values.n = words.be32s<4>();
            } else {  // word by word, for the message that names the first one missing
                a.values.type = in.be32s();
                a.values.n = in.be32s();
            }
            step = &values_step;
            decode_values(in, a.values, blocks);
        }
    } catch (DecodeError &error) {
        error.then("netcdf_unstuff_attrs", step->name, 1, step->argument);
        throw;
    }
    where.sub_index = -1;
    return 0;
}

// The first 16 bytes of a name up to its first NUL, as two big-endian words
// padded with zeros: the index's byte-wise order of names, which they settle
// unless both agree in them. Shorter names are read as overlapping words, so
// that nothing past the name's NUL is read.
struct NamePrefix {
    std::uint64_t hi, lo;
};

std::uint64_t be64_at(const char *p) {
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return __builtin_bswap64(w);
}

std::uint64_t be32_at(const char *p) {
    std::uint32_t w;
    std::memcpy(&w, p, sizeof w);
    return __builtin_bswap32(w);
}

// Clears the bytes of w from its first zero byte on; true when it has one.
// Exact per byte: no carry passes from one byte into the next.
bool cut_at_nul(std::uint64_t &w) {
    constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7FULL;
    const std::uint64_t zero = ~(((w & low7) + low7) | w | low7);
    if (!zero) return false;
    const int before = __builtin_clzll(zero) / 8;
    w = before ? w & (~std::uint64_t{0} << (64 - 8 * before)) : 0;
    return true;
}

NamePrefix name_prefix(const char *s, size_t n) {
    std::uint64_t hi = 0, lo = 0;
    if (n >= 16) {
        hi = be64_at(s);
        lo = be64_at(s + 8);
    } else if (n >= 8) {
        hi = be64_at(s);
        if (n > 8) lo = be64_at(s + n - 8) << 8 * (16 - n);
    } else if (n >= 4) {
        hi = be32_at(s) << 32 | be32_at(s + n - 4) << 8 * (8 - n);
    } else {
        for (size_t i = 0; i < n; ++i) hi |= std::uint64_t{static_cast<unsigned char>(s[i])} << (56 - 8 * i);
    }
    if (cut_at_nul(hi)) lo = 0;
    else cut_at_nul(lo);
    return NamePrefix{hi, lo};
}

// The variables' names enter the index when the variable list's decoding
// ends, by any way out, so before the caller can see the header: every
// variable whose name was read, in the index's own order, so that each goes
// in at the end of what it holds and the index neither searches nor moves
// its entries; names that are the same go in in file order, the later
// replacing the earlier. By then the bytes just written for the names have
// settled, which spares the index's reads of them a wait.
class VariableIndex {
public:
    VariableIndex(Arr *index, NETCDFVar *vars) : index_(index), vars_(vars) {}
    VariableIndex(const VariableIndex &) = delete;
    VariableIndex &operator=(const VariableIndex &) = delete;
    ~VariableIndex() {
        if (named_ > sorted_capacity) {
            for (int i = 0; i < named_; ++i) setarr(index_, vars_[i].name, &vars_[i]);
            return;
        }
        // By a name's first 7 bytes, a word whose last byte holds the
        // variable's number: plain numbers that settle most of the order;
        // names with the same head by the whole of them.
        for (int i = 1; i < named_; ++i) {
            const std::uint64_t k = order_[i];
            int j = i;
            for (; j > 0 && before(k, order_[j - 1]); --j) order_[j] = order_[j - 1];
            order_[j] = k;
        }
        for (int i = 0; i < named_; ++i) {
            NETCDFVar &v = vars_[var(order_[i])];
            setarr(index_, v.name, &v);
        }
    }

    // The next variable has its name, read from the n bytes at file (which
    // may hold a NUL): the file's bytes, which no store has just written.
    void named(const unsigned char *file, size_t n) {
        if (named_ < sorted_capacity) {
            prefix_[named_] = name_prefix(reinterpret_cast<const char *>(file), n);
            order_[named_] = (prefix_[named_].hi & ~std::uint64_t{0xFF}) | static_cast<unsigned>(named_);
        }
        ++named_;
    }

private:
    static constexpr int sorted_capacity = 64;
    static int var(std::uint64_t key) { return static_cast<int>(key & 0xFF); }
    bool before(std::uint64_t a, std::uint64_t b) const { return (a ^ b) > 0xFF ? a < b : less(var(a), var(b)); }
    // Byte-wise order of the names of variables a and b, then file order.
    bool less(int a, int b) const {
        const NamePrefix &p = prefix_[a], &q = prefix_[b];
        if (p.hi != q.hi) return p.hi < q.hi;
        if (p.lo != q.lo) return p.lo < q.lo;
        const int c = std::strcmp(vars_[a].name, vars_[b].name);
        return c != 0 ? c < 0 : a < b;
    }
    Arr *index_;
    NETCDFVar *vars_;
    int named_ = 0;
    std::uint64_t order_[sorted_capacity];
    NamePrefix prefix_[sorted_capacity];
};

int decode_header(ByteReader &reader, NETCDFHdr **hdrp, Where &where) {
    // A copy that the compiler keeps in registers, handed back on every way out.
    ByteReader in = reader;
    struct HandBack {
        ByteReader &to;
        const ByteReader &from;
        ~HandBack() { to = from; }
    } hand_back{reader, in};
    const unsigned char *start = in.begin() + in.position();
    where.item = "magic";
    const std::uint8_t m0 = in.u8(), m1 = in.u8(), m2 = in.u8(), m3 = in.u8();
    if (m0 != 'C' || m1 != 'D' || m2 != 'F' || m3 != 1)
        throw DecodeError::failed(Failure::bad_value, "netcdf_unstuff_header", "Wrong magic number");
    Recycled blocks;
    if (!*hdrp) {
        auto *fresh = static_cast<NETCDFHdr *>(blocks.zeroed(1, sizeof(NETCDFHdr)));
        if (!fresh) throw DecodeError::allocation("netcdf_unstuff_header", "malloc", "hdr");
        *hdrp = fresh;
    }
    NETCDFHdr *hdr = *hdrp;
    recycle_contents(hdr, blocks);
    hdr->stream = const_cast<unsigned char *>(start);
    where.item = "numrecs";
    hdr->numrecs = in.be32s();

    where.item = "dimension list";
    std::int32_t tag = in.be32s();
    if (tag == tag_absent) {
        if (in.be32s() != 0)
            throw DecodeError::failed(Failure::bad_value, header_function,
                                      "file error: expecting NC_DIMENSION or ABSENT");
    } else if (tag != tag_dimension) {
        throw DecodeError::failed(Failure::bad_value, header_function, "file error: expecting NC_DIMENSION");
    } else {
        const std::int32_t count = in.be32s();
        not_negative(in, header_function, "dimension count", count);
        in.need(static_cast<size_t>(count), min_dimension_bytes);
        hdr->dims = static_cast<NETCDFDim *>(blocks.zeroed(static_cast<size_t>(count), sizeof(NETCDFDim)));
        if (!hdr->dims) throw DecodeError::allocation(header_function, "malloc", "hdr->dims");
        hdr->dims_n = count;
        where.item = "dimension";
        int i = 0;
        try {
            for (; i < count; ++i) {
                where.index = i;
                hdr->dims[i].name = decode_string(in, blocks);
                hdr->dims[i].value = in.be32s();
                if (hdr->dims[i].value < 0 && in.bounded()) [[unlikely]]
                    throw DecodeError::bad_value("length " + std::to_string(hdr->dims[i].value), in.position());
            }
        } catch (DecodeError &error) {
            if (!hdr->dims[i].name) error.then(header_function, "netcdf_unstuff_string", 1, "hdr->dims->name");
            throw;
        }
        where.index = -1;
    }

    where.item = "global attribute";
    relying_on(header_function, "netcdf_unstuff_attrs", 0,
               [&] { return decode_attrs(in, &hdr->attrs_n, &hdr->attrs, where, blocks); });
    where.sub_index = -1;

    where.item = "variable list";
    tag = in.be32s();
    if (tag == tag_absent) {
        if (in.be32s() != 0)
            throw DecodeError::failed(Failure::bad_value, header_function,
                                      "file error: expecting NC_VARIABLE or ABSENT");
        return 0;
    }
    if (tag != tag_variable)
        throw DecodeError::failed(Failure::bad_value, header_function, "file error: expecting NC_VARIABLE");
    const std::int32_t count = in.be32s();
    not_negative(in, header_function, "variable count", count);
    in.need(static_cast<size_t>(count), min_variable_bytes);
    hdr->vars = static_cast<NETCDFVar *>(blocks.zeroed(static_cast<size_t>(count), sizeof(NETCDFVar)));
    if (!hdr->vars) throw DecodeError::allocation(header_function, "malloc", "hdr->vars");
    hdr->vars_n = count;
    hdr->vars_array = newarr(nullptr);
    if (!hdr->vars_array) throw DecodeError::step_failed(header_function, "newarr", 0, "hdr->vars_array");
    where.item = "variable";
    where.sub = "attribute";
    VariableIndex index{hdr->vars_array, hdr->vars};
    // The steps that name themselves, whose failure passes on with a line of
    // this function's.
    enum class Step { other, name, attrs } step = Step::other;
    NETCDFVar *const vars = hdr->vars;
    NETCDFDim *const dims = hdr->dims;
    const int last_dim = hdr->dims_n - 1;
    int i = 0;
    try {
        for (; i < count; ++i) {
            NETCDFVar &v = vars[i];
            where.index = i;
            where.name = nullptr;
            const unsigned char *source = nullptr;
            size_t length = 0;
            step = Step::name;
            v.name = decode_string(in, blocks, &source, &length);
            step = Step::other;
            index.named(source, length);
            where.name = v.name;
            const std::int32_t ndims = in.be32s();
            not_negative(in, header_function, "variable dimension count", ndims);
            in.need(static_cast<size_t>(ndims), 4);
            // Every pointer is written below, or the rest cleared on a failure.
            v.dims = static_cast<NETCDFDim **>(blocks.get(static_cast<size_t>(ndims) * sizeof(NETCDFDim *)));
            if (!v.dims)
                throw DecodeError::failed(Failure::allocation, header_function, "malloc(hdr->vars[%s].dims) error",
                                          v.name);
            v.ndims = ndims;
            int fixed = 1;
            for (int j = 0; j < ndims; ++j) {
                const std::int32_t id = in.be32s();
                if (id < 0 || id > last_dim) [[unlikely]] {
                    v.fixed = fixed;
                    std::fill(v.dims + j, v.dims + ndims, nullptr);
                    if (id < 0)
                        throw DecodeError::failed(Failure::bad_value, header_function,
                                                  "hdr->vars[%s].idim[%d]=%d error - cannot be less than 0", v.name, j,
                                                  id);
                    throw DecodeError::failed(Failure::bad_value, header_function,
                                              "hdr->vars[%s].idim[%d]=%d error - cannot be greater than %d", v.name, j,
                                              id, last_dim);
                }
                v.dims[j] = &dims[id];
                if (dims[id].value == 0) fixed = 0;
            }
            v.fixed = fixed;
            step = Step::attrs;
            decode_attrs(in, &v.nattrs, &v.attrs, where, blocks);
            step = Step::other;
            where.sub_index = -1;
            if (in.has(12)) [[likely]] {
                const auto words = in.block<12>();
                v.type = words.be32s<0>();
                v.vsize = words.be32s<4>();
                v.begin = words.be32s<8>();
            } else {  // word by word, for the message that names the first one missing
                v.type = in.be32s();
                v.vsize = in.be32s();
                v.begin = in.be32s();
            }
        }
    } catch (DecodeError &error) {
        if (step == Step::name) error.then(header_function, "netcdf_unstuff_string", 1, "hdr->vars->name");
        else if (step == Step::attrs)
            error.then(header_function, "netcdf_unstuff_attrs", 0, nullptr,
                       std::string(" for hdr->vars[") + vars[i].name + "]");
        throw;
    }
    return 0;
}

// Checks that each variable's data lies inside the size bytes. Record data
// is laid out record by record, each record holding every record variable.
constexpr long long cap = 1LL << 62;

// a * b, or cap when that is more; a and b are 0 to cap. A multiply with an
// overflow test, not a division: this runs for every dimension of every
// variable.
long long capped_product(long long a, long long b) {
    long long product;
    return __builtin_mul_overflow(a, b, &product) || product > cap ? cap : product;
}

// The message for variable i, whose offset or data of bytes bytes do not lie
// inside the size bytes.
[[noreturn, gnu::cold, gnu::noinline]] void refuse_extent(const NETCDFVar &v, int i, long long bytes, size_t size) {
    char buffer[160];
    if (v.begin < 0 || static_cast<size_t>(v.begin) > size) {
        std::snprintf(buffer, sizeof buffer, "variable %d (\"%s\") data offset %d outside the %zu bytes", i, v.name,
                      v.begin, size);
    } else {
        std::snprintf(buffer, sizeof buffer, "variable %d (\"%s\") data at byte %d: %lld bytes needed, %lld remain", i,
                      v.name, v.begin, bytes, static_cast<long long>(size) - v.begin);
    }
    throw DecodeError::bad_value(buffer);
}

void check_data_extents(const NETCDFHdr *hdr, size_t size) {
    const NETCDFVar *vars = hdr->vars;
    const int n = hdr->vars_n;
    long long record_size = 0;
    int record_vars = 0;
    for (int i = 0; i < n; ++i)
        if (!vars[i].fixed) {
            record_size = std::min(cap, record_size + static_cast<std::uint32_t>(vars[i].vsize));
            ++record_vars;
        }
    const long long records = hdr->numrecs;
    for (int i = 0; i < n; ++i) {
        const NETCDFVar &v = vars[i];
        const int item = value_size(v.type);
        // An offset outside the file reads as more than its size.
        const auto begin = static_cast<unsigned long long>(static_cast<long long>(v.begin));
        if (item == 0) {
            // Nothing to read, but the offset must still lie inside.
            if (begin > size) refuse_extent(v, i, 0, size);
            continue;
        }
        long long bytes = item;
        for (int j = 0; j < v.ndims; ++j) {
            const int length = v.dims[j]->value;
            if (length != 0) bytes = capped_product(bytes, length);  // 0: the record dimension
        }
        if (!v.fixed) {
            if (records <= 0) bytes = 0;
            else if (record_vars > 1) bytes = std::min(cap, bytes + capped_product(records - 1, record_size));
            else bytes = capped_product(bytes, records);
        }
        // A record variable of a file without records reads nothing, and its
        // offset may be the file's end or beyond (each record variable after
        // the first starts later in the empty record).
        if (bytes == 0) continue;
        if (begin > size || static_cast<unsigned long long>(bytes) > size - begin) refuse_extent(v, i, bytes, size);
    }
}

}  // namespace

extern "C" {

int netcdf_unstuff_header(unsigned char **stream, NETCDFHdr **hdr) {
    return vorpix::guarded("netcdf_unstuff_header", -1, [&] {
        auto in = ByteReader::unbounded(*stream);
        Where where;
        return vorpix::run_plain("netcdf_unstuff_header", stream, in, [&] { return decode_header(in, hdr, where); });
    });
}

int netcdf_unstuff_attrs(unsigned char **stream, int *nattrs, NETCDFAttr **attrs) {
    return vorpix::guarded("netcdf_unstuff_attrs", -1, [&] {
        auto in = ByteReader::unbounded(*stream);
        Where where;
        Recycled blocks;
        return vorpix::run_plain("netcdf_unstuff_attrs", stream, in,
                                 [&] { return decode_attrs(in, nattrs, attrs, where, blocks); });
    });
}

int netcdf_unstuff_values(unsigned char **stream, NETCDFValues *values) {
    return vorpix::guarded("netcdf_unstuff_values", -1, [&] {
        auto in = ByteReader::unbounded(*stream);
        Recycled blocks;
        return vorpix::run_plain("netcdf_unstuff_values", stream, in,
                                 [&] { return decode_values(in, values, blocks); });
    });
}

char *netcdf_unstuff_string(unsigned char **stream) {
    return vorpix::guarded("netcdf_unstuff_string", static_cast<char *>(nullptr), [&] {
        char *s = nullptr;
        auto in = ByteReader::unbounded(*stream);
        Recycled blocks;
        vorpix::run_plain("netcdf_unstuff_string", stream, in, [&] {
            s = decode_string(in, blocks);
            return 0;
        });
        return s;
    });
}

int netcdf_unstuff_header_sized(const unsigned char *data, long size, NETCDFHdr **hdr) {
    return vorpix::guarded("netcdf_unstuff_header_sized", -1, [&] {
        auto in = vorpix::sized_reader("netcdf_unstuff_header_sized", data, size, hdr != nullptr);
        if (!in) return -1;
        Where where;
        return vorpix::run_sized("netcdf_unstuff_header_sized", "header", where, [&] {
            decode_header(*in, hdr, where);
            where = Where{};  // each message of the extents check names its variable itself
            check_data_extents(*hdr, static_cast<size_t>(size));
            return 0;
        });
    });
}

int netcdf_clear_header(NETCDFHdr *hdr) {
    return vorpix::guarded("netcdf_clear_header", -1, [&] {
        if (hdr) clear_contents(hdr);
        return 0;
    });
}

}  // extern "C"
