// The database layer over SQLite, on databases made by the sqlite3 client.
#include "db.h"

#include "log_capture.hpp"
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iterator>
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

// Rows are pointed at and read; a missing record, field, table or database,
// and a FIFO or device (SQLite would wait on a FIFO for ever), are -1 with a
// message naming them.
TEST_F(ClientDatabase, PointsAtRowsAndReadsTheirFieldsOrFailsWithAMessage) {
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
    EXPECT_EQ(dblookup(row, nullptr, nullptr, "dbALL", nullptr).field, dbALL);
    EXPECT_EQ(dblookup(db_, nullptr, "nosuchtable", nullptr, nullptr).table, dbINVALID);

    LogCapture log;
    row = dblookup(db_, nullptr, "shapes", nullptr, "9");
    long v;
    EXPECT_EQ(dbgetv(row, nullptr, "offset", &v, nullptr), -1);
    EXPECT_EQ(log.text(), "dbgetv: " + path_ + ": table \"shapes\" has no record 9.\n");
    log.clear();
    row = dblookup(db_, nullptr, "shapes", nullptr, "1");
    EXPECT_EQ(dbgetv(row, nullptr, "nosuchfield", &v, nullptr), -1);
    EXPECT_NE(log.text().find("no field \"nosuchfield\""), std::string::npos);
    Dbptr none;
    EXPECT_EQ(dbopen(dir_.file("missing/x.db").c_str(), "r", &none), -1);
    const std::string fifo = dir_.file("pipe.db");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string &path : {fifo, std::string("/dev/null")})
        for (const char *mode : {"r", "r+"}) {
            const auto refused = [&] {
                LogCapture child_log;
                Dbptr db;
                return dbopen(path.c_str(), mode, &db) == -1 &&
                       child_log.text() == "dbopen: " + path + ": not a regular file.\n";
            };
            EXPECT_TRUE(vorpix::test::true_within(5, refused)) << path << " " << mode;
        }
    EXPECT_EQ(dbgetv(Dbptr{99, 0, 0, 0}, nullptr, "x", &v, nullptr), -1);
}

// A handle keeps the statements it makes: reading rows in turn, each read
// sees its own row, what another handle has since written, and after the
// handle's own SQL has renamed a field, the field by its new name alone.
TEST_F(ClientDatabase, ReadsAgainSeeTheirRowAndWhatHasChanged) {
    const auto offset_of = [this](const char *record, const char *field = "offset") {
        long v = -1;
        const Dbptr row = dblookup(db_, nullptr, "shapes", nullptr, record);
        return dbgetv(row, nullptr, field, &v, nullptr) == 0 ? v : -1;
    };
    EXPECT_EQ(offset_of("2"), 236);
    EXPECT_EQ(offset_of("1"), 100);
    EXPECT_EQ(offset_of("2"), 236);
    Dbptr writer;
    ASSERT_EQ(dbopen(path_.c_str(), "r+", &writer), 0);
    writer = dblookup(writer, nullptr, "shapes", nullptr, nullptr);
    ASSERT_EQ(dbexec(writer, "UPDATE shapes SET offset = 999 WHERE rowid = 1"), 0);
    ASSERT_EQ(dbclose(writer), 0);
    EXPECT_EQ(offset_of("1"), 999);
    EXPECT_EQ(dblookup(db_, nullptr, "shapes", "offset", "999").record, 1);
    ASSERT_EQ(dbclose(db_), 0);
    ASSERT_EQ(dbopen(path_.c_str(), "r+", &db_), 0);
    EXPECT_EQ(offset_of("2"), 236);
    ASSERT_EQ(
        dbexec(dblookup(db_, nullptr, "shapes", nullptr, nullptr), "ALTER TABLE shapes RENAME COLUMN offset TO at"), 0);
    LogCapture log;
    EXPECT_EQ(offset_of("2"), -1);
    EXPECT_NE(log.text().find("no field \"offset\""), std::string::npos);
    EXPECT_EQ(offset_of("2", "at"), 236);
}

