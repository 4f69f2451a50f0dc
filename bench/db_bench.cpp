// Box queries on an index of 100,000 shapes, as vorpix fetch --box finds
// its rows: through the table's R*Tree, against a scan that reads every
// row's box through the host's database layer (what fetch does for a table
// without a tree), and against one SQL statement that scans the table.
#include "bench_ratio.hpp"
#include "cli.hpp"
#include "commands.hpp"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using vorpix::cli::Box;

constexpr int shape_count = 100000;
const Box query{-10, 10, 40, 55};  // western Europe, a few percent of the shapes

// An index written by the index command's own writer: shapes the size of
// counties to small countries, spread over the world.
const std::string &index_path() {
    static const std::string path = [] {
        char dir[] = "/tmp/vorpix-db-bench-XXXXXX";
        if (!mkdtemp(dir)) std::exit(1);
        const std::string db = std::string(dir) + "/index.db";
        std::mt19937_64 random(20261207);
        std::uniform_real_distribution<double> lon(-180, 178), lat(-80, 78), size(0.05, 2);
        vorpix::cli::IndexedFile file{std::string(dir) + "/world.shp", {}};
        for (int i = 0; i < shape_count; ++i) {
            const double x = lon(random), y = lat(random);
            file.shapes.push_back({100 + 136L * i, i, 5, {x, y, x + size(random), y + size(random)}});
        }
        vorpix::cli::write_index(db, "shapes", {file});
        std::atexit([] { std::filesystem::remove_all(std::filesystem::path(index_path()).parent_path()); });
        return db;
    }();
    return path;
}

// through_tree: as fetch --box asks a table with an R*Tree; else as it
// reads every row's box through the host's database layer without one.
void BM_BoxQuery(benchmark::State &state, bool through_tree) {
    const std::string &db = index_path();
    size_t rows = 0;
    for (auto _ : state) rows = vorpix::cli::index_rows_in_box(db, "shapes", query, through_tree).size();
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK_CAPTURE(BM_BoxQuery, through_rtree, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BoxQuery, reading_every_row, false)->Unit(benchmark::kMillisecond);

void BM_BoxBySqlScan(benchmark::State &state) {
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(index_path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        state.SkipWithError("sqlite3_open_v2");
        return;
    }
    sqlite3_stmt *scan = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT rowid FROM shapes WHERE xmax >= ?1 AND xmin <= ?2 AND ymax >= ?3 AND ymin <= ?4 "
                       "ORDER BY rowid",
                       -1, &scan, nullptr);
    size_t rows = 0;
    for (auto _ : state) {
        sqlite3_bind_double(scan, 1, query.west);
        sqlite3_bind_double(scan, 2, query.east);
        sqlite3_bind_double(scan, 3, query.south);
        sqlite3_bind_double(scan, 4, query.north);
        std::vector<long> found;
        while (sqlite3_step(scan) == SQLITE_ROW) found.push_back(static_cast<long>(sqlite3_column_int64(scan, 0)));
        sqlite3_reset(scan);
        rows = found.size();
        benchmark::DoNotOptimize(found.data());
    }
    state.counters["rows"] = static_cast<double>(rows);
    sqlite3_finalize(scan);
    sqlite3_close(db);
}
BENCHMARK(BM_BoxBySqlScan)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
    return vorpix::bench::run_with_ratios(argc, argv,
                                          {{"BM_BoxQuery/through_rtree", "BM_BoxQuery/reading_every_row"},
                                           {"BM_BoxQuery/through_rtree", "BM_BoxBySqlScan"}});
}
