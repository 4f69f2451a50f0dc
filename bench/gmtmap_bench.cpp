// Selecting and delivering every segment of the world from the largest
// border and river files at hand, against a bare pass that turns the same
// 16-bit big-endian coordinates into floats.
#include "bench_files.hpp"
#include "bench_ratio.hpp"
#include "netcdf.h"

#include "redblack.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace {

struct File {
    std::string path;
    std::vector<unsigned char> bytes;
};

// The finest resolution found: build-data/ holds what make-border-samples.sh
// converted beyond the committed crude and low samples.
const File &largest(const std::string &kind) {
    static File files[2];
    File &f = files[kind == "river"];
    if (!f.bytes.empty()) return f;
    const std::string roots[] = {std::string(VORPIX_SOURCE_DIR) + "/build-data", VORPIX_SOURCE_DIR};
    for (const char *res : {"f", "h", "i", "l", "c"})
        for (const auto &root : roots) {
            const std::string path = root + "/maps/vorpix/binned_" + kind + "_" + res + ".cdf";
            if (f.path.empty() && std::filesystem::exists(path)) f.path = path;
        }
    f.bytes = vorpix::bench::read_or_exit(f.path);
    std::fprintf(stderr, "%s: %zu bytes\n", f.path.c_str(), f.bytes.size());
    return f;
}

char resolution_of(const std::string &path) { return path[path.size() - 5]; }

void BM_VorpixSelectAndDeliver(benchmark::State &state, const char *kind) {
    const File &f = largest(kind);
    void *map = nullptr;
    gmtmap_open(&map);
    const char res[2] = {resolution_of(f.path), 0};
    const char letter = kind[0] == 'b' ? 'p' : 'r';
    if (gmtmap_use_data(map, letter, res, f.bytes.data(), static_cast<long>(f.bytes.size())) < 0) {
        state.SkipWithError("gmtmap_use_data");
        return;
    }
    std::string types = std::string(1, letter) + ":4294967295";
    std::string resolution = res;
    float *lon = nullptr, *lat = nullptr;
    int size = 0, npts = 0, level = 0;
    char type[2];
    long points = 0;
    for (auto _ : state) {
        gmtmap_select(map, types.data(), resolution.data(), -180, 180, -90, 90);
        while (gmtmap_nextseg(map, &npts, &size, &lon, &lat, type, &level) == 1) {
            benchmark::DoNotOptimize(lon);
            points += npts;
        }
    }
    state.counters["points"] = benchmark::Counter(static_cast<double>(points), benchmark::Counter::kIsRate);
    std::free(lon);
    std::free(lat);
}
BENCHMARK_CAPTURE(BM_VorpixSelectAndDeliver, borders, "border");
BENCHMARK_CAPTURE(BM_VorpixSelectAndDeliver, rivers, "river");

// The points the selection above delivers: those of every segment whose
// level is 1 to 32, as runs of consecutive points.
std::vector<std::pair<int, int>> delivered_runs(const File &f, NETCDFHdr *hdr) {
    const auto array = [&](const char *name) {
        auto *var = static_cast<NETCDFVar *>(getarr(hdr->vars_array, name));
        return std::pair{f.bytes.data() + var->begin, var->dims[0]->value};
    };
    const auto [levels, nsegs] = array("Hierarchial_level_of_a_segment");
    const auto counts = array("N_points_for_a_segment").first;
    const auto firsts = array("Id_of_first_point_in_a_segment").first;
    std::vector<std::pair<int, int>> runs;
    for (int j = 0; j < nsegs; ++j) {
        const int level = static_cast<std::int16_t>((levels[2 * j] << 8) | levels[2 * j + 1]);
        const int n = (counts[2 * j] << 8) | counts[2 * j + 1];
        const int first = static_cast<int>((std::uint32_t{firsts[4 * j]} << 24) | (firsts[4 * j + 1] << 16) |
                                           (firsts[4 * j + 2] << 8) | firsts[4 * j + 3]);
        if (level < 1 || level > 32 || n == 0) continue;
        if (!runs.empty() && runs.back().first + runs.back().second == first) runs.back().second += n;
        else runs.emplace_back(first, n);
    }
    return runs;
}

// The least any reader must do: turn the same points into floats, run by
// run of consecutive points, with no walk of the bins or segments.
void BM_BareByteSwap(benchmark::State &state, const char *kind) {
    const File &f = largest(kind);
    NETCDFHdr *hdr = nullptr;
    if (netcdf_unstuff_header_sized(f.bytes.data(), static_cast<long>(f.bytes.size()), &hdr) < 0) {
        state.SkipWithError("header");
        return;
    }
    auto *vlon = static_cast<NETCDFVar *>(getarr(hdr->vars_array, "Relative_longitude_from_SW_corner_of_bin"));
    auto *vlat = static_cast<NETCDFVar *>(getarr(hdr->vars_array, "Relative_latitude_from_SW_corner_of_bin"));
    const int n = vlon->dims[0]->value;
    const unsigned char *plon = f.bytes.data() + vlon->begin, *plat = f.bytes.data() + vlat->begin;
    const auto runs = delivered_runs(f, hdr);
    std::vector<float> lon(static_cast<size_t>(n)), lat(static_cast<size_t>(n));
    const double scale = 1.0 / 65535.0;
    long points = 0;
    for (auto _ : state) {
        for (const auto &[first, count] : runs) {
            for (int i = first; i < first + count; ++i) {
                lon[i] = static_cast<float>(10.0 + ((plon[2 * i] << 8) | plon[2 * i + 1]) * scale);
                lat[i] = static_cast<float>(20.0 + ((plat[2 * i] << 8) | plat[2 * i + 1]) * scale);
            }
            points += count;
        }
        benchmark::DoNotOptimize(lon.data());
        benchmark::DoNotOptimize(lat.data());
    }
    state.counters["points"] = benchmark::Counter(static_cast<double>(points), benchmark::Counter::kIsRate);
    netcdf_clear_header(hdr);
    std::free(hdr);
}
BENCHMARK_CAPTURE(BM_BareByteSwap, borders, "border");
BENCHMARK_CAPTURE(BM_BareByteSwap, rivers, "river");

}  // namespace

int main(int argc, char **argv) {
    return vorpix::bench::run_with_ratios(argc, argv,
                                          {{"BM_VorpixSelectAndDeliver/borders", "BM_BareByteSwap/borders"},
                                           {"BM_VorpixSelectAndDeliver/rivers", "BM_BareByteSwap/rivers"}});
}
