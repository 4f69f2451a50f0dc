// A box of one degree at full resolution as "vorpix coast --res f --kinds f:0
// --box W/E/S/N" makes it: the polygons selected, clipped exactly and written
// as GeoJSON, against the library's bare selection and delivery of the same
// box from the same file. That file is not bundled; without it both
// benchmarks are skipped (scripts/install-high-resolutions.sh installs it).
#include "bench_ratio.hpp"

#include "render_layers.hpp"

#include "datafile.h"
#include "gshhsmap.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Bergen, the Fensfjord and the skerries up to the Sognefjord's mouth: close
// to 500 polygons of land, islands and lakes meet the box.
constexpr double west = 5, east = 6, south = 60, north = 61;

bool have_full_resolution(benchmark::State &state) {
    char *path = datafile(nullptr, "maps/vorpix/gshhs_f.b");
    if (!path) {
        state.SkipWithError(
            "maps/vorpix/gshhs_f.b is in no data directory (vorpix data lists them); "
            "scripts/install-high-resolutions.sh installs it");
        return false;
    }
    std::free(path);
    return true;
}

void LibraryDeliverBox(benchmark::State &state) {
    if (!have_full_resolution(state)) return;
    void *map = nullptr;
    gshhsmap_open(&map);
    float *lon = nullptr, *lat = nullptr;
    int size = 0;
    long points = 0;
    for (auto _ : state) {
        char kinds[] = "f:0", res[] = "f";
        if (gshhsmap_select(map, kinds, res, west, east, south, north, 0, 0) < 0) {
            state.SkipWithError("the library cannot select from maps/vorpix/gshhs_f.b");
            break;
        }
        int npts, level, antipode;
        char type[2];
        while (gshhsmap_nextseg(map, &npts, &size, &lon, &lat, type, &level, &antipode) == 1) points += npts;
        benchmark::DoNotOptimize(lon);
    }
    state.counters["points"] = benchmark::Counter(static_cast<double>(points), benchmark::Counter::kAvgIterations);
    gshhsmap_close(map);
    std::free(lon);
    std::free(lat);
}

void CoastGeoJsonBox(benchmark::State &state) {
    if (!have_full_resolution(state)) return;
    namespace cli = vorpix::cli;
    namespace features = vorpix::features;
    double written = 0;
    for (auto _ : state) {
        // The command's own reader and writer, into an output that keeps nothing.
        cli::Output out("/dev/null");
        features::ShorelineReader reader(cli::shoreline_options("f", "f:0", cli::Box{west, east, south, north},
                                                                features::AntarcticOutline::IceFront));
        written += static_cast<double>(cli::write_geojson(reader, features::ShorelineReader::fields(), out));
        out.commit();
    }
    state.counters["features"] = benchmark::Counter(written, benchmark::Counter::kAvgIterations);
}

}  // namespace

BENCHMARK(LibraryDeliverBox)->Unit(benchmark::kMillisecond);
BENCHMARK(CoastGeoJsonBox)->Unit(benchmark::kMillisecond);

// Printed as the command's time over the library's: what the exact clip and
// the GeoJSON cost on top of delivering the box.
int main(int argc, char **argv) {
    return vorpix::bench::run_with_ratios(argc, argv, {{"LibraryDeliverBox", "CoastGeoJsonBox"}});
}
