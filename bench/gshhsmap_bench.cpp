// Selecting and delivering a whole world of shorelines, against a bare pass
// that only byte-swaps the same points into floats.
#include "bench_ratio.hpp"

#include "datafile.h"
#include "gshhsmap.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

void put32(std::vector<unsigned char> &out, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(u >> shift));
}

// A synthetic full-resolution file: 2000 random-walk polygons of 2000 points
// each, 4 million points spread over the globe, some across the seam.
std::vector<unsigned char> make_world() {
    std::vector<unsigned char> out;
    std::mt19937 rng(1234);
    std::uniform_real_distribution<double> lon0(-180, 180), lat0(-80, 80), step(-0.02, 0.02);
    for (int id = 0; id < 2000; ++id) {
        const int n = 2000;
        std::vector<std::int32_t> x(n), y(n);
        double lon = lon0(rng), lat = lat0(rng);
        for (int i = 0; i < n; ++i) {
            lon += step(rng), lat = std::fmax(-89.9, std::fmin(89.9, lat + step(rng)));
            x[i] = static_cast<std::int32_t>(std::lround(lon * 1e6));
            y[i] = static_cast<std::int32_t>(std::lround(lat * 1e6));
        }
        std::int32_t w = x[0], e = x[0], s = y[0], nn = y[0];
        for (int i = 0; i < n; ++i)
            w = std::min(w, x[i]), e = std::max(e, x[i]), s = std::min(s, y[i]), nn = std::max(nn, y[i]);
        for (std::int32_t v : {id, n, (7 << 8) | (1 + id % 4), w, e, s, nn, 1000, 1000, -1, -1}) put32(out, v);
        for (int i = 0; i < n; ++i) put32(out, x[i]), put32(out, y[i]);
    }
    return out;
}

struct World {
    std::string root;
    std::vector<unsigned char> bytes;
    World() {
        root = (std::filesystem::temp_directory_path() / "vorpix-bench-shoreline").string();
        std::filesystem::create_directories(root + "/maps/vorpix");
        bytes = make_world();
        std::ofstream(root + "/maps/vorpix/gshhs_f.b", std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        setenv(VORPIX_DATA_PATH_ENV, root.c_str(), 1);
    }
};

World &world() {
    static World w;
    return w;
}

void SelectAndDeliverWorld(benchmark::State &state) {
    world();
    void *map = nullptr;
    gshhsmap_open(&map);
    float *lon = nullptr, *lat = nullptr;
    int size = 0, npts = 0, level = 0, anti = 0;
    char type[2];
    long points = 0;
    for (auto _ : state) {
        char types[] = "c:0", res[] = "f";
        gshhsmap_select(map, types, res, -180, 180, -90, 90, 0, 0);
        while (gshhsmap_nextseg(map, &npts, &size, &lon, &lat, type, &level, &anti) == 1) points += npts;
        benchmark::DoNotOptimize(lon);
    }
    state.counters["points/s"] = benchmark::Counter(static_cast<double>(points), benchmark::Counter::kIsRate);
    std::free(lon);
    std::free(lat);
}

// The least any reader must do: walk the headers and turn every point into floats.
void BareByteSwapPass(benchmark::State &state) {
    const auto &bytes = world().bytes;
    std::vector<float> lon, lat;
    long points = 0;
    for (auto _ : state) {
        size_t pos = 0;
        while (pos + 44 <= bytes.size()) {
            std::int32_t n;
            std::uint32_t raw;
            std::memcpy(&raw, &bytes[pos + 4], 4);
            n = static_cast<std::int32_t>(__builtin_bswap32(raw));
            pos += 44;
            lon.resize(static_cast<size_t>(n));
            lat.resize(static_cast<size_t>(n));
            for (std::int32_t i = 0; i < n; ++i, pos += 8) {
                std::uint32_t xr, yr;
                std::memcpy(&xr, &bytes[pos], 4);
                std::memcpy(&yr, &bytes[pos + 4], 4);
                lon[static_cast<size_t>(i)] = static_cast<float>(static_cast<std::int32_t>(__builtin_bswap32(xr)) *
                                                                 1e-6);
                lat[static_cast<size_t>(i)] = static_cast<float>(static_cast<std::int32_t>(__builtin_bswap32(yr)) *
                                                                 1e-6);
            }
            points += n;
            benchmark::DoNotOptimize(lon.data());
            benchmark::DoNotOptimize(lat.data());
        }
    }
    state.counters["points/s"] = benchmark::Counter(static_cast<double>(points), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(SelectAndDeliverWorld)->Unit(benchmark::kMillisecond);
BENCHMARK(BareByteSwapPass)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
    return vorpix::bench::run_with_ratios(argc, argv, {{"SelectAndDeliverWorld", "BareByteSwapPass"}});
}
