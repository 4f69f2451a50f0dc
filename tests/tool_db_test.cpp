// vorpix index and fetch, run as a user would, with the sqlite3 client and
// pyshp as independent readers and writers of the database and shapefiles.
#include "geojson_checks.hpp"
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

using vorpix::test::count_of;
using vorpix::test::fixture_path;
using vorpix::test::python_command;
using vorpix::test::rfc7946_problems;
using vorpix::test::run_command;
using vorpix::test::TempDir;
using vorpix::test::tool_command;
using vorpix::test::write_file;

namespace {

std::string esri(const std::string &name) { return fixture_path("esri/" + name); }

// A word for the shell, whatever it holds.
std::string shell_word(const std::string &s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string sqlite(const std::string &db, const std::string &sql) {
    return run_command("sqlite3 " + db + " " + shell_word(sql) + " 2>&1").output;
}

class IndexDatabase : public testing::Test {
protected:
    void SetUp() override {
        if (run_command("command -v sqlite3 >/dev/null").status != 0) GTEST_SKIP() << "no sqlite3 client";
        db_ = dir_.file("shapes.db");
    }
    vorpix::test::CommandResult tool(const std::string &args) {
        return run_command("timeout 20 " + tool_command() + " " + args + " 2>&1");
    }
    TempDir dir_;
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
// the record as "vorpix info" lists it in the shapefile.
TEST_F(IndexDatabase, RowsNameFileOffsetAndRecordAndFetchListsTheRecord) {
    auto r = tool("index " + db_ + " " + esri("nc.shp") + " " + esri("point.shp"));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.output, db_ + ": 2 files, 103 shapes in table shapes\n");
    EXPECT_EQ(sqlite(db_, "SELECT fileid, offset, recno FROM shapes WHERE rowid IN (1, 2, 101);"),
              "1|100|0\n1|588|1\n2|100|0\n");
    r = tool("fetch " + db_ + " 101 --list");
    EXPECT_EQ(r.output,
              "Record(0):\n  offset=100\n  RecordHdr:\n    number=1\n    length=10\n  RecordPoint(0):\n"
              "    shape_type=RecordPoint\n    x=1.500000\n    y=2.250000\n");
}

// Indexing a file again replaces its rows; another file gets the next id.
TEST_F(IndexDatabase, IndexingAFileAgainReplacesItsRows) {
    for (int i = 0; i < 2; ++i) ASSERT_EQ(tool("index " + db_ + " " + esri("nc.shp")).status, 0);
    ASSERT_EQ(tool("index " + db_ + " " + esri("point.shp") + " " + esri("nc.shp")).status, 0);
    EXPECT_EQ(sqlite(db_, "SELECT fileid, count(*), min(recno), max(recno) FROM shapes GROUP BY fileid;"),
              "1|100|0|99\n2|3|0|2\n");
    EXPECT_EQ(sqlite(db_, "SELECT fileid FROM filename ORDER BY fileid;"), "1\n2\n");
    EXPECT_EQ(sqlite(db_, "SELECT count(*) FROM shapes_rtree;"), "103\n");
    EXPECT_EQ(sqlite(db_, "SELECT count(*) FROM shapes s JOIN shapes_rtree r ON r.id = s.rowid;"), "103\n");
    // A table indexed before it had a tree gets one holding its old rows too.
    ASSERT_EQ(sqlite(db_, "DROP TABLE shapes_rtree;"), "");
    ASSERT_EQ(tool("index " + db_ + " " + esri("point.shp")).status, 0);
    EXPECT_EQ(sqlite(db_, "SELECT count(*) FROM shapes s JOIN shapes_rtree r ON r.id = s.rowid;"), "103\n");
}

// The box query through the R*Tree answers as a scan of every row does, and
// both agree with the record boxes pyshp reads, across 180 degrees as well.
TEST_F(IndexDatabase, BoxQueriesMatchTheRecordBoxes) {
    if (run_command(python_command() + " -c 'import shapefile' 2>/dev/null").status != 0) GTEST_SKIP() << "no pyshp";
    ASSERT_EQ(tool("index " + db_ + " " + esri("nc.shp")).status, 0);
    const std::string scan = dir_.file("scan.db");
    std::filesystem::copy_file(db_, scan);
    ASSERT_EQ(sqlite(scan, "DROP TABLE shapes_rtree;"), "");
    for (const std::string box : {"-80/-78/35/36", "-77.5/-77.4/34/37", "100/-80/35/35.5", "-440/-437/30/40"}) {
        SCOPED_TRACE(box);
        // Features in the order of their rows: the record numbers.
        const std::string records =
            "import json,sys; print([f['properties']['row'] - 1 for f in json.load(sys.stdin)['features']])";
        const auto tree = run_command(tool_command() + " fetch " + db_ + " --box " + box + " | " + python_command() +
                                      " -c \"" + records + "\"");
        const auto all = run_command(tool_command() + " fetch " + scan + " --box " + box + " | " + python_command() +
                                     " -c \"" + records + "\"");
        const auto pyshp = run_command(python_command() + " -c \"import shapefile; w,e,s,n=map(float,'" + box +
                                       "'.split('/')); e=e+360 if e<w else e\n"
                                       "r=shapefile.Reader('" +
                                       esri("nc.shp") +
                                       "')\n"
                                       "print([i for i,x in enumerate(r.shapes()) if x.bbox[3]>=s and x.bbox[1]<=n and "
                                       "any(x.bbox[2]>=w+t and x.bbox[0]<=e+t for t in (-360,0,360))])\"");
        EXPECT_EQ(tree.output, pyshp.output);
        EXPECT_EQ(all.output, pyshp.output);
        EXPECT_NE(pyshp.output, "[]\n");
    }
}

// Without row numbers fetch walks the rows there are; a row named that is
// not there is one message naming the database once.
TEST_F(IndexDatabase, FetchWalksTheRowsThatExist) {
    ASSERT_EQ(tool("index " + db_ + " " + esri("nc.shp")).status, 0);
    ASSERT_EQ(sqlite(db_, "DELETE FROM shapes WHERE rowid IN (1, 50, 100);"), "");
    auto r = tool("fetch " + db_);
    ASSERT_EQ(r.status, 0) << r.output.substr(0, 300);
    EXPECT_EQ(count_of(r.output, "\"type\":\"Feature\""), 97u);
    r = tool("fetch " + db_ + " 2 50");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "vorpix: " + db_ + ": table \"shapes\" has no row 50\n");
}

// Rows written by hand or imported from a CSV (which makes every column
// text) fail with one line naming the row, never a crash.
TEST_F(IndexDatabase, RowsThatDoNotConvertFailNamingTheRow) {
    const std::string a200(200, 'a');
    const std::string csv =
        "fileid,offset,xmin,ymin,xmax,ymax\n"
        "1,100,-2,-2,2,2\n"
        "1," +
        a200 + ",0,0,1,1\n" + a200 +
        ",100,0,0,1,1\n"
        "1,100," +
        a200 + ",0,1,1\n";
    write_file(dir_.file("rows.csv"), csv.data(), csv.size());
    ASSERT_EQ(sqlite(db_, "CREATE TABLE filename (fileid INTEGER, filename TEXT); INSERT INTO filename VALUES (1, '" +
                              esri("point.shp") + "');"),
              "");
    ASSERT_EQ(run_command("sqlite3 " + db_ + " '.import --csv " + dir_.file("rows.csv") + " shapes'").status, 0);
    auto r = tool("fetch " + db_ + " 1");
    EXPECT_EQ(r.status, 0) << r.output;
    const std::pair<const char *, std::string> cases[] = {
        {"2", "row 2: table \"shapes\" field \"offset\" row 2: \"" + std::string(40, 'a') +
                  "\"... (200 bytes) is not an integer"},
        {"3", "row 3: table \"shapes\" field \"fileid\" row 3: \"" + std::string(40, 'a') +
                  "\"... (200 bytes) is not an integer"},
    };
    for (const auto &[row, message] : cases) {
        r = tool("fetch " + db_ + " " + row);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.output, "vorpix: " + db_ + ": " + message + "\n");
    }
    // A box that the text cannot be compared with leaves the row out.
    r = tool("fetch " + db_ + " 4 --box -1/1/-1/1");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(count_of(r.output, "\"type\":\"Feature\""), 0u);
}

