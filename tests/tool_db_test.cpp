// vorpix index and fetch, run as a user would, with the sqlite3 client and
// pyshp as independent readers and writers of the database and shapefiles.
#include "geojson_checks.hpp"
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

using vorpix::test::count_of;
using vorpix::test::python_command;
using vorpix::test::run_command;
using vorpix::test::tool_command;

using vorpix::test::have_program;
using vorpix::test::have_python_module;

namespace {

const auto esri = vorpix::test::esri_fixture;

// A word for the shell, whatever it holds.
std::string shell_word(const std::string &s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string sqlite(const std::string &db, const std::string &sql) {
    return run_command("sqlite3 " + db + " " + shell_word(sql) + " 2>&1").output;
}

// What a Python script with Debian's modules prints, given the arguments.
std::string python(const std::string &script, const std::string &arguments) {
    return run_command(python_command() + " -c " + shell_word(script) + " " + arguments + " 2>&1").output;
}

// SQL that makes the table of files with the given rows.
std::string files_table(const std::string &rows) {
    return "CREATE TABLE filename (fileid INTEGER, filename TEXT); INSERT INTO filename VALUES " + rows + ";";
}

class IndexDatabase : public testing::Test {
protected:
    void SetUp() override {
        if (!vorpix::test::have_program("sqlite3")) GTEST_SKIP() << "no sqlite3 client";
        db_ = dir_.file("shapes.db");
    }
    vorpix::test::CommandResult tool(const std::string &args) {
        return run_command("timeout 20 " + tool_command() + " " + args + " 2>&1");
    }
    vorpix::test::TempDir dir_;
    std::string db_;
};

}  // namespace

TEST_F(IndexDatabase, TableNamesAreNamesNotSql) {
    ASSERT_EQ(sqlite(db_, "CREATE TABLE victim (x); INSERT INTO victim VALUES (1);"), "");
    for (const std::string table : {"t (a); COMMIT; DROP TABLE victim; --", "my shapes", "order", "say \"hi\""}) {
        SCOPED_TRACE(table);
        auto r = tool("index " + db_ + " " + esri("point.shp") + " --table " + shell_word(table));
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(r.output, db_ + ": 1 files, 3 shapes in table " + table + "\n");
        r = tool("fetch " + db_ + " --table " + shell_word(table) + " --box 1/2/2/3");
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(count_of(r.output, "\"type\":\"Feature\""), 1u);
    }
    EXPECT_EQ(sqlite(db_, "SELECT x FROM victim;"), "1\n");
}

// Each row holds its file, the record's offset and number; --list prints
// the record as "vorpix info" lists it in the shapefile. Without row numbers
// fetch walks the rows there are; a row named that is not there is one
// message naming the database once.
TEST_F(IndexDatabase, RowsNameFileOffsetAndRecordAndFetchWalksThoseThatExist) {
    auto r = tool("index " + db_ + " " + esri("nc.shp") + " " + esri("point.shp"));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.output, db_ + ": 2 files, 103 shapes in table shapes\n");
    EXPECT_EQ(sqlite(db_, "SELECT fileid, offset, recno FROM shapes WHERE rowid IN (1, 2, 101);"),
              "1|100|0\n1|588|1\n2|100|0\n");
    EXPECT_EQ(tool("fetch " + db_ + " 101 --list").output,
              "Record(0):\n  offset=100\n  RecordHdr:\n    number=1\n    length=10\n  RecordPoint(0):\n"
              "    shape_type=RecordPoint\n    x=1.500000\n    y=2.250000\n");
    ASSERT_EQ(sqlite(db_, "DELETE FROM shapes WHERE rowid IN (1, 50, 100);"), "");
    r = tool("fetch " + db_);
    ASSERT_EQ(r.status, 0) << r.output.substr(0, 300);
    EXPECT_EQ(count_of(r.output, "\"type\":\"Feature\""), 100u);
    r = tool("fetch " + db_ + " 2 50");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "vorpix: " + db_ + ": table \"shapes\" has no row 50\n");
}

