// vorpix index and fetch, which keep shapes in an SQLite database.
#include "cli.hpp"
#include "commands.hpp"
#include "geo_output.hpp"

#include "vorpix/features.hpp"
#include "vorpix/geojson_writer.hpp"

#include "esri.h"

#include "db.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vorpix::cli {
namespace {

// The tool's own connection to an index database, for what the host's
// database layer does not offer: statements with bound values.
class Sql {
public:
    Sql(const std::string &path, bool write) : path_(path) {
        const int flags = write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
        if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) fail();
        sqlite3_busy_timeout(db_, 5000);
    }
    ~Sql() { sqlite3_close(db_); }  // without a COMMIT, everything since BEGIN is rolled back
    Sql(const Sql &) = delete;
    Sql &operator=(const Sql &) = delete;
    [[noreturn]] void fail() const { throw InputError(path_ + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory")); }
    void exec(const std::string &sql) {
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) fail();
    }
    bool has_table(const std::string &name);
    sqlite3 *get() const { return db_; }

private:
    std::string path_;
    sqlite3 *db_ = nullptr;
};

// A prepared statement whose values are bound from 1 in the order given.
class Query {
public:
    Query(Sql &db, const std::string &sql) : db_(db) {
        if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) db.fail();
    }
    ~Query() { sqlite3_finalize(stmt_); }
    Query(const Query &) = delete;
    Query &operator=(const Query &) = delete;
    Query &bind(long v) { return check(sqlite3_bind_int64(stmt_, ++bound_, v)); }
    Query &bind(double v) {
        return check(std::isnan(v) ? sqlite3_bind_null(stmt_, ++bound_) : sqlite3_bind_double(stmt_, ++bound_, v));
    }
    Query &bind(const std::string &v) {
        return check(sqlite3_bind_text(stmt_, ++bound_, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT));
    }
    // true for a row, false at the end.
    bool step() {
        const int status = sqlite3_step(stmt_);
        if (status != SQLITE_ROW && status != SQLITE_DONE) db_.fail();
        return status == SQLITE_ROW;
    }
    void reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
        bound_ = 0;
    }
    void run() {
        step();
        reset();
    }
    long integer(int column) const { return static_cast<long>(sqlite3_column_int64(stmt_, column)); }
    bool null(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
    std::string text(int column) const {
        const auto *t = reinterpret_cast<const char *>(sqlite3_column_text(stmt_, column));
        return t ? std::string(t, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))) : std::string();
    }

private:
    Query &check(int status) {
        if (status != SQLITE_OK) db_.fail();
        return *this;
    }
    Sql &db_;
    sqlite3_stmt *stmt_ = nullptr;
    int bound_ = 0;
};

bool Sql::has_table(const std::string &name) {
    Query q(*this, "SELECT 1 FROM sqlite_master WHERE name = ?1 AND type = 'table'");
    return q.bind(name).step();
}

// SQLite opens whatever path it is given; a database is a regular file
// (for index, one that is yet to be made as well).
void check_database_path(const std::string &path, bool may_be_missing) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found && may_be_missing) return;
    if (status.type() == std::filesystem::file_type::not_found) throw InputError(path + ": no such file");
    if (status.type() != std::filesystem::file_type::regular)
        throw InputError(path + ": not a regular file, so not a database");
}