// A FIFO named as a shapefile is refused before it is opened: opening one
// for reading would wait for a writer for ever.
TEST_F(IndexDatabase, AFifoOrDeviceIsNotAShapefile) {
    const std::string fifo = dir_.file("pipe.shp");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(sqlite(db_,
                     "CREATE TABLE filename (fileid INTEGER, filename TEXT);"
                     "INSERT INTO filename VALUES (1, '" +
                         fifo +
                         "'), (2, '/dev/zero');"
                         "CREATE TABLE shapes (fileid INTEGER, offset INTEGER);"
                         "INSERT INTO shapes VALUES (1, 100), (2, 100);"),
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
    // Nor is a FIFO a database.
    for (const std::string &command : {"index " + fifo + " " + esri("point.shp"), "fetch " + fifo}) {
        r = tool(command);
        EXPECT_EQ(r.status, 1) << "124 is the timeout";
        EXPECT_EQ(r.output, "vorpix: " + fifo + ": not a regular file, so not a database\n");
    }
}

// A fetched feature is the feature vorpix shapes writes for the record,
// attributes included, with the row, the file and the offset in front; the
// attributes agree with pyshp's reading of the dBase file.
TEST_F(IndexDatabase, FetchedFeaturesAreTheShapesFeaturesWithRowAndFile) {
    if (run_command(python_command() + " -c 'import shapefile' 2>/dev/null").status != 0) GTEST_SKIP() << "no pyshp";
    ASSERT_EQ(tool("index " + db_ + " " + esri("point.shp") + " " + esri("nc.shp")).status, 0);
    ASSERT_EQ(sqlite(db_, "DELETE FROM shapes WHERE rowid = 10;"), "");
    const std::string fetched = dir_.file("fetched.geojson"), direct = dir_.file("direct.geojson");
    ASSERT_EQ(tool("fetch " + db_ + " -o " + fetched).status, 0);
    ASSERT_EQ(tool("shapes " + esri("nc.shp") + " -o " + direct).status, 0);
    const auto r = run_command(python_command() +
                               " - <<'EOF'\n"
                               "import json, shapefile\n"
                               "fetched = json.load(open('" +
                               fetched +
                               "'))['features']\n"
                               "direct = json.load(open('" +
                               direct +
                               "'))['features']\n"
                               "dbf = shapefile.Reader('" +
                               esri("nc.shp") +
                               "')\n"
                               "nc = [f for f in fetched if f['properties']['file'] == '" +
                               esri("nc.shp") +
                               "']\n"
                               "print(len(fetched), len(nc), [f['properties']['row'] for f in fetched[:4]])\n"
                               "bad = 0\n"
                               "for f in nc:\n"
                               "    p = dict(f['properties'])\n"
                               "    row, offset = p.pop('row'), p.pop('offset')\n"
                               "    p.pop('file')\n"
                               "    d = direct[p['record']]\n"
                               "    bad += p != d['properties'] or f['geometry'] != d['geometry']\n"
                               "    bad += p['NAME'] != dbf.record(p['record'])['NAME'] or row != p['record'] + 4\n"
                               "print(bad)\n"
                               "EOF");
    EXPECT_EQ(r.output, "102 99 [1, 2, 3, 4]\n0\n");
    EXPECT_EQ(rfc7946_problems(fetched), "");
}
