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

}  // namespace

namespace detail {

std::atomic<int> chosen_level{-1};

VectorLevel decide_vector_level() noexcept {
    const VectorLevel level = detect();
    chosen_level.store(static_cast<int>(level), std::memory_order_relaxed);
    return level;
}

}  // namespace detail

void force_portable_paths(bool portable) noexcept {
    detail::chosen_level.store(portable ? static_cast<int>(VectorLevel::portable) : -1, std::memory_order_relaxed);
}

}  // namespace vorpix
