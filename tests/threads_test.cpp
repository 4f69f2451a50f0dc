// Separate database handles used at once by separate threads. The host keeps
// one list of open databases for the whole process, and the shape fetch one
// filename cache and one file cache; threads that share nothing else share
// these. Built once more under ThreadSanitizer, which sees an unguarded
// access even when the threads happen not to collide.
#include "db.h"
#include "elog.h"
#include "esri.h"
#include "esri_release.hpp"
#include "gshhsmap.h"
#include "vorpix_failure.h"

#include "test_files.hpp"
#include "under_valgrind.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <latch>
#include <string>
#include <thread>
#include <vector>

using vorpix::test::fixture_path;
using vorpix::test::run_command;
using vorpix::test::TempDir;

namespace {

constexpr int thread_count = 8;

// Runs body(thread) on eight threads released together, with the error log
// counting what it receives; the number of messages logged.
int run_together(const std::function<void(int)> &body) {
    static std::atomic<int> logged;
    logged = 0;
    void *old_context = nullptr;
    const elog_handler old = elog_set_handler([](int, const char *, void *) { ++logged; }, nullptr, &old_context);
    std::latch start(thread_count);
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t)
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            body(t);
        });
    for (auto &thread : threads) thread.join();
    elog_set_handler(old, old_context, nullptr);
    return logged;
}

bool have_sqlite3_client() { return run_command("command -v sqlite3 >/dev/null").status == 0; }

// Thread t's database holds t + 1 rows, row r (from 1) the number 100 * t + r
// and the text "tT-R"; each thread also opens one database all of them share.
TEST(SeparateHandles, EightThreadsOpenReadAndCloseTheirOwnDatabasesAtOnce) {
    if (!have_sqlite3_client()) GTEST_SKIP() << "no sqlite3 client";
    TempDir dir;
    std::string script = "set -e; sqlite3 " + dir.file("shared.db") + " \"CREATE TABLE rows (n INTEGER, name TEXT);\"";
    for (int t = 0; t < thread_count; ++t) {
        std::string values;
        for (int r = 1; r <= t + 1; ++r)
            values += (r > 1 ? ", (" : "(") + std::to_string(100 * t + r) + ", 't" + std::to_string(t) + "-" +
                      std::to_string(r) + "')";
        script += "; sqlite3 " + dir.file("t" + std::to_string(t) + ".db") +
                  " \"CREATE TABLE rows (n INTEGER, name TEXT); INSERT INTO rows VALUES " + values + ";\"";
    }
    ASSERT_EQ(run_command(script).status, 0);

    std::atomic<int> wrong{0};
    const int rounds = RUNNING_ON_VALGRIND ? 5 : 200;
    const int logged = run_together([&](int t) {
        const std::string own = dir.file("t" + std::to_string(t) + ".db"), shared = dir.file("shared.db");
        for (int i = 0; i < rounds; ++i) {
            Dbptr mine{}, ours{};
            if (dbopen(own.c_str(), "r", &mine) != 0 || dbopen(shared.c_str(), "r", &ours) != 0) {
                ++wrong;
                continue;
            }
            const int r = i % (t + 1) + 1;
            const Dbptr row = dblookup(mine, nullptr, "rows", nullptr, std::to_string(r).c_str());
            long n = 0, count = 0, shared_count = -1;
            char name[256] = "";
            const char *path = nullptr;
            const bool right = dbgetv(row, nullptr, "n", &n, "name", name, nullptr) == 0 && n == 100 * t + r &&
                               name == "t" + std::to_string(t) + "-" + std::to_string(r) &&
                               dbquery(row, dbRECORD_COUNT, &count) == 0 && count == t + 1 &&
                               dbquery(mine, dbDATABASE_NAME, &path) == 0 && path == own &&
                               dbquery(dblookup(ours, nullptr, "rows", nullptr, nullptr), dbRECORD_COUNT,
                                       &shared_count) == 0 &&
                               shared_count == 0;
            if (!right) ++wrong;
            if (dbclose(mine) + dbclose(ours) != 0) ++wrong;
        }
    });
    EXPECT_EQ(wrong, 0) << "rounds that read another database or failed";
    EXPECT_EQ(logged, 0);
}

// Everything a fetched record holds, in one list for comparison.
std::vector<double> contents(const ESRISHPRECStr &r) {
    std::vector<double> out{static_cast<double>(r.offset), static_cast<double>(r.shape_type),
                            static_cast<double>(r.hdr.number), static_cast<double>(r.hdr.length)};
    const vorpix::esri::ShapeView v = vorpix::esri::view_shape(r.shape_type, r.record);
    if (v.bbox) out.insert(out.end(), {v.bbox->xmin, v.bbox->ymin, v.bbox->xmax, v.bbox->ymax});
    out.insert(out.end(), {static_cast<double>(v.numparts), static_cast<double>(v.numpoints)});
    for (int i = 0; i < v.numparts; ++i) {
        out.push_back(v.parts[i]);
        if (v.parttypes) out.push_back(v.parttypes[i]);
    }
    for (int i = 0; i < v.numpoints; ++i) {
        out.insert(out.end(), {v.first_point()[i].x, v.first_point()[i].y});
        if (v.zarray) out.push_back(v.zarray[i]);
        if (v.marray) out.push_back(v.marray[i]);
    }
    return out;
}

