// The one bounded reader that every decoder reads its bytes through.
//
// A reader holds the first byte, the current position and the end. Every read
// checks that enough bytes remain; a read past the end throws a truncation
// DecodeError and moves nothing. The length-less C entry points make an
// unbounded reader (no end is known, so no check can fail), the sized ones
// give the real end, and both run the same decoding code. The block kernels
// read fixed-size blocks through a BlockReader, checked when compiled.
#ifndef VORPIX_BYTE_READER_HPP
#define VORPIX_BYTE_READER_HPP

#include "decode_error.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

namespace vorpix {

template <size_t N>
class BlockReader;

class ByteReader {
public:
    static constexpr size_t unbounded_size = std::numeric_limits<size_t>::max() / 2;

    ByteReader(const unsigned char *data, size_t size) : begin_(data), size_(size) {}
    // For callers that pass no length: trusts the data to be long enough.
    static ByteReader unbounded(const unsigned char *data) { return ByteReader(data, unbounded_size); }
    static ByteReader unbounded(const char *data) { return unbounded(reinterpret_cast<const unsigned char *>(data)); }

    bool bounded() const { return size_ != unbounded_size; }
    const unsigned char *begin() const { return begin_; }
    size_t position() const { return pos_; }
    size_t size() const { return size_; }
    size_t remaining() const { return size_ - pos_; }

    // True when n more bytes can be read; n may be any size, even huge.
    bool has(size_t n) const { return n <= size_ - pos_; }
    // True when count items of item_size bytes each can be read, without
    // overflowing the product.
    bool has(size_t count, size_t item_size) const {
        size_t bytes;  // a product that overflows is more than any data holds
        return !__builtin_mul_overflow(count, item_size, &bytes) && bytes <= size_ - pos_;
    }
    // Inlined at every read; the throw is out of line, so that a check costs
    // a compare and a branch.
    void need(size_t n) const {
        if (!has(n)) [[unlikely]]
            short_of(pos_, n, size_ - pos_);
    }
    void need(size_t count, size_t item_size) const {
        if (!has(count, item_size)) [[unlikely]]
            short_of(pos_, count * item_size, size_ - pos_);
    }

    void skip(size_t n) {
        need(n);
        pos_ += n;
    }
    // Moves to an absolute position in the data (at most the end).
    void seek(size_t position) {
        if (position > size_) throw DecodeError::truncated(position, 0, 0);
        pos_ = position;
    }
    // A reader over the next n bytes, which this reader then skips.
    ByteReader take(size_t n) {
        ByteReader part = ahead(n);
        pos_ += n;
        return part;
    }
    // A reader over the next n bytes, which this reader does not pass: for a
    // look ahead, or a byte that decides how to read what follows.
    ByteReader ahead(size_t n) const {
        need(n);
        return ByteReader(begin_ + pos_, n);
    }
    // The next n bytes as they stand, which this reader then skips: for
    // copies and for kernels that take a block of known length.
    const unsigned char *bytes(size_t n) {
        need(n);
        const unsigned char *p = begin_ + pos_;
        pos_ += n;
        return p;
    }
    // The next N bytes as a block, checked once, which this reader then skips.
    template <size_t N>
    BlockReader<N> block();
    // count items of T, checked once, each handed to each(i, value) in order.
    template <typename T, bool BigEndian, typename Each>
    void read_each(size_t count, Each &&each) {
        need(count, sizeof(T));
        const unsigned char *p = begin_ + pos_;
        for (size_t i = 0; i < count; ++i) each(i, peek<T, BigEndian>(p + i * sizeof(T)));
        pos_ += count * sizeof(T);
    }

    void copy(void *dst, size_t n) {
        need(n);
        if (n) std::memcpy(dst, begin_ + pos_, n);
        pos_ += n;
    }
    std::uint8_t u8() {
        need(1);
        return begin_[pos_++];
    }