// An SQL identifier for any name.
std::string ident(const std::string &name) {
    std::string out = "\"";
    for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

// The R*Tree that answers box queries on a table: its ids are the table's rowids.
std::string rtree_of(const std::string &table) { return table + "_rtree"; }

int run_index(int argc, char **argv) {
    Args args(argc, argv, {"table"});
    args.allow_flags({});
    if (args.positional().size() < 2) throw UsageError("name a database and at least one shapefile");
    const std::string db_path = args.positional()[0];
    const std::string table = args.get("table", "shapes");
    if (table.empty()) throw UsageError("a table needs a name");
    // Every file decodes before the database is touched.
    std::vector<IndexedFile> files;
    size_t total = 0;
    for (size_t i = 1; i < args.positional().size(); ++i) {
        const std::string &path = args.positional()[i];
        files.push_back({std::filesystem::absolute(path).lexically_normal().string(), index_shapefile(path)});
        total += files.back().shapes.size();
    }
    write_index(db_path, table, files);
    Output out("");
    out.append(db_path + ": " + std::to_string(files.size()) + " files, " + std::to_string(total) +
               " shapes in table " + table + "\n");
    out.commit();
    return 0;
}

// Whether a shape's box (xmin, ymin, xmax, ymax) meets the box, the box
// also taken a turn east and west.
bool meets(const double b[4], const Box &box) {
    const double east = box.east < box.west ? box.east + 360 : box.east;
    if (b[3] < box.south || b[1] > box.north) return false;
    for (double turn : {-360.0, 0.0, 360.0})
        if (b[2] >= box.west + turn && b[0] <= east + turn) return true;
    return false;
}

// The rows of the table whose boxes meet the box, in order, found through
// its R*Tree. The tree holds the boxes rounded outwards to floats, so it
// only chooses the rows whose own boxes are then compared.
std::vector<long> rows_in_box(Sql &db, const std::string &table, const Box &box) {
    const double east = box.east < box.west ? box.east + 360 : box.east;
    Query q(db, "SELECT t.rowid FROM " + ident(rtree_of(table)) + " AS r JOIN " + ident(table) +
                    " AS t ON t.rowid = r.id WHERE r.xmax >= ?1 AND r.xmin <= ?2 AND r.ymax >= ?3 AND r.ymin <= ?4 "
                    "AND t.xmax >= ?1 AND t.xmin <= ?2 AND t.ymax >= ?3 AND t.ymin <= ?4");
    std::vector<long> rows;
    for (double turn : {-360.0, 0.0, 360.0}) {
        q.bind(box.west + turn).bind(east + turn).bind(box.south).bind(box.north);
        while (q.step()) rows.push_back(q.integer(0));
        q.reset();
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

std::vector<long> all_rows(Sql &db, const std::string &table) {
    Query q(db, "SELECT rowid FROM " + ident(table) + " ORDER BY rowid");
    std::vector<long> rows;
    while (q.step()) rows.push_back(q.integer(0));
    return rows;
}

// Row numbers from the command line, each a row that exists.
std::vector<long> named_rows(Sql &db, const std::string &db_path, const std::string &table,
                             const std::vector<std::string> &texts) {
    Query exists(db, "SELECT 1 FROM " + ident(table) + " WHERE rowid = ?1");
    std::vector<long> rows;
    for (const std::string &t : texts) {
        long v = 0;
        auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
        if (ec != std::errc() || end != t.data() + t.size() || v < 1)
            throw UsageError("rows are numbered from 1, not \"" + t + "\"");
        const bool found = exists.bind(v).step();
        exists.reset();
        if (!found) throw InputError(db_path + ": table \"" + table + "\" has no row " + t);
        rows.push_back(v);
    }
    return rows;
}

// The rows whose boxes, read through the host's database layer as the
// fetch reads every value, meet the box. A row without a box (a Null
// shape, or values that are not numbers) meets none.
std::vector<long> rows_meeting(Dbptr table, const std::vector<long> &rows, const Box &box) {
    std::vector<long> out;
    LogCollector ignore;
    for (long r : rows) {
        const Dbptr row = dblookup(table, nullptr, nullptr, nullptr, std::to_string(r).c_str());
        double b[4];
        if (dbgetv(row, nullptr, "xmin", &b[0], "ymin", &b[1], "xmax", &b[2], "ymax", &b[3], nullptr) == 0 &&
            meets(b, box))
            out.push_back(r);
    }
    return out;
}

// A library message about a row, without the function's name, the full stop
// and the database's name, which the tool puts first.
std::string row_reason(const std::string &message, const std::string &db_path) {
    std::string text = without_function(message);
    if (text.compare(0, db_path.size() + 2, db_path + ": ") == 0) text.erase(0, db_path.size() + 2);
    // The library names the shapefile it could not read by its own call.
    const std::string call = "mapfile(", tail = ") error";
    if (text.rfind(call, 0) == 0 && text.size() > call.size() + tail.size() &&
        text.compare(text.size() - tail.size(), tail.size(), tail) == 0) {
        const std::string path = text.substr(call.size(), text.size() - call.size() - tail.size());
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) return path + ": cannot be read: " + std::strerror(errno);
        if (!S_ISREG(st.st_mode)) return path + ": not a regular file, so not a shapefile";
        return path + ": cannot be read";
    }
    return text;
}

// The shapefiles that rows name, found as the library finds them (a
// relative name is taken from the database's directory), each with its
// coordinate system and the dBase file beside it, read once.
class Shapefiles {
public:
    Shapefiles(Sql &db, const std::string &db_path, std::string encoding, bool transform)
        : db_path_(db_path),
          name_(db, "SELECT filename FROM filename WHERE fileid = ?1 ORDER BY rowid LIMIT 1"),
          encoding_(std::move(encoding)),
          transform_(transform) {}

    // Refuses a row whose offset is not where a record of its shapefile
    // starts, where the library would decode whatever bytes lie there. A row
    // or file that cannot be read is left to the library, which says why.
    void check_offset(Dbptr row, long r) {
        long fileid = 0, offset = 0;
        {
            LogCollector ignore;
            if (dbgetv(row, nullptr, "fileid", &fileid, "offset", &offset, nullptr) < 0) return;
        }
        const std::string &path = path_of(fileid);
        if (path.empty()) return;
        features::ShapefileReader *reader = nullptr;
        try {
            reader = &of(fileid);
        } catch (const InputError &) {
            return;  // the fetch names what is wrong with the file
        }
        if (!reader->starts_record(static_cast<std::uint64_t>(offset)))
            throw InputError(db_path_ + ": row " + std::to_string(r) + ": " + path + ": offset " +
                             std::to_string(offset) + " is not the start of a record");
    }

    // A fetched record as vorpix shapes writes it, with its row, file and
    // offset as members of the Feature. The record number is the row's
    // recno when it has one, else the one the record's header gives.
    void write(Dbptr row, long r, const ESRISHPRECStr &rec, features::GeoJsonWriter &json) {
        long fileid = 0;
        {
            LogCollector ignore;
            dbgetv(row, nullptr, "fileid", &fileid, nullptr);
        }
        features::ShapefileReader &reader = of(fileid);
        const int record = record_number(row, rec);
        reader.feature_of(rec, record, feature_);
        std::string extra = "\"row\":" + std::to_string(r) + ",\"file\":";
        features::json_string(path_of(fileid), extra);
        extra += ",\"offset\":" + std::to_string(rec.offset);
        json.write(feature_, reader.fields(), extra);
    }

    // The record's number from 0, as vorpix shapes and info count: the
    // row's recno when it has one, else the record header's number less one.
    static int record_number(Dbptr row, const ESRISHPRECStr &rec) {
        long recno = -1;
        LogCollector ignore;
        if (dbgetv(row, nullptr, "recno", &recno, nullptr) < 0 || recno < 0 || recno > INT_MAX)
            recno = rec.hdr.number - 1L;
        return static_cast<int>(std::clamp<long>(recno, 0, INT_MAX));
    }

private:
    // The shapefile of a file id as the library finds it, noted as an input;
    // "" when the database names none.
    const std::string &path_of(long fileid) {
        auto known = paths_.find(fileid);
        if (known != paths_.end()) return known->second;
        std::string path = name_.bind(fileid).step() ? name_.text(0) : "";
        name_.reset();
        const size_t slash = db_path_.rfind('/');
        if (!path.empty() && path[0] != '/' && slash != std::string::npos) path = db_path_.substr(0, slash + 1) + path;
        if (!path.empty()) note_input(path);
        return paths_.emplace(fileid, path).first->second;
    }

    // The reader of a file id's shapefile, for its table and coordinates.
    features::ShapefileReader &of(long fileid) {
        auto known = sources_.find(fileid);
        if (known != sources_.end()) return *known->second;
        features::ShapefileOptions options;
        options.encoding = encoding_;
        options.transform = transform_;
        options.deleted = true;
        options.warn = print_warning;
        options.opened = note_input;
        auto reader = std::make_unique<features::ShapefileReader>(path_of(fileid), options);
        return *sources_.emplace(fileid, std::move(reader)).first->second;
    }

    std::string db_path_;
    Query name_;
    std::string encoding_;
    bool transform_;
    std::map<long, std::unique_ptr<features::ShapefileReader>> sources_;
    features::Feature feature_;
    std::map<long, std::string> paths_;
};

// A decoded record, released however its fetch ends.
struct FetchedRecord {
    ESRISHPRECStr rec{};
    FetchedRecord() = default;
    FetchedRecord(const FetchedRecord &) = delete;
    FetchedRecord &operator=(const FetchedRecord &) = delete;
    ~FetchedRecord() { esri_release_shapefile_record(&rec); }
};

// The host's pointer to a table of the database, for the fetch of its rows.
Dbptr open_table(const std::string &db_path, const std::string &table) {
    Dbptr db;
    LogCollector log;
    if (dbopen(db_path.c_str(), "r", &db) < 0) throw InputError(db_path + ": " + row_reason(log.first(), db_path));
    return dblookup(db, nullptr, table.c_str(), nullptr, nullptr);
}

int run_fetch(int argc, char **argv) {
    Args args(argc, argv, {"table", "o", "box", "encoding"});
    args.allow_flags({"list", "geojson", "no-transform"});
    if (args.positional().empty()) throw UsageError("name a database, then optionally row numbers");
    const bool listing = choose_format(args, {Format::GeoJson, Format::List}) == Format::List;
    const std::string db_path = args.positional()[0];
    const std::string table = args.get("table", "shapes");
    const std::optional<Box> given = box_option(args);
    const bool boxed = given.has_value();
    const Box box = given.value_or(Box{});
    check_database_path(db_path, false);
    note_input(db_path);
    Sql sql(db_path, false);
    if (!sql.has_table(table)) throw InputError(db_path + ": no table \"" + table + "\"");
    const std::vector<std::string> texts(args.positional().begin() + 1, args.positional().end());
    const bool tree = boxed && texts.empty() && sql.has_table(rtree_of(table));
    std::vector<long> wanted = !texts.empty() ? named_rows(sql, db_path, table, texts)
                               : tree         ? rows_in_box(sql, table, box)
                                              : all_rows(sql, table);
    const Dbptr rows = open_table(db_path, table);
    if (boxed && !tree) wanted = rows_meeting(rows, wanted, box);
    Output out(args.get("o"));
    features::GeoJsonWriter json([&out](const char *data, size_t size) { out.append(data, size); }, {});
    OutputStream stream(out);  // the listings
    Shapefiles files(sql, db_path, args.get("encoding"), !args.flag("no-transform"));
    // One reading of the database for all the rows, rather than one per
    // field of each: the rows come from one state of it, without taking and
    // giving up its lock some twenty times a row.
    if (LogCollector log; dbexec(rows, "BEGIN") < 0)
        throw InputError(db_path + ": " + row_reason(log.first(), db_path));
    for (long r : wanted) {
        const Dbptr row = dblookup(rows, nullptr, nullptr, nullptr, std::to_string(r).c_str());
        files.check_offset(row, r);
        FetchedRecord fetched;
        ESRISHPRECStr &rec = fetched.rec;
        LogCollector log;
        if (esri_get_db_shp_record(row, &rec) < 0)
            throw InputError(db_path + ": row " + std::to_string(r) + ": " + row_reason(log.first(), db_path));
        if (listing) {
            stream.print([&](FILE *f) {
                char prefix[] = "";
                esri_fprint_shapefile_record(f, prefix, &rec, Shapefiles::record_number(row, rec));
            });
        } else {
            files.write(row, r, rec, json);
        }
    }
    dbexec(rows, "COMMIT");
    dbclose(rows);
    if (!listing) json.finish();
    stream.flush();
    out.commit();
    return 0;
}

}  // namespace

void write_index(const std::string &db_path, const std::string &table, const std::vector<IndexedFile> &files) {
    check_database_path(db_path, true);
    check_may_replace(db_path);
    Sql db(db_path, true);
    db.exec("BEGIN IMMEDIATE");
    db.exec("CREATE TABLE IF NOT EXISTS filename (fileid INTEGER PRIMARY KEY, filename TEXT)");
    db.exec("CREATE TABLE IF NOT EXISTS " + ident(table) +
            " (fileid INTEGER, offset INTEGER, recno INTEGER, shape_type INTEGER, xmin REAL, ymin REAL, xmax REAL, "
            "ymax REAL)");
    const std::string rtree = rtree_of(table);
    if (!db.has_table(rtree)) {
        db.exec("CREATE VIRTUAL TABLE " + ident(rtree) + " USING rtree(id, xmin, xmax, ymin, ymax)");
        // Rows indexed before the tree existed.
        db.exec("INSERT INTO " + ident(rtree) + " SELECT rowid, xmin, xmax, ymin, ymax FROM " + ident(table) +
                " WHERE xmin IS NOT NULL AND xmax IS NOT NULL AND ymin IS NOT NULL AND ymax IS NOT NULL");
    }
    Query known(db, "SELECT fileid FROM filename WHERE filename = ?1 ORDER BY rowid LIMIT 1");
    // A new file's id is the next after any in use, whatever rows went before.
    Query next_id(db,
                  "SELECT coalesce(max(fileid), 0) + 1 FROM (SELECT fileid FROM filename UNION ALL SELECT fileid "
                  "FROM " +
                      ident(table) + ")");
    Query add_file(db, "INSERT INTO filename (fileid, filename) VALUES (?1, ?2)");
    Query drop_boxes(
        db, "DELETE FROM " + ident(rtree) + " WHERE id IN (SELECT rowid FROM " + ident(table) + " WHERE fileid = ?1)");
    Query drop_rows(db, "DELETE FROM " + ident(table) + " WHERE fileid = ?1");
    Query add_row(
        db, "INSERT INTO " + ident(table) +
                " (fileid, offset, recno, shape_type, xmin, ymin, xmax, ymax) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    Query add_box(db, "INSERT INTO " + ident(rtree) + " VALUES (?1, ?2, ?3, ?4, ?5)");
    for (const IndexedFile &file : files) {
        const bool indexed_before = known.bind(file.path).step();
        long fileid = known.integer(0);
        known.reset();
        if (indexed_before) {
            drop_boxes.bind(fileid).run();
            drop_rows.bind(fileid).run();
        } else {
            next_id.step();
            fileid = next_id.integer(0);
            next_id.reset();
            add_file.bind(fileid).bind(file.path).run();
        }
        for (const IndexedShape &s : file.shapes) {
            add_row.bind(fileid).bind(s.offset).bind(static_cast<long>(s.recno)).bind(static_cast<long>(s.shape_type));
            for (double v : s.box) add_row.bind(v);
            add_row.run();
            if (!std::isnan(s.box[0]))
                add_box.bind(static_cast<long>(sqlite3_last_insert_rowid(db.get())))
                    .bind(s.box[0])
                    .bind(s.box[2])
                    .bind(s.box[1])
                    .bind(s.box[3])
                    .run();
        }
    }
    db.exec("COMMIT");
}

std::vector<long> index_rows_in_box(const std::string &db_path, const std::string &table, const Box &box,
                                    bool through_tree) {
    note_input(db_path);
    Sql db(db_path, false);
    if (through_tree && db.has_table(rtree_of(table))) return rows_in_box(db, table, box);
    const Dbptr rows = open_table(db_path, table);
    std::vector<long> found = rows_meeting(rows, all_rows(db, table), box);
    dbclose(rows);
    return found;
}

const Command index_command{"index", "index shapefiles in an SQLite database",
                            "usage: vorpix index DB FILE.shp... [--table NAME]\n\n"
                            "Adds each shapefile to the SQLite database DB (created when missing): a row\n"
                            "of table filename (fileid, filename: the absolute path) and, in table NAME\n"
                            "(default shapes; any name), one row per shape: fileid, offset (of its\n"
                            "record in the file), recno (from 0), shape_type and its bounding box xmin,\n"
                            "ymin, xmax, ymax (NULL for Null shapes). The boxes also go to the R*Tree\n"
                            "NAME_rtree, which answers fetch --box. A file indexed before (by its\n"
                            "absolute path) keeps its file id and has its rows replaced. Everything is\n"
                            "added in one transaction: a file that does not decode adds nothing.\n",
                            run_index};

const Command fetch_command{"fetch", "fetch shapes named by database rows",
                            "usage: vorpix fetch DB [ROW...] [--table NAME] [--box W/E/S/N] [--list]\n"
                            "                    [--encoding NAME] [--no-transform] [-o OUT]\n\n"
                            "Fetches the shapes that rows of table NAME (default shapes) of the SQLite\n"
                            "database DB name by fileid and offset, each from its shapefile through the\n"
                            "database's filename table (a relative file name is taken from the\n"
                            "database's directory), and writes them as GeoJSON Features: the row\n"
                            "number, the shapefile (\"file\") and the record's offset, then what\n"
                            "vorpix shapes writes of the record: its number (\"record\", from 0: the\n"
                            "row's recno, else the record header's number less one), its measures and\n"
                            "every field of the dBase file beside the shapefile. ROWs are row numbers\n"
                            "(SQLite rowids, from 1); without them, every row the table holds, in\n"
                            "order. A shapefile that changed since it was last read is read again.\n"
                            "  --box W/E/S/N    only rows whose bounding box meets the box (also a turn\n"
                            "                   east or west; W > E runs across 180), found through the\n"
                            "                   table's R*Tree when index made one\n"
                            "  --list           the record listings instead of GeoJSON, numbered as\n"
                            "                   vorpix info numbers them\n"
                            "  --encoding NAME  the dBase text's encoding when neither a .cpg file nor\n"
                            "                   the language-driver byte names one\n"
                            "  --no-transform   coordinates as stored, even with a projected .prj\n"
                            "  -o OUT           write to OUT instead of standard output; with no format\n"
                            "                   option, OUT's extension (.txt or .geojson) chooses\n",
                            run_fetch};

}  // namespace vorpix::cli