// Indexing a file again replaces its rows; another file gets the next id.
TEST_F(IndexDatabase, IndexingAFileAgainReplacesItsRows) {
    for (int i = 0; i < 2; ++i) ASSERT_EQ(tool("index " + db_ + " " + esri("nc.shp")).status, 0);
    ASSERT_EQ(tool("index " + db_ + " " + esri("point.shp") + " " + esri("nc.shp")).status, 0);
    EXPECT_EQ(sqlite(db_, "SELECT fileid, count(*), min(recno), max(recno) FROM shapes GROUP BY fileid;"),
              "1|100|0|99\n2|3|0|2\n");
    EXPECT_EQ(sqlite(db_, "SELECT fileid FROM filename ORDER BY fileid;"), "1\n2\n");
    EXPECT_EQ(sqlite(db_, "SELECT count(*) FROM shapes_rtree;"), "103\n");
    const std::string joined = "SELECT count(*) FROM shapes s JOIN shapes_rtree r ON r.id = s.rowid;";
    EXPECT_EQ(sqlite(db_, joined), "103\n");
    // A table indexed before it had a tree gets one holding its old rows too.
    ASSERT_EQ(sqlite(db_, "DROP TABLE shapes_rtree;"), "");
    ASSERT_EQ(tool("index " + db_ + " " + esri("point.shp")).status, 0);
    EXPECT_EQ(sqlite(db_, joined), "103\n");
}

// The box query through the R*Tree answers as a scan of every row does, and
// both agree with the record boxes pyshp reads, across 180 degrees as well.
TEST_F(IndexDatabase, BoxQueriesMatchTheRecordBoxes) {
    if (!have_python_module("shapefile")) GTEST_SKIP() << "no pyshp";
    ASSERT_EQ(tool("index " + db_ + " " + esri("nc.shp")).status, 0);
    const std::string scan = dir_.file("scan.db");
    std::filesystem::copy_file(db_, scan);
    ASSERT_EQ(sqlite(scan, "DROP TABLE shapes_rtree;"), "");
    // Features in the order of their rows: the record numbers.
    const std::string rows = "import json,sys; print([f['row'] - 1 for f in json.load(sys.stdin)['features']])";
    const std::string pyshp = R"(import shapefile, sys
w, e, s, n = map(float, sys.argv[1].split('/'))
e = e + 360 if e < w else e
r = shapefile.Reader(sys.argv[2])
print([i for i, x in enumerate(r.shapes()) if x.bbox[3] >= s and x.bbox[1] <= n and any(x.bbox[2] >= w + t and x.bbox[0] <= e + t for t in (-360, 0, 360))])
)";
    for (const std::string box : {"-80/-78/35/36", "-77.5/-77.4/34/37", "100/-80/35/35.5", "-440/-437/30/40"}) {
        SCOPED_TRACE(box);
        const std::string expected = python(pyshp, box + " " + esri("nc.shp"));
        for (const std::string &db : {db_, scan}) {
            const auto fetched = tool_command() + " fetch " + db + " --box " + box;
            EXPECT_EQ(run_command(fetched + " | " + python_command() + " -c " + shell_word(rows)).output, expected);
        }
        EXPECT_NE(expected, "[]\n");
    }
}