// The contents of rows 1 to n of the database's "shapes" table, fetched
// through a handle of its own from row first + 1 on, round to row first; a
// record that fails is empty.
std::vector<std::vector<double>> fetch_rows(const std::string &database, size_t n, size_t first) {
    std::vector<std::vector<double>> out(n);
    Dbptr db{};
    if (dbopen(database.c_str(), "r", &db) != 0) return out;
    const Dbptr table = dblookup(db, nullptr, "shapes", nullptr, nullptr);
    for (size_t k = 0; k < n; ++k) {
        const size_t i = (first + k) % n;
        ESRISHPRECStr record{};
        if (esri_get_db_shp_record(dblookup(table, nullptr, nullptr, nullptr, std::to_string(i + 1).c_str()),
                                   &record) == 0)
            out[i] = contents(record);
        vorpix::esri::release_shape(record.shape_type, record.record);
    }
    dbclose(db);
    return out;
}

// A database that names every record of shapefiles of several types by the
// offsets their index files (written by shapelib and pyshp) give, each row
// through a file id and file name of its own (links to the shapefile), so
// that every fetch of a new row adds to both caches. Each round links it all
// into a directory of its own, where the caches meet new names; eight
// threads, each with its own handle, then fetch every row, each starting at
// another, and must get what one thread gets alone.
TEST(SeparateHandles, ThreadsFetchingShapesGetWhatOneThreadGetsAlone) {
    if (!have_sqlite3_client()) GTEST_SKIP() << "no sqlite3 client";
    TempDir dir;
    const std::filesystem::path original = dir.file("original");
    std::filesystem::create_directories(original / "shapes");
    std::string files, rows;
    size_t n = 0;
    for (const std::string name : {"nc", "arcz", "polygonm", "multipointz", "multipatch", "point"}) {
        const std::filesystem::path shp = original / "shapes" / (name + ".shp");
        std::filesystem::copy_file(fixture_path("esri/" + name + ".shp"), shp);
        const auto shx = vorpix::test::read_file(fixture_path("esri/" + name + ".shx"));
        for (size_t at = 100; at + 8 <= shx.size(); at += 8) {
            const std::uint32_t words = std::uint32_t{shx[at]} << 24 | std::uint32_t{shx[at + 1]} << 16 |
                                        std::uint32_t{shx[at + 2]} << 8 | shx[at + 3];
            const std::string id = std::to_string(++n), link = name + "-" + id + ".shp";
            std::filesystem::create_hard_link(shp, original / "shapes" / link);
            files += (n > 1 ? ", (" : "(") + id + ", 'shapes/" + link + "')";
            rows += (n > 1 ? ", (" : "(") + id + ", " + std::to_string(2 * std::uint64_t{words}) + ")";
        }
    }
    ASSERT_EQ(
        run_command("sqlite3 " + (original / "shapes.db").string() +
                    " \"CREATE TABLE filename (fileid INTEGER, filename TEXT); INSERT INTO filename VALUES " + files +
                    "; CREATE TABLE shapes (fileid INTEGER, offset INTEGER); INSERT INTO shapes VALUES " + rows + ";\"")
            .status,
        0);
    ASSERT_GT(n, 100u);

    const auto alone = fetch_rows((original / "shapes.db").string(), n, 0);
    for (size_t i = 0; i < n; ++i) ASSERT_FALSE(alone[i].empty()) << "row " << i + 1;

    std::atomic<int> wrong{0};
    for (int round = 0, rounds = RUNNING_ON_VALGRIND ? 1 : 20; round < rounds; ++round) {
        const std::filesystem::path copy = dir.file("round" + std::to_string(round));
        std::filesystem::copy(
            original, copy,
            std::filesystem::copy_options::recursive | std::filesystem::copy_options::create_hard_links);
        const int logged = run_together([&](int t) {
            const auto fetched = fetch_rows((copy / "shapes.db").string(), n,
                                            n * static_cast<size_t>(t) / thread_count);
            for (size_t i = 0; i < n; ++i)
                if (fetched[i] != alone[i]) ++wrong;
        });
        EXPECT_EQ(logged, 0) << "round " << round;
    }
    EXPECT_EQ(wrong, 0) << "records that differ from those fetched alone";
}

// Each thread's last failure is its own: threads that fail at once, each in
// its own way, read back what they met and nothing another thread met.
TEST(SeparateHandles, EachThreadReadsItsOwnLastFailure) {
    std::atomic<int> wrong{0};
    run_together([&](int t) {
        const std::vector<char> data(static_cast<size_t>(t) + 1, 0);  // shorter than any header
        for (int round = 0; round < 200; ++round) {
            GSHHSHdr hdr;
            ESRISHPRECStr rec{};
            long position = 0;
            vorpix_failure failure;
            const bool odd = (t + round) % 2 != 0;
            if (odd) esri_decode_shapefile_record_sized(&rec, nullptr, -1 - t, 0);
            else gshhs_unstuff_hdr_sized(&hdr, data.data(), static_cast<long>(data.size()), &position);
            const int kind = vorpix_last_failure(&failure);
            const std::string detail = failure.detail, function = failure.function;
            if (kind != (odd ? VORPIX_FAILURE_INVALID_ARGUMENT : VORPIX_FAILURE_TRUNCATED) ||
                function != (odd ? "esri_decode_shapefile_record_sized" : "gshhs_unstuff_hdr_sized") ||
                (!odd && detail.find(", " + std::to_string(t + 1) + " remain") == std::string::npos))
                ++wrong;
            vorpix_clear_failure();
            if (vorpix_last_failure(nullptr) != VORPIX_FAILURE_NONE) ++wrong;
        }
    });
    EXPECT_EQ(wrong, 0);
}

}  // namespace
