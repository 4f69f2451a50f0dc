// Shape records fetched through a database row's "fileid" and "offset", on
// databases made by the sqlite3 client.
#include "db.h"
#include "esri.h"
#include "esri_release.hpp"

#include "byte_writer.hpp"
#include "log_capture.hpp"
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

using vorpix::test::fixture_path;
using vorpix::test::LogCapture;
using vorpix::test::run_command;
using vorpix::test::TempDir;

namespace {

class ShapeFetch : public testing::Test {
protected:
    void SetUp() override {
        if (run_command("command -v sqlite3 >/dev/null").status != 0) GTEST_SKIP() << "no sqlite3 client";
        std::filesystem::create_directories(dir_.file("maps/shapes"));
        std::filesystem::copy_file(fixture_path("esri/point.shp"), dir_.file("maps/shapes/point.shp"));
        std::filesystem::copy_file(fixture_path("esri/arc.shp"), dir_.file("maps/shapes/arc.shp"));
    }
    ~ShapeFetch() override {
        for (auto &r : records_) vorpix::esri::release_shape(r.shape_type, r.record);
    }

    // A database made by the sqlite3 client: files by id, shape rows.
    Dbptr make(const std::string &path, const std::string &files, const std::string &rows) {
        const auto r = run_command(
            "sqlite3 " + path +
            " \"CREATE TABLE filename (fileid INTEGER, filename TEXT); INSERT INTO filename VALUES " + files +
            "; CREATE TABLE shapes (fileid INTEGER, offset INTEGER); INSERT INTO shapes VALUES " + rows + ";\"");
        EXPECT_EQ(r.status, 0);
        Dbptr db{};
        EXPECT_EQ(dbopen(path.c_str(), "r", &db), 0);
        return dblookup(db, nullptr, "shapes", nullptr, nullptr);
    }
    Dbptr row(Dbptr table, int n) { return dblookup(table, nullptr, nullptr, nullptr, std::to_string(n).c_str()); }
    ESRISHPRECStr &fetch(Dbptr at, int expected = 0) {
        records_.emplace_back();
        EXPECT_EQ(esri_get_db_shp_record(at, &records_.back()), expected);
        return records_.back();
    }

    TempDir dir_;
    std::deque<ESRISHPRECStr> records_;  // references stay valid as it grows
};

}  // namespace

TEST_F(ShapeFetch, RelativeNamesAreTakenFromTheDatabasesDirectoryAbsoluteOnesAsTheyStand) {
    const Dbptr rel = make(dir_.file("maps/world.db"), "(1, 'shapes/point.shp')", "(1, 128)");
    ESRISHPRECStr &a = fetch(row(rel, 1));
    EXPECT_EQ(a.offset, 128u);
    EXPECT_EQ(a.hdr.number, 2);
    ASSERT_EQ(a.shape_type, 1);
    EXPECT_EQ(static_cast<ESRISHPRECPOINTStr *>(a.record)->x, -120.125);

    const Dbptr abs = make(dir_.file("other.db"), "(1, '" + dir_.file("maps/shapes/arc.shp") + "')", "(1, 100)");
    ESRISHPRECStr &b = fetch(row(abs, 1));
    EXPECT_EQ(b.shape_type, 3);  // the same file id in another database names another file
    EXPECT_EQ(static_cast<ESRISHPRECPOLYGStr *>(b.record)->numpoints, 6);

    // A database named without a directory: relative to the working directory.
    make(dir_.file("maps/bare.db"), "(4, 'shapes/arc.shp')", "(4, 256)");
    const std::string old = std::filesystem::current_path();
    std::filesystem::current_path(dir_.file("maps"));
    Dbptr bare{};
    ASSERT_EQ(dbopen("bare.db", "r", &bare), 0);
    ESRISHPRECStr &c = fetch(row(dblookup(bare, nullptr, "shapes", nullptr, nullptr), 1));
    std::filesystem::current_path(old);
    EXPECT_EQ(c.offset, 256u);
    EXPECT_EQ(c.hdr.number, 2);
}

// Once a file id has been resolved and its file made available, neither the
// "filename" table nor the file is read again: both can go.
TEST_F(ShapeFetch, TheFilenameTableIsAskedAndTheFileMappedOncePerDatabaseAndId) {
    const std::string path = dir_.file("maps/cache.db");
    const Dbptr t = make(path, "(1, 'shapes/point.shp'), (2, 'shapes/arc.shp')", "(1, 100), (1, 156), (2, 100)");
    EXPECT_EQ(fetch(row(t, 1)).offset, 100u);
    ASSERT_EQ(run_command("sqlite3 " + path + " \"DELETE FROM filename;\"").status, 0);
    std::filesystem::remove(dir_.file("maps/shapes/point.shp"));
    const ESRISHPRECStr &again = fetch(row(t, 2));
    EXPECT_EQ(again.offset, 156u);
    EXPECT_EQ(static_cast<ESRISHPRECPOINTStr *>(again.record)->y, 0);
    LogCapture log;
    fetch(row(t, 3), -1);  // never resolved: asked now, and gone
    EXPECT_EQ(log.text(), "esri_get_db_shp_record: Cannot find fileid=2 in filename table.\n");
}