    std::uint16_t be16() { return load<std::uint16_t, true>(); }
    std::uint32_t be32() { return load<std::uint32_t, true>(); }
    std::uint16_t le16() { return load<std::uint16_t, false>(); }
    std::uint32_t le32() { return load<std::uint32_t, false>(); }
    std::int16_t be16s() { return static_cast<std::int16_t>(be16()); }
    std::int32_t be32s() { return static_cast<std::int32_t>(be32()); }
    std::int32_t le32s() { return static_cast<std::int32_t>(le32()); }
    std::uint64_t le64() { return load<std::uint64_t, false>(); }
    template <typename T, bool BigEndian>
    T word() {
        return load<T, BigEndian>();
    }

private:
    template <size_t N>
    friend class BlockReader;

    // Takes values, not the reader, so that a reader held in registers
    // need not be stored for it.
    [[noreturn, gnu::cold, gnu::noinline]] static void short_of(size_t position, size_t n, size_t remaining) {
        throw DecodeError::truncated(position, n, remaining);
    }

    template <typename T, bool BigEndian>
    static T peek(const unsigned char *p) {
        static_assert(std::is_unsigned_v<T> && sizeof(T) <= 8);
        T value;
        std::memcpy(&value, p, sizeof(T));
        if constexpr (BigEndian != (std::endian::native == std::endian::big)) value = swap_bytes(value);
        return value;
    }
    template <typename T>
    static T swap_bytes(T v) {
        if constexpr (sizeof(T) == 1) return v;
        else if constexpr (sizeof(T) == 2) return static_cast<T>(__builtin_bswap16(v));
        else if constexpr (sizeof(T) == 4) return static_cast<T>(__builtin_bswap32(v));
        else return static_cast<T>(__builtin_bswap64(v));
    }
    template <typename T, bool BigEndian>
    T load() {
        need(sizeof(T));
        const T value = peek<T, BigEndian>(begin_ + pos_);
        pos_ += sizeof(T);
        return value;
    }

    const unsigned char *begin_;
    size_t size_;
    size_t pos_ = 0;
};

// A reader over one block of N bytes that the caller has vouched for: an
// S3TC block, a shoreline point record. Every read names its offset at
// compile time, so its check is a static_assert and the kernels that step
// through millions of blocks pay nothing for it.
template <size_t N>
class BlockReader {
public:
    explicit BlockReader(const unsigned char *block) : block_(block) {}

    template <size_t Offset>
    std::uint8_t u8() const {
        static_assert(Offset < N, "read past the block");
        return block_[Offset];
    }
    template <size_t Offset, typename T, bool BigEndian>
    T word() const {
        static_assert(Offset + sizeof(T) <= N, "read past the block");
        return ByteReader::peek<T, BigEndian>(block_ + Offset);
    }
    template <size_t Offset>
    std::uint16_t le16() const {
        return word<Offset, std::uint16_t, false>();
    }
    template <size_t Offset>
    std::uint32_t le32() const {
        return word<Offset, std::uint32_t, false>();
    }
    template <size_t Offset>
    std::uint64_t le64() const {
        return word<Offset, std::uint64_t, false>();
    }
    template <size_t Offset>
    std::int32_t be32s() const {
        return static_cast<std::int32_t>(word<Offset, std::uint32_t, true>());
    }
    // Bytes bytes from Offset, as they stand, into dst: a vector kernel's
    // load, which the compiler makes one move.
    template <size_t Offset, size_t Bytes>
    void copy(void *dst) const {
        static_assert(Offset + Bytes <= N, "read past the block");
        std::memcpy(dst, block_ + Offset, Bytes);
    }
    // The part of the block from Offset on, as a block of its own.
    template <size_t Offset>
    BlockReader<N - Offset> from() const {
        static_assert(Offset <= N, "read past the block");
        return BlockReader<N - Offset>(block_ + Offset);
    }

private:
    const unsigned char *block_;
};

template <size_t N>
BlockReader<N> ByteReader::block() {
    return BlockReader<N>(bytes(N));
}

}  // namespace vorpix

#endif
