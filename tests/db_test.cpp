// The database layer over SQLite, on databases made by the sqlite3 client.
#include "db.h"

#include "log_capture.hpp"
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <cstring>
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
