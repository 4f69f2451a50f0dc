// S3TC decompression of a 4096 x 4096 image, DXT1 and DXT5: ours against
// libsquish decompressing the same blocks, and against a plain copy of the
// output's size (the memory limit). Rates are in pixels per second.
#include "dds.h"

#include "bench_ratio.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#ifdef VORPIX_HAVE_SQUISH
#include <squish.h>
#endif

namespace {

// The least and greatest repetition besides the median, so that each ratio
// comes with its spread.
void with_extremes(benchmark::internal::Benchmark *b) {
    using Values = const std::vector<double> &;
    b->ComputeStatistics("min", [](Values v) { return *std::min_element(v.begin(), v.end()); });
    b->ComputeStatistics("max", [](Values v) { return *std::max_element(v.begin(), v.end()); });
}

constexpr unsigned long side = 4096;
constexpr size_t pixels = side * side;

// Blocks of smooth colour with noise, as an encoder makes from a picture:
// neighbouring endpoints, every index, both DXT1 orders of the endpoints.
const std::vector<unsigned char> &blocks(bool dxt5) {
    static const auto make = [](bool five) {
        std::mt19937 rng(five ? 5 : 1);
        std::vector<unsigned char> out;
        const size_t count = (side / 4) * (side / 4);
        out.reserve(count * (five ? 16 : 8));
        for (size_t b = 0; b < count; ++b) {
            if (five) {
                const unsigned a0 = rng() & 0xff, a1 = rng() & 0xff;
                out.push_back(static_cast<unsigned char>(a0));
                out.push_back(static_cast<unsigned char>(a1));
                for (int i = 0; i < 6; ++i) out.push_back(static_cast<unsigned char>(rng()));
            }
            unsigned c0 = rng() & 0xffff, c1 = (c0 + (rng() & 0x0fff)) & 0xffff;
            if (rng() & 1) std::swap(c0, c1);
            const std::uint32_t indices = rng();
            const unsigned char block[8] = {static_cast<unsigned char>(c0),
                                            static_cast<unsigned char>(c0 >> 8),
                                            static_cast<unsigned char>(c1),
                                            static_cast<unsigned char>(c1 >> 8),
                                            static_cast<unsigned char>(indices),
                                            static_cast<unsigned char>(indices >> 8),
                                            static_cast<unsigned char>(indices >> 16),
                                            static_cast<unsigned char>(indices >> 24)};
            out.insert(out.end(), block, block + 8);
        }
        return out;
    };
    static const std::vector<unsigned char> dxt1 = make(false), dxt5_blocks = make(true);
    return dxt5 ? dxt5_blocks : dxt1;
}

void report(benchmark::State &state) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(pixels));
}

void BM_VorpixDxt1(benchmark::State &state) {
    const auto &in = blocks(false);
    std::vector<unsigned int> image(pixels);
    for (auto _ : state) {
        BlockDecompressImageDXT1(side, side, in.data(), image.data());
        benchmark::ClobberMemory();
    }
    report(state);
}
BENCHMARK(BM_VorpixDxt1)->Apply(with_extremes)->Unit(benchmark::kMillisecond);

void BM_VorpixDxt5(benchmark::State &state) {
    const auto &in = blocks(true);
    std::vector<unsigned int> image(pixels);
    for (auto _ : state) {
        BlockDecompressImageDXT5(side, side, in.data(), image.data());
        benchmark::ClobberMemory();
    }
    report(state);
}
BENCHMARK(BM_VorpixDxt5)->Apply(with_extremes)->Unit(benchmark::kMillisecond);

// The floor: writing the same 64 MiB of output from memory.
void BM_CopyOutput(benchmark::State &state) {
    std::vector<unsigned int> source(pixels, 0xFF102030u), image(pixels);
    for (auto _ : state) {
        std::memcpy(image.data(), source.data(), pixels * sizeof(unsigned int));
        benchmark::ClobberMemory();
    }
    report(state);
}
BENCHMARK(BM_CopyOutput)->Apply(with_extremes)->Unit(benchmark::kMillisecond);

#ifdef VORPIX_HAVE_SQUISH
void BM_SquishDxt1(benchmark::State &state) {
    const auto &in = blocks(false);
    std::vector<unsigned char> rgba(pixels * 4);
    for (auto _ : state) {
        squish::DecompressImage(rgba.data(), side, side, in.data(), squish::kDxt1);
        benchmark::ClobberMemory();
    }
    report(state);
}
BENCHMARK(BM_SquishDxt1)->Apply(with_extremes)->Unit(benchmark::kMillisecond);

void BM_SquishDxt5(benchmark::State &state) {
    const auto &in = blocks(true);
    std::vector<unsigned char> rgba(pixels * 4);
    for (auto _ : state) {
        squish::DecompressImage(rgba.data(), side, side, in.data(), squish::kDxt5);
        benchmark::ClobberMemory();
    }
    report(state);
}
BENCHMARK(BM_SquishDxt5)->Apply(with_extremes)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

int main(int argc, char **argv) {
    return vorpix::bench::run_with_ratios(argc, argv,
                                          {{"BM_VorpixDxt1", "BM_SquishDxt1"},
                                           {"BM_VorpixDxt5", "BM_SquishDxt5"},
                                           {"BM_VorpixDxt1", "BM_CopyOutput"},
                                           {"BM_VorpixDxt5", "BM_CopyOutput"}});
}