namespace {

// A destination followed by bytes that must stay untouched.
template <typename T>
struct Guarded {
    T value;
    unsigned char after[300];
    Guarded() {
        std::memset(&value, 0x5a, sizeof value);
        std::memset(after, 0x5a, sizeof after);
    }
    bool intact() const { return std::count(std::begin(after), std::end(after), 0x5a) == sizeof after; }
};

struct Read {
    const char *table;
    int row;
    const char *field;
    char kind;             // 'l' long, 'd' double, 't' 256-byte text
    std::string expected;  // the value as text, or the message's tail after "row N: "
    bool ok;
};

}  // namespace

// Every value lands in its field's destination as that destination's type,
// or fails with a message naming the table, field and row: never more bytes
// than the destination holds.
TEST(DatabaseValues, ConvertToTheFieldsTypeOrFailNamingTableFieldAndRow) {
    if (run_command("command -v sqlite3 >/dev/null").status != 0) GTEST_SKIP() << "no sqlite3 client";
    TempDir dir;
    const std::string a200(200, 'a'), f255(255, 'f'), f256(256, 'f');
    // .import of a CSV makes every column TEXT.
    // clang-format off
    const std::string csv = "fileid,offset,xmin,filename,label\n"
                            "3,236,2.25,shapes/coast.shp,x\n" +
                            a200 + "," + a200 + "," + a200 + "," + a200 + "," + a200 + "\n"
                            "12abc, 5,1e3," + f255 + ",\n"
                            "99999999999999999999,-9223372036854775808,+.5," + f256 + ",7\n"
                            "+-4,0x10,nan,a,b\n";
    const std::string sql = ".import --csv " + dir.file("rows.csv") + " imported\n"
        "CREATE TABLE typed (fileid INTEGER, offset INTEGER, xmin REAL, filename TEXT, count INT, ratio DOUBLE, note, price NUMERIC);\n"
        "INSERT INTO typed VALUES (x'00112233445566778899', 7.0, 9223372036854775807, 12345, 4, 3, 42, 1.5);\n"
        "INSERT INTO typed VALUES (NULL, 2.5, x'00', x'41424344', 'abc', '', NULL, 'cheap');\n"
        "INSERT INTO typed VALUES (9223372036854775807, 1e300, '12abc', 'a' || char(0) || 'b', '" + a200 + "', '-0.25', 'n', 7);\n"
        "INSERT INTO typed VALUES (-9223372036854775808, 9223372036854775807.0, -1e308, NULL, 2, 1e308, x'ff', NULL);\n";
    // clang-format on
    vorpix::test::write_file(dir.file("rows.csv"), csv.data(), csv.size());
    vorpix::test::write_file(dir.file("make.sql"), sql.data(), sql.size());
    const std::string db = dir.file("rows.db");
    ASSERT_EQ(run_command("sqlite3 " + db + " < " + dir.file("make.sql")).status, 0);

    const std::string a40 = "\"" + std::string(40, 'a') + "\"... (200 bytes)";
    // clang-format off
    const std::vector<Read> reads = {
        {"imported", 1, "fileid", 'l', "3", true},
        {"imported", 1, "offset", 'l', "236", true},
        {"imported", 1, "xmin", 'd', "2.25", true},
        {"imported", 1, "filename", 't', "shapes/coast.shp", true},
        {"imported", 1, "label", 't', "x", true},
        {"imported", 2, "fileid", 'l', a40 + " is not an integer", false},
        {"imported", 2, "offset", 'l', a40 + " is not an integer", false},
        {"imported", 2, "xmin", 'd', a40 + " is not a number", false},
        {"imported", 2, "filename", 't', std::string(200, 'a'), true},
        {"imported", 3, "fileid", 'l', "\"12abc\" is not an integer", false},
        {"imported", 3, "offset", 'l', "\" 5\" is not an integer", false},
        {"imported", 3, "xmin", 'd', "1000", true},
        {"imported", 3, "filename", 't', f255, true},
        {"imported", 3, "label", 't', "", true},
        {"imported", 4, "fileid", 'l', "\"99999999999999999999\" is not an integer", false},
        {"imported", 4, "offset", 'l', "-9223372036854775808", true},
        {"imported", 4, "xmin", 'd', "0.5", true},
        {"imported", 4, "filename", 't', "\"" + std::string(40, 'f') + "\"... (256 bytes) is longer than 255 bytes", false},
        {"imported", 5, "fileid", 'l', "\"+-4\" is not an integer", false},
        {"imported", 5, "offset", 'l', "\"0x10\" is not an integer", false},
        {"imported", 5, "xmin", 'd', "\"nan\" is not a number", false},
        {"typed", 1, "fileid", 'l', "a blob of 10 bytes is not an integer", false},
        {"typed", 1, "offset", 'l', "7", true},
        {"typed", 1, "xmin", 'd', "9.2233720368547758e+18", true},
        {"typed", 1, "filename", 't', "12345", true},
        {"typed", 1, "count", 'l', "4", true},
        {"typed", 1, "ratio", 'd', "3", true},
        {"typed", 1, "note", 't', "42", true},
        {"typed", 1, "price", 't', "1.5", true},
        {"typed", 2, "fileid", 'l', "NULL is not an integer", false},
        {"typed", 2, "offset", 'l', "2.5 is not an integer", false},
        {"typed", 2, "xmin", 'd', "a blob of 1 bytes is not a number", false},
        {"typed", 2, "filename", 't', "a blob of 4 bytes is not text", false},
        {"typed", 2, "count", 'l', "\"abc\" is not an integer", false},
        {"typed", 2, "ratio", 'd', "\"\" is not a number", false},
        {"typed", 2, "note", 't', "NULL is not text", false},
        {"typed", 2, "price", 't', "cheap", true},
        {"typed", 3, "fileid", 'l', "9223372036854775807", true},
        {"typed", 3, "offset", 'l', "1.0e+300 is not an integer", false},
        {"typed", 3, "xmin", 'd', "\"12abc\" is not a number", false},
        {"typed", 3, "filename", 't', "\"a\\x00b\" holds a NUL byte", false},
        {"typed", 3, "count", 'l', a40 + " is not an integer", false},
        {"typed", 3, "ratio", 'd', "-0.25", true},
        {"typed", 4, "fileid", 'l', "-9223372036854775808", true},
        {"typed", 4, "offset", 'l', "9.22337203685478e+18 is not an integer", false},
        {"typed", 4, "xmin", 'd', "-1e+308", true},
        {"typed", 4, "filename", 't', "NULL is not text", false},
        {"typed", 4, "ratio", 'd', "1e+308", true},
        {"typed", 4, "note", 't', "a blob of 1 bytes is not text", false},
    };
    // clang-format on
    Dbptr base{};
    ASSERT_EQ(dbopen(db.c_str(), "r", &base), 0);
    for (const Read &r : reads) {
        SCOPED_TRACE(std::string(r.table) + " row " + std::to_string(r.row) + " " + r.field);
        const Dbptr row = dblookup(dblookup(base, nullptr, r.table, nullptr, nullptr), nullptr, nullptr, nullptr,
                                   std::to_string(r.row).c_str());
        LogCapture log;
        Guarded<long> l;
        Guarded<double> d;
        Guarded<char[256]> t;
        void *address = r.kind == 'l'   ? static_cast<void *>(&l.value)
                        : r.kind == 'd' ? static_cast<void *>(&d.value)
                                        : static_cast<void *>(t.value);
        const int status = dbgetv(row, nullptr, r.field, address, nullptr);
        EXPECT_TRUE(l.intact() && d.intact() && t.intact());
        if (r.ok) {
            ASSERT_EQ(status, 0) << log.text();
            EXPECT_EQ(log.text(), "");
            if (r.kind == 'd') EXPECT_EQ(d.value, std::strtod(r.expected.c_str(), nullptr));
            else EXPECT_EQ(r.kind == 'l' ? std::to_string(l.value) : std::string(t.value), r.expected);
        } else {
            EXPECT_EQ(status, -1);
            EXPECT_EQ(log.text(), "dbgetv: " + db + ": table \"" + r.table + "\" field \"" + r.field + "\" row " +
                                      std::to_string(r.row) + ": " + r.expected + ".\n");
        }
    }
}
