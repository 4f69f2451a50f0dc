// Which code paths run where a decoder has a vector form and a portable one.
//
// Every vector path has a portable twin that gives the same bits. Both are
// compiled in wherever the target allows (the build option
// VORPIX_BASELINE_ONLY leaves the vector ones out); the choice is made at run
// time, from what the processor offers, unless the environment variable
// VORPIX_PORTABLE is set to anything but "0", which keeps every decoder on its
// portable path. Tests and fuzz targets that link the library's sources can
// switch between the two within one process to compare them.
#ifndef VORPIX_VECTOR_PATHS_HPP
#define VORPIX_VECTOR_PATHS_HPP

#if !defined(VORPIX_BASELINE_ONLY) && defined(__SSE2__)
#define VORPIX_VECTOR_SSE2 1
#endif
// AVX2 code is compiled for the function alone and chosen only where the
// processor has it.
#if !defined(VORPIX_BASELINE_ONLY) && (defined(__x86_64__) || defined(__i386__))
#define VORPIX_VECTOR_AVX2 1
#endif

#include <atomic>
#include <utility>

namespace vorpix {

enum class VectorLevel : int { portable = 0, sse2 = 1, avx2 = 2 };

namespace detail {
// The level decided, or -1 until then. Threads that decide at once decide
// alike, so relaxed order is enough.
extern std::atomic<int> chosen_level;
VectorLevel decide_vector_level() noexcept;
}  // namespace detail

// The widest vector level the decoders may use now; the first call decides.
// Inline, as decoders ask it for every field of a record.
inline VectorLevel vector_level() noexcept {
    const int level = detail::chosen_level.load(std::memory_order_relaxed);
    return level >= 0 ? static_cast<VectorLevel>(level) : detail::decide_vector_level();
}

inline bool use_sse2() noexcept { return vector_level() >= VectorLevel::sse2; }
inline bool use_avx2() noexcept { return vector_level() >= VectorLevel::avx2; }

// portable true keeps every decoder on its portable path; false goes back to
// the processor's choice (and the environment's). Not for use while another
// thread decodes.
void force_portable_paths(bool portable) noexcept;

// For tests and fuzz targets: run() once on the vector paths that the
// processor allows and once on the portable paths; both results, in that order.
template <typename Run>
auto on_both_paths(Run &&run) {
    force_portable_paths(false);
    auto vector = run();
    force_portable_paths(true);
    auto portable = run();
    force_portable_paths(false);
    return std::pair{std::move(vector), std::move(portable)};
}

}  // namespace vorpix

#endif
