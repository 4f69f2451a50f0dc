// Words appended to a byte vector in either byte order, for the layouts that
// no tool writes.
#ifndef VORPIX_TEST_BYTE_WRITER_HPP
#define VORPIX_TEST_BYTE_WRITER_HPP

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vorpix::test {

// The n low bytes of v, least significant first, or most significant first.
inline void put_le(std::vector<unsigned char> &b, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
inline void put_be(std::vector<unsigned char> &b, std::uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
inline void put_le32(std::vector<unsigned char> &b, std::uint32_t v) { put_le(b, v, 4); }
inline void put_be32(std::vector<unsigned char> &b, std::uint32_t v) { put_be(b, v, 4); }

// The n low bytes of v written over the bytes at at, in either byte order.
inline void set_word(std::vector<unsigned char> &b, size_t at, std::uint64_t v, int n, bool big) {
    for (int i = 0; i < n; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<unsigned char>(v >> (8 * (big ? n - 1 - i : i)));
}

}  // namespace vorpix::test

#endif
