#include "byteorder.h"

#include <cstring>

namespace {

// Reverses each item; on a big-endian host the items are copied as they are.
template <size_t Size>
void network_to_host(void *dst, const void *src, int n) {
    if (n <= 0) return;
    auto *out = static_cast<unsigned char *>(dst);
    const auto *in = static_cast<const unsigned char *>(src);
    const size_t count = static_cast<size_t>(n);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    std::memcpy(out, in, count * Size);
#else
    for (size_t i = 0; i < count; ++i, in += Size, out += Size)
        for (size_t b = 0; b < Size; ++b) out[b] = in[Size - 1 - b];
#endif
}

}  // namespace

extern "C" {

void N2H2(void *dst, const void *src, int n) { network_to_host<2>(dst, src, n); }
void N2H4(void *dst, const void *src, int n) { network_to_host<4>(dst, src, n); }
void N2H8(void *dst, const void *src, int n) { network_to_host<8>(dst, src, n); }

}  // extern "C"
