// vorpix index and fetch, which keep shapes in an SQLite database.
#include "cli.hpp"
#include "commands.hpp"
#include "geo_output.hpp"

#include "esri.h"
#include "esri_release.hpp"

#include "db.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace vorpix::cli {
namespace {

// A library message as this command reports it: without the reporting
// function's name and without the full stop.
std::string reason(const std::string &message) {
    std::string text = without_function(message);
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

std::string number(double v) {
    if (!std::isfinite(v)) return "null";
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    return ec == std::errc() ? std::string(buffer, end) : "null";
}

std::string sql_text(const std::string &s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

void exec(Dbptr db, const std::string &sql, const std::string &path) {
    LogCollector log;
    if (dbexec(db, sql.c_str()) < 0) throw InputError(path + ": " + reason(log.first()));
}

int run_index(int argc, char **argv) {
    Args args(argc, argv, {"table"});
    args.allow_flags({});
    if (args.positional().size() < 2) throw UsageError("name a database and at least one shapefile");
    const std::string db_path = args.positional()[0];
    const std::string table = args.get("table", "shapes");
    Dbptr db;
    {
        LogCollector log;
        if (dbopen(db_path.c_str(), "r+", &db) < 0) throw InputError(db_path + ": " + reason(log.first()));
    }
    std::string sql = "BEGIN; CREATE TABLE IF NOT EXISTS filename (fileid INTEGER PRIMARY KEY, filename TEXT);"
                      "CREATE TABLE IF NOT EXISTS " + table + " (fileid INTEGER, offset INTEGER, recno INTEGER, "
                      "shape_type INTEGER, xmin REAL, ymin REAL, xmax REAL, ymax REAL);";
    // A new file's id is the next after any in use, whatever rows went before.
    const std::string this_file = "(SELECT max(fileid) FROM filename)";
    int total = 0;
    for (size_t i = 1; i < args.positional().size(); ++i) {
        const std::string &path = args.positional()[i];
        const std::vector<IndexedShape> shapes = index_shapefile(path, read_input(path));
        const std::string absolute = std::filesystem::absolute(path).lexically_normal().string();
        sql += "INSERT INTO filename VALUES ((SELECT coalesce(max(fileid), 0) + 1 FROM (SELECT fileid FROM filename "
               "UNION ALL SELECT fileid FROM " + table + "))," + sql_text(absolute) + ");";
        for (const IndexedShape &s : shapes) {
            sql += "INSERT INTO " + table + " VALUES (" + this_file + "," + std::to_string(s.offset) + "," +
                   std::to_string(s.recno) + "," + std::to_string(s.shape_type);
            for (double v : s.box) sql += "," + (std::isnan(v) ? std::string("NULL") : number(v));
            sql += ");";
            ++total;
        }
    }
    exec(db, sql + "COMMIT;", db_path);
    dbclose(db);
    std::printf("%s: %zu files, %d shapes in table %s\n", db_path.c_str(), args.positional().size() - 1, total,
                table.c_str());
    return 0;
}

int run_fetch(int argc, char **argv) {
    Args args(argc, argv, {"table", "o", "box"});
    args.allow_flags({"list"});
    if (args.positional().empty()) throw UsageError("name a database, then optionally row numbers");
    const std::string db_path = args.positional()[0];
    const std::string table = args.get("table", "shapes");
    Dbptr db;
    {
        LogCollector log;
        if (dbopen(db_path.c_str(), "r", &db) < 0) throw InputError(db_path + ": " + reason(log.first()));
    }
    Dbptr rows = dblookup(db, nullptr, table.c_str(), nullptr, nullptr);
    long count = 0;
    if (rows.table < 0 || dbquery(rows, dbRECORD_COUNT, &count) < 0)
        throw InputError(db_path + ": no table \"" + table + "\"");
    std::vector<long> wanted;
    for (size_t i = 1; i < args.positional().size(); ++i) {
        long v = 0;
        const std::string &t = args.positional()[i];
        auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
        if (ec != std::errc() || end != t.data() + t.size() || v < 1)
            throw UsageError("rows are numbered from 1, not \"" + t + "\"");
        wanted.push_back(v);
    }
    if (wanted.empty())
        for (long r = 1; r <= count; ++r) wanted.push_back(r);
    const bool boxed = args.has("box");
    const Box box = boxed ? parse_box(args.get("box")) : Box{};
    GeoJson json;
    std::string list;
    for (long r : wanted) {
        Dbptr row = dblookup(rows, nullptr, nullptr, nullptr, std::to_string(r).c_str());
        if (boxed) {
            double b[4];
            LogCollector ignore;
            if (dbgetv(row, nullptr, "xmin", &b[0], "ymin", &b[1], "xmax", &b[2], "ymax", &b[3], nullptr) < 0) continue;
            if (b[2] < box.west || b[0] > box.east || b[3] < box.south || b[1] > box.north) continue;
        }
        ESRISHPRECStr rec{};
        LogCollector log;
        const int status = esri_get_db_shp_record(row, &rec);
        if (status < 0) {
            esri::release_shape(rec.shape_type, rec.record);
            throw InputError(db_path + ": row " + std::to_string(r) + ": " + reason(log.first()));
        }
        if (args.flag("list")) {
            list += captured_stdout([&] {
                char prefix[] = "";
                esri_print_shapefile_record(prefix, &rec, static_cast<int>(r));
            });
        } else {
            json.raw_feature("{\"type\":\"Feature\",\"properties\":{\"row\":" + std::to_string(r) +
                             ",\"offset\":" + std::to_string(rec.offset) + "},\"geometry\":" +
                             shape_geometry_json(rec) + "}");
        }
        esri::release_shape(rec.shape_type, rec.record);
    }
    Output out(args.get("o"));
    out.append(args.flag("list") ? list : json.finish());
    out.commit();
    return 0;
}

}  // namespace

const Command index_command{
    "index", "index shapefiles in an SQLite database",
    "usage: vorpix index DB FILE.shp... [--table NAME]\n\n"
    "Adds each shapefile to the SQLite database DB (created when missing): a row\n"
    "of table filename (fileid, filename: the absolute path) and, in table NAME\n"
    "(default shapes), one row per shape: fileid, offset (of its record in the\n"
    "file), recno (from 0), shape_type and its bounding box xmin, ymin, xmax,\n"
    "ymax (NULL for Null shapes). Everything is added in one transaction.\n",
    run_index};

const Command fetch_command{
    "fetch", "fetch shapes named by database rows",
    "usage: vorpix fetch DB [ROW...] [--table NAME] [--box W/E/S/N] [--list] [-o OUT]\n\n"
    "Fetches the shapes that rows of table NAME (default shapes) of the SQLite\n"
    "database DB name by fileid and offset, each from its shapefile through the\n"
    "database's filename table (a relative file name is taken from the\n"
    "database's directory), and writes them as GeoJSON Features with their row\n"
    "number and offset. ROWs are row numbers from 1; without them, every row.\n"
    "  --box W/E/S/N  only rows whose bounding box meets the box\n"
    "  --list         the record listings instead of GeoJSON\n"
    "  -o OUT         write to OUT instead of standard output\n",
    run_fetch};

}  // namespace vorpix::cli
