// The database layer over SQLite, and the shape records fetched through it,
// on databases made by the sqlite3 client.
#include "db.h"
#include "esri.h"
#include "esri_release.hpp"

#include "log_capture.hpp"
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <filesystem>
#include <string>

using vorpix::test::LogCapture;
using vorpix::test::run_command;
using vorpix::test::TempDir;

namespace {

class ClientDatabase : public testing::Test {
protected:
    void SetUp() override {
        if (run_command("command -v sqlite3 >/dev/null").status != 0) GTEST_SKIP() << "no sqlite3 client";
        path_ = dir_.file("world.db");
        const auto r = run_command("sqlite3 " + path_ +
                                   " \"CREATE TABLE filename (fileid INTEGER, filename TEXT);"
                                   " INSERT INTO filename VALUES (3, 'shapes/coast.shp'), (7, '/abs/lakes.shp');"
                                   " CREATE TABLE shapes (fileid INTEGER, offset INTEGER, xmin REAL);"
                                   " INSERT INTO shapes VALUES (7, 100, -1.5), (3, 236, 2.25);\"");
        ASSERT_EQ(r.status, 0);
        ASSERT_EQ(dbopen(path_.c_str(), "r", &db_), 0);
    }
    TempDir dir_;
    std::string path_;
    Dbptr db_{};
};

}  // namespace

TEST_F(ClientDatabase, PointsAtRowsAndReadsTheirFields) {
    Dbptr row = dblookup(db_, nullptr, "shapes", nullptr, "2");
    long fileid = 0, offset = 0;
    double xmin = 0;
    ASSERT_EQ(dbgetv(row, nullptr, "fileid", &fileid, "offset", &offset, "xmin", &xmin, nullptr), 0);
    EXPECT_EQ(fileid, 3);
    EXPECT_EQ(offset, 236);
    EXPECT_EQ(xmin, 2.25);
    long count = 0;
    EXPECT_EQ(dbquery(row, dbRECORD_COUNT, &count), 0);
    EXPECT_EQ(count, 2);
}

TEST_F(ClientDatabase, FindsARecordByFieldValueOrSaysInvalid) {
    Dbptr file = dblookup(db_, nullptr, "filename", "fileid", "7");
    EXPECT_EQ(file.record, 2);
    Dbptr all = dblookup(file, nullptr, nullptr, "dbALL", nullptr);
    EXPECT_EQ(all.field, dbALL);
    EXPECT_EQ(all.record, 2);
    char name[256];
    ASSERT_EQ(dbgetv(all, nullptr, "filename", name, nullptr), 0);
    EXPECT_STREQ(name, "/abs/lakes.shp");
    EXPECT_EQ(dblookup(db_, nullptr, "filename", "fileid", "99").record, dbINVALID);
    EXPECT_EQ(dblookup(db_, nullptr, "nosuchtable", nullptr, nullptr).table, dbINVALID);
    const char *dbname = nullptr;
    dbquery(db_, dbDATABASE_NAME, &dbname);
    EXPECT_EQ(std::string(dbname), path_);
}

TEST_F(ClientDatabase, FailuresAreMinusOneWithAMessage) {
    LogCapture log;
    Dbptr row = dblookup(db_, nullptr, "shapes", nullptr, "9");
    long v;
    EXPECT_EQ(dbgetv(row, nullptr, "offset", &v, nullptr), -1);
    EXPECT_EQ(log.text(), "dbgetv: " + path_ + ": table \"shapes\" has no record 9.\n");
    log.clear();
    row = dblookup(db_, nullptr, "shapes", nullptr, "1");
    EXPECT_EQ(dbgetv(row, nullptr, "nosuchfield", &v, nullptr), -1);
    EXPECT_NE(log.text().find("no field \"nosuchfield\""), std::string::npos);
    Dbptr none;
    EXPECT_EQ(dbopen(dir_.file("missing/x.db").c_str(), "r", &none), -1);
    EXPECT_EQ(dbgetv(Dbptr{99, 0, 0, 0}, nullptr, "x", &v, nullptr), -1);
}

// ---------------------------------------------------------------------------
// Shape records fetched through a row's "fileid" and "offset".

using vorpix::test::fixture_path;

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
        const auto r = run_command("sqlite3 " + path +
                                   " \"CREATE TABLE filename (fileid INTEGER, filename TEXT); INSERT INTO filename VALUES " +
                                   files + "; CREATE TABLE shapes (fileid INTEGER, offset INTEGER); INSERT INTO shapes VALUES " +
                                   rows + ";\"");
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

    // A database named without a directory: the file is relative to the
    // working directory.
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
    const std::string shp = dir_.file("maps/shapes/point.shp");
    const Dbptr t = make(dir_.file("maps/bad.db"), "(1, 'shapes/point.shp'), (2, 'shapes/none.shp')",
                         "(9, 100), (2, 100), (1, 104), (1, 5000)");
    struct Case {
        int row;
        std::vector<std::string> messages;
    };
    const std::vector<Case> cases = {
        {1, {"esri_get_db_shp_record: Cannot find fileid=9 in filename table.\n"}},
        {2, {"esri_get_db_shp_record: mapfile(" + dir_.file("maps/shapes/none.shp") + ") error.\n"}},
        {3,
         {"esri_decode_shapefile_record: " + shp + ": record at byte 104: content length 16777216 words (33554432 "
          "bytes) runs past the data, 72 remain.\n",
          "esri_get_db_shp_record: esri_decode_shapefile_record() error.\n"}},
        {4,
         {"esri_decode_shapefile_record: " + shp + ": record at byte 5000: offset 5000 lies outside the 184 bytes.\n",
          "esri_get_db_shp_record: esri_decode_shapefile_record() error.\n"}},
    };
    for (const Case &c : cases) {
        LogCapture log;
        fetch(row(t, c.row), -1);
        EXPECT_EQ(log.messages(), c.messages) << "row " << c.row;
    }
}
