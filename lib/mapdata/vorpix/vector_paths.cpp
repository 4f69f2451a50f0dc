// The run-time choice between vector and portable code paths.
#include "vector_paths.hpp"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace vorpix {
namespace {

VectorLevel detect() noexcept {
    const char *portable = std::getenv("VORPIX_PORTABLE");
    if (portable && *portable && std::strcmp(portable, "0") != 0) return VectorLevel::portable;
#if defined(VORPIX_VECTOR_AVX2)
    if (__builtin_cpu_supports("avx2")) return VectorLevel::avx2;
#endif
#if defined(VORPIX_VECTOR_SSE2)
    return VectorLevel::sse2;
#else
    return VectorLevel::portable;
#endif
}

// -1 until decided. Threads that decide at once decide alike, so relaxed
// order is enough.
std::atomic<int> chosen{-1};

}  // namespace

VectorLevel vector_level() noexcept {
    int level = chosen.load(std::memory_order_relaxed);
    if (level < 0) {
        level = static_cast<int>(detect());
        chosen.store(level, std::memory_order_relaxed);
    }
    return static_cast<VectorLevel>(level);
}

void force_portable_paths(bool portable) noexcept {
    chosen.store(portable ? static_cast<int>(VectorLevel::portable) : -1, std::memory_order_relaxed);
}

}  // namespace vorpix
