// A whole-world map 1800 pixels wide at the finest bundled resolutions
// (shorelines i, borders and rivers l), drawn as SVG and as PNG, against the library's bare
// selection and delivery of the same layers; and the same map at full
// resolution, when scripts/install-high-resolutions.sh has installed it.
#include "bench_ratio.hpp"

#include "datafile.h"
#include "gshhsmap.h"
#include "netcdf.h"
#include "render_layers.hpp"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

vorpix::cli::RenderRequest world_request() {
    vorpix::cli::RenderRequest request;
    request.res = "i";
    request.line_res = "l";
    request.borders = request.rivers = true;
    request.width = 1800;
    return request;
}

// The source tree's data, after any directories the caller names (where
// scripts/install-high-resolutions.sh put the full resolution, say).
struct Data {
    Data() {
        const char *given = std::getenv(VORPIX_DATA_PATH_ENV);
        const std::string path = given && *given ? std::string(given) + ":" VORPIX_SOURCE_DIR : VORPIX_SOURCE_DIR;
        setenv(VORPIX_DATA_PATH_ENV, path.c_str(), 1);
    }
} data;

void DeliverLayers(benchmark::State &state) {
    void *shore = nullptr, *lines = nullptr;
    gshhsmap_open(&shore);
    gmtmap_open(&lines);
    float *lon = nullptr, *lat = nullptr;
    int size = 0;
    for (auto _ : state) {
        long points = 0;
        int npts, level, antipode;
        char type[2];
        char kinds[] = "f:0", res[] = "i";
        if (gshhsmap_select(shore, kinds, res, -180, 180, -90, 90, 0, 0) < 0) state.SkipWithError("no shorelines");
        while (gshhsmap_nextseg(shore, &npts, &size, &lon, &lat, type, &level, &antipode) == 1) points += npts;
        for (const char *words : {"p:7", "r:4095"}) {
            std::string w = words, line_res = "l";
            if (gmtmap_select(lines, w.data(), line_res.data(), -180, 180, -90, 90) < 0)
                state.SkipWithError("no borders or rivers");
            while (gmtmap_nextseg(lines, &npts, &size, &lon, &lat, type, &level) == 1) points += npts;
        }
        benchmark::DoNotOptimize(points);
    }
    std::free(lon);
    std::free(lat);
}

void Render(benchmark::State &state, bool png) {
    const auto request = world_request();
    vorpix::cli::Progress quiet(false);
    for (auto _ : state) {
        std::string picture = vorpix::cli::render_map(request, png, quiet);
        benchmark::DoNotOptimize(picture);
    }
}

// Reading and clipping the layers, without drawing them.
void ComposeLayers(benchmark::State &state) {
    const auto request = world_request();
    vorpix::cli::Progress quiet(false);
    for (auto _ : state) {
        auto picture = vorpix::cli::compose(request, quiet);
        benchmark::DoNotOptimize(picture.ops.data());
    }
}

void RenderSvg(benchmark::State &state) { Render(state, false); }
void RenderPng(benchmark::State &state) { Render(state, true); }

// The whole world with every layer at full resolution, when installed: the
// time a user waits for the finest map there is.
void RenderFull(benchmark::State &state, bool png) {
    char *found = datafile(nullptr, "maps/vorpix/gshhs_f.b");
    if (!found) {
        state.SkipWithError("no full-resolution shorelines (scripts/install-high-resolutions.sh)");
        return;
    }
    std::free(found);
    auto request = world_request();
    request.res = request.line_res = "f";
    vorpix::cli::Progress quiet(false);
    for (auto _ : state) {
        std::string picture = vorpix::cli::render_map(request, png, quiet);
        benchmark::DoNotOptimize(picture);
    }
}
void RenderFullSvg(benchmark::State &state) { RenderFull(state, false); }
void RenderFullPng(benchmark::State &state) { RenderFull(state, true); }

}  // namespace

BENCHMARK(DeliverLayers)->Unit(benchmark::kMillisecond);
BENCHMARK(ComposeLayers)->Unit(benchmark::kMillisecond);
BENCHMARK(RenderSvg)->Unit(benchmark::kMillisecond);
BENCHMARK(RenderPng)->Unit(benchmark::kMillisecond);
BENCHMARK(RenderFullSvg)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(RenderFullPng)->Unit(benchmark::kMillisecond)->Iterations(1);

// Printed as render time over delivery time: what a picture costs on top of
// reading its layers.
int main(int argc, char **argv) {
    return vorpix::bench::run_with_ratios(
        argc, argv,
        {{"DeliverLayers", "ComposeLayers"}, {"DeliverLayers", "RenderSvg"}, {"DeliverLayers", "RenderPng"}});
}