TEST_F(ShapeFetch, FailuresLogTheNestedMessageThenTheirOwn) {
    // arc.shp with the first record's shape type, part count or (big-endian) length changed.
    auto patched = [&](const std::string &name, size_t at, std::uint32_t word, bool big) {
        auto bytes = vorpix::test::read_file(fixture_path("esri/arc.shp"));
        vorpix::test::set_word(bytes, at, word, 4, big);
        vorpix::test::write_file(dir_.file("maps/shapes/" + name), bytes.data(), bytes.size());
    };
    patched("type2.shp", 108, 2, false);
    patched("negative.shp", 144, 0xffffffffu, false);
    patched("long.shp", 104, 100000, true);
    const std::string shp = dir_.file("maps/shapes/point.shp");
    const Dbptr t = make(dir_.file("maps/bad.db"),
                         "(1, 'shapes/point.shp'), (2, 'shapes/none.shp'), (3, 'shapes/type2.shp'), "
                         "(4, 'shapes/negative.shp'), (5, 'shapes/long.shp')",
                         "(9, 100), (2, 100), (1, 5000), (3, 100), (4, 100), (5, 100)");
    const std::string nested = "esri_decode_shapefile_record: esri_unstuff_stream() error.\n";
    const std::string own = "esri_get_db_shp_record: esri_decode_shapefile_record() error.\n";
    const std::vector<std::pair<int, std::vector<std::string>>> cases = {
        {1, {"esri_get_db_shp_record: Cannot find fileid=9 in filename table.\n"}},
        {2, {"esri_get_db_shp_record: mapfile(" + dir_.file("maps/shapes/none.shp") + ") error.\n"}},
        {3,
         {"esri_decode_shapefile_record: " + shp + ": record at byte 5000: offset 5000 lies outside the 184 bytes.\n",
          own}},
        {4, {"esri_unstuff_stream: str_type 0x2 not defined.\n", nested, own}},
        {5, {"esri_unstuff_stream: malloc() error.\n", nested, own}},
    };
    for (const auto &[n, messages] : cases) {
        LogCapture log;
        fetch(row(t, n), -1);
        EXPECT_EQ(log.messages(), messages) << "row " << n;
    }
    // The record header's length is never held against the contents.
    LogCapture log;
    const ESRISHPRECStr &r = fetch(row(t, 6));
    EXPECT_EQ(r.hdr.length, 100000);
    ASSERT_EQ(r.shape_type, 3);
    EXPECT_EQ(static_cast<ESRISHPRECPOLYGStr *>(r.record)->numpoints, 6);
    EXPECT_EQ(log.text(), "");
}

// A shapefile that changes after its first fetch is read again: truncated in
// place it fails cleanly (not SIGBUS through the old mapping), replaced by a
// rename its new contents are seen.
TEST_F(ShapeFetch, AShapefileThatChangedIsReadAgain) {
    const std::string shp = dir_.file("maps/shapes/nc.shp");
    std::filesystem::copy_file(fixture_path("esri/nc.shp"), shp);
    const Dbptr t = make(dir_.file("maps/changing.db"), "(1, 'shapes/nc.shp')", "(1, 45708), (1, 100)");
    EXPECT_EQ(fetch(row(t, 1)).shape_type, 5);
    ASSERT_EQ(truncate(shp.c_str(), 200), 0);
    {
        LogCapture log;
        fetch(row(t, 1), -1);
        const std::string outside = ": record at byte 45708: offset 45708 lies outside the 200 bytes.\n";
        EXPECT_EQ(log.messages(),
                  (std::vector<std::string>{"esri_decode_shapefile_record: " + shp + outside,
                                            "esri_get_db_shp_record: esri_decode_shapefile_record() error.\n"}));
    }
    std::filesystem::copy_file(fixture_path("esri/point.shp"), shp + ".new");
    std::filesystem::rename(shp + ".new", shp);
    const ESRISHPRECStr &point = fetch(row(t, 2));
    ASSERT_EQ(point.shape_type, 1);
    EXPECT_EQ(static_cast<ESRISHPRECPOINTStr *>(point.record)->x, 1.5);
}
