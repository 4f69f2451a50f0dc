// Short copies without a call, for the few bytes of header fields and field
// values, where a call to memcpy costs more than the copy.
#ifndef VORPIX_SHORT_COPY_HPP
#define VORPIX_SHORT_COPY_HPP

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vorpix {

// n bytes from src to dst, for the short lengths of header fields and field
// values without a call: two overlapping moves of a fixed width.
inline void copy_short(void *dst, const void *src, size_t n) {
    auto *out = static_cast<unsigned char *>(dst);
    const auto *in = static_cast<const unsigned char *>(src);
    auto two = [out, in, n](auto word) {
        decltype(word) last;
        std::memcpy(&word, in, sizeof word);
        std::memcpy(&last, in + n - sizeof last, sizeof last);
        std::memcpy(out, &word, sizeof word);
        std::memcpy(out + n - sizeof last, &last, sizeof last);
    };
    struct Block16 {
        std::uint64_t a, b;
    };
    struct Block32 {
        std::uint64_t a, b, c, d;
    };
    if (n >= 32 && n <= 64) two(Block32{});
    else if (n >= 16 && n < 32) two(Block16{});
    else if (n >= 8 && n < 16) two(std::uint64_t{});
    else if (n >= 4 && n < 8) two(std::uint32_t{});
    else if (n < 4)
        for (size_t i = 0; i < n; ++i) out[i] = in[i];
    else std::memcpy(out, in, n);
}

}  // namespace vorpix

#endif