// Rows written by hand or imported from a CSV (which makes every column
// text) fail with one line naming the row, never a crash.
TEST_F(IndexDatabase, RowsThatDoNotConvertFailNamingTheRow) {
    const std::string a200(200, 'a');
    // clang-format off
    const std::string csv = "fileid,offset,xmin,ymin,xmax,ymax\n1,100,-2,-2,2,2\n"
                            "1," + a200 + ",0,0,1,1\n" +
                            a200 + ",100,0,0,1,1\n"
                            "1,100," + a200 + ",0,1,1\n";
    // clang-format on
    vorpix::test::write_file(dir_.file("rows.csv"), csv.data(), csv.size());
    ASSERT_EQ(sqlite(db_, files_table("(1, '" + esri("point.shp") + "')")), "");
    ASSERT_EQ(run_command("sqlite3 " + db_ + " '.import --csv " + dir_.file("rows.csv") + " shapes'").status, 0);
    auto r = tool("fetch " + db_ + " 1");
    EXPECT_EQ(r.status, 0) << r.output;
    const std::string too_long = "\"" + std::string(40, 'a') + "\"... (200 bytes) is not an integer";
    for (const auto &[row, field] : {std::pair<std::string, std::string>{"2", "offset"}, {"3", "fileid"}}) {
        r = tool("fetch " + db_ + " " + row);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.output, "vorpix: " + db_ + ": row " + row + ": table \"shapes\" field \"" + field + "\" row " +
                                row + ": " + too_long + "\n");
    }
    // A box that the text cannot be compared with leaves the row out.
    r = tool("fetch " + db_ + " 4 --box -1/1/-1/1");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(count_of(r.output, "\"type\":\"Feature\""), 0u);
}

// A FIFO named as a shapefile is refused before it is opened: opening one
// for reading would wait for a writer for ever. Nor is a FIFO a database.
TEST_F(IndexDatabase, AFifoOrDeviceIsNotAShapefile) {
    const std::string fifo = dir_.file("pipe.shp");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(
        sqlite(
            db_,
            files_table("(1, '" + fifo + "'), (2, '/dev/zero')") +
                "CREATE TABLE shapes (fileid INTEGER, offset INTEGER); INSERT INTO shapes VALUES (1, 100), (2, 100);"),
        "");
    for (const auto &[row, path] : {std::pair<std::string, std::string>{"1", fifo}, {"2", "/dev/zero"}}) {
        const auto r = tool("fetch " + db_ + " " + row);
        EXPECT_EQ(r.status, 1) << "124 is the timeout";
        EXPECT_EQ(r.output,
                  "vorpix: " + db_ + ": row " + row + ": " + path + ": not a regular file, so not a shapefile\n");
    }
    auto r = tool("index " + dir_.file("new.db") + " " + fifo);
    EXPECT_EQ(r.status, 1) << "124 is the timeout";
    EXPECT_NE(r.output.find(fifo), std::string::npos) << r.output;
    for (const std::string &command : {"index " + fifo + " " + esri("point.shp"), "fetch " + fifo}) {
        r = tool(command);
        EXPECT_EQ(r.status, 1) << "124 is the timeout";
        EXPECT_EQ(r.output, "vorpix: " + fifo + ": not a regular file, so not a database\n");
    }
}

// A fetched feature is the feature vorpix shapes writes for the record,
// attributes included, with the row, the file and the offset as members; the
// attributes agree with pyshp's reading of the dBase file.
TEST_F(IndexDatabase, FetchedFeaturesAreTheShapesFeaturesWithRowAndFile) {
    if (!have_python_module("shapefile")) GTEST_SKIP() << "no pyshp";
    ASSERT_EQ(tool("index " + db_ + " " + esri("point.shp") + " " + esri("nc.shp")).status, 0);
    ASSERT_EQ(sqlite(db_, "DELETE FROM shapes WHERE rowid = 10;"), "");
    const std::string fetched = dir_.file("fetched.geojson"), direct = dir_.file("direct.geojson");
    ASSERT_EQ(tool("fetch " + db_ + " -o " + fetched).status, 0);
    ASSERT_EQ(tool("shapes " + esri("nc.shp") + " -o " + direct).status, 0);
    const std::string script = R"(import json, shapefile, sys
fetched = json.load(open(sys.argv[1]))['features']
direct = json.load(open(sys.argv[2]))['features']
dbf = shapefile.Reader(sys.argv[3])
nc = [f for f in fetched if f['file'] == sys.argv[3]]
print(len(fetched), len(nc), [f['row'] for f in fetched[:4]])
bad = 0
for f in nc:
    p = f['properties']
    d = direct[f['id']]
    bad += p != d['properties'] or f['geometry'] != d['geometry'] or f['bbox'] != d['bbox']
    bad += p['NAME'] != dbf.record(f['id'])['NAME'] or f['row'] != f['id'] + 4
print(bad)
)";
    EXPECT_EQ(python(script, fetched + " " + direct + " " + esri("nc.shp")), "102 99 [1, 2, 3, 4]\n0\n");
    EXPECT_EQ(vorpix::test::rfc7946_problems(fetched), "");
}

// A row whose offset is not where a record starts used to give a Null shape
// (offset 0, the file's header) or a message in the library's own terms
// (offset 99). Each is refused naming the row, the shapefile and the offset,
// against the offsets that the .shx lists and, without one, against the
// record header found there; the rows index made still fetch either way.
// A .dbf that fails after the record decoded leaks nothing (LeakSanitizer
// sees to that in the sanitizer build).
TEST_F(IndexDatabase, BadOffsetsAndFailingDbaseFilesAreRefusedCleanly) {
    namespace fs = std::filesystem;
    for (const std::string sub : {"with", "without", "cut"}) {
        fs::create_directories(dir_.file(sub));
        for (const char *ext : {".shp", ".shx", ".dbf"})
            if (sub != "without" || std::string(ext) != ".shx")
                fs::copy_file(esri("nc") + ext, dir_.file(sub + "/nc" + ext));
    }
    fs::resize_file(dir_.file("cut/nc.dbf"), 50);
    const auto r = tool("index " + db_ + " " + dir_.file("with/nc.shp") + " " + dir_.file("without/nc.shp") + " " +
                        dir_.file("cut/nc.shp"));
    ASSERT_EQ(r.status, 0) << r.output;
    const long bad[] = {0, 99, 596, 100000000, -4};  // the header, odd, within record 1, past the end, negative
    for (const int file : {0, 1}) {
        const std::string shp = dir_.file(file == 0 ? "with/nc.shp" : "without/nc.shp");
        for (size_t i = 0; i < std::size(bad); ++i) {
            const std::string row = std::to_string(100 * file + 2 + static_cast<long>(i));
            SCOPED_TRACE(shp + " row " + row);
            ASSERT_EQ(sqlite(db_, "UPDATE shapes SET offset = " + std::to_string(bad[i]) + " WHERE rowid = " + row),
                      "");
            for (const std::string list : {"", " --list"}) {
                const auto f = tool("fetch " + db_ + " " + row + list);
                EXPECT_EQ(f.status, 1);
                EXPECT_EQ(f.output, "vorpix: " + db_ + ": row " + row + ": " + shp + ": offset " +
                                        std::to_string(bad[i]) + " is not the start of a record\n");
            }
        }
        const auto f = tool("fetch " + db_ + " " + std::to_string(100 * file + 1) + " " +
                            std::to_string(100 * file + 100));
        EXPECT_EQ(f.status, 0) << f.output;
        EXPECT_EQ(count_of(f.output, "\"type\":\"Feature\""), 2u);
    }
    const auto f = tool("fetch " + db_ + " 201");
    EXPECT_EQ(f.status, 1);
    EXPECT_EQ(f.output.rfind("vorpix: " + dir_.file("cut/nc.dbf") + ": ", 0), 0u) << f.output;
    EXPECT_EQ(count_of(f.output, "\n"), 1u) << f.output;
}

// index wrote into a database that nobody may write when root ran it, though
// -o refuses such a file even for root.
TEST_F(IndexDatabase, AReadOnlyDatabaseIsNotWritten) {
    ASSERT_EQ(tool("index " + db_ + " " + esri("point.shp")).status, 0);
    ASSERT_EQ(::chmod(db_.c_str(), 0444), 0);
    const auto before = vorpix::test::read_file(db_);
    const auto r = tool("index " + db_ + " " + esri("nc.shp"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "vorpix: " + db_ + ": cannot write: the file is read-only\n");
    EXPECT_TRUE(vorpix::test::read_file(db_) == before);
}
