#include "db.h"

#include "elog.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cctype>
#include <cstdio>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace {

// What dbgetv stores at a field's address.
enum class Kind { Integer, Real, Text };

struct Field {
    std::string name;
    Kind kind;
};

struct Database {
    std::string path;
    sqlite3 *handle = nullptr;
    std::vector<std::string> tables;  // a pointer's table member indexes this
    std::vector<std::vector<Field>> fields;
    // Statements made once and used again, by their SQL: a fetch reads a few
    // fields of every row, and making each statement anew cost more than
    // running it.
    std::unordered_map<std::string, sqlite3_stmt *> statements;

    void forget_statements() {
        for (auto &[sql, statement] : statements) sqlite3_finalize(statement);
        statements.clear();
    }
};

// Open databases by index; a closed one leaves a null slot, so that a
// pointer to it never reaches a database opened later. The list is the whole
// process's: every thread that opens, closes or finds a database holds its
// mutex. A database itself is its handle's, used by one thread at a time.
struct OpenDatabases {
    std::mutex mutex;
    std::vector<std::unique_ptr<Database>> all;
};

OpenDatabases &open_databases() {
    // Made without allocating (nothing to fail) and never destroyed: a
    // thread may still use its database while the process exits.
    alignas(OpenDatabases) static unsigned char storage[sizeof(OpenDatabases)];
    static auto *list = new (storage) OpenDatabases;
    return *list;
}

Database *database_at(long index) {
    OpenDatabases &list = open_databases();
    const std::lock_guard lock(list.mutex);
    if (index < 0 || static_cast<size_t>(index) >= list.all.size()) return nullptr;
    return list.all[static_cast<size_t>(index)].get();
}

std::string quoted(const std::string &identifier) {
    std::string out = "\"";
    for (char c : identifier) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

// A statement of a database, made the first time its SQL is asked for and
// kept with the database; reset when done with, which ends its reading.
class Statement {
public:
    Statement(Database &db, const std::string &sql) {
        const auto known = db.statements.find(sql);
        if (known != db.statements.end()) {
            stmt_ = known->second;
            return;
        }
        if (sqlite3_prepare_v2(db.handle, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) {
            sqlite3_finalize(stmt_);
            stmt_ = nullptr;
            return;
        }
        try {
            db.statements.emplace(sql, stmt_);
        } catch (...) {
            sqlite3_finalize(stmt_);
            throw;
        }
    }
    ~Statement() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    sqlite3_stmt *get() const { return stmt_; }
    explicit operator bool() const { return stmt_ != nullptr; }

private:
    sqlite3_stmt *stmt_ = nullptr;
};

std::string column_string(sqlite3_stmt *stmt, int column) {
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, column));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt, column))) : std::string();
}

// The fields whose destination callers fix by name, whatever a table
// declares: the shape index's file ids, offsets, record numbers and boxes.
struct KnownField {
    const char *name;
    Kind kind;
};
constexpr KnownField known_fields[] = {
    {"fileid", Kind::Integer},     {"offset", Kind::Integer}, {"recno", Kind::Integer},
    {"shape_type", Kind::Integer}, {"filename", Kind::Text},  {"xmin", Kind::Real},
    {"ymin", Kind::Real},          {"xmax", Kind::Real},      {"ymax", Kind::Real},
};

bool contains(const std::string &text, const char *part) {
    std::string upper = text;
    for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper.find(part) != std::string::npos;
}

// A known field's kind, else the kind of the column's declared type as
// SQLite gives it affinity: INTEGER to a long, REAL to a double, the rest
// (TEXT, NUMERIC, BLOB or none) to text.
Kind kind_of(const std::string &field, const std::string &declared) {
    for (const KnownField &k : known_fields)
        if (field == k.name) return k.kind;
    if (contains(declared, "INT")) return Kind::Integer;
    if (contains(declared, "CHAR") || contains(declared, "CLOB") || contains(declared, "TEXT")) return Kind::Text;
    if (contains(declared, "REAL") || contains(declared, "FLOA") || contains(declared, "DOUB")) return Kind::Real;
    return Kind::Text;
}

// The index of a table, learning its fields on first use; -1 if it has none.
long table_index(Database &db, const std::string &name) {
    for (size_t i = 0; i < db.tables.size(); ++i)
        if (db.tables[i] == name) return static_cast<long>(i);
    Statement info(db, "PRAGMA table_info(" + quoted(name) + ")");
    if (!info) return -1;
    std::vector<Field> fields;
    while (sqlite3_step(info.get()) == SQLITE_ROW) {
        const std::string field = column_string(info.get(), 1);
        fields.push_back({field, kind_of(field, column_string(info.get(), 2))});
    }
    if (fields.empty()) return -1;
    db.tables.push_back(name);
    db.fields.push_back(std::move(fields));
    return static_cast<long>(db.tables.size() - 1);
}

long field_index(const Database &db, long table, const std::string &name) {
    const auto &fields = db.fields[static_cast<size_t>(table)];
    for (size_t i = 0; i < fields.size(); ++i)
        if (fields[i].name == name) return static_cast<long>(i);
    return -1;
}

bool parse_long(const char *text, long *value) {
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || errno) return false;
    *value = v;
    return true;
}

// A stored value as a message shows it: text quoted, cut after 40 bytes,
// with bytes other than printable ASCII escaped.
std::string shown(sqlite3_stmt *get, int type) {
    switch (type) {
    case SQLITE_NULL: return "NULL";
    case SQLITE_BLOB: return "a blob of " + std::to_string(sqlite3_column_bytes(get, 0)) + " bytes";
    case SQLITE_TEXT: {
        const auto *text = sqlite3_column_text(get, 0);
        const int length = sqlite3_column_bytes(get, 0);
        std::string out = "\"";
        for (int i = 0; i < length && i < 40; ++i) {
            const unsigned char c = text[i];
            if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
                out += static_cast<char>(c);
            } else {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
                out += escaped;
            }
        }
        return out + (length > 40 ? "\"... (" + std::to_string(length) + " bytes)" : "\"");
    }
    default: return column_string(get, 0);
    }
}

// Text that is a whole decimal integer (T long) or finite number (T
// double), with an optional sign and nothing else.
template <typename T>
bool clean_text(const char *text, size_t length, T *value) {
    const char *begin = text, *end = text + length;
    if (begin != end && *begin == '+' && ++begin != end && *begin == '-') return false;
    const auto [stop, ec] = std::from_chars(begin, end, *value);
    if constexpr (std::is_floating_point_v<T>)
        if (!std::isfinite(*value)) return false;
    return begin != end && ec == std::errc() && stop == end;
}

// Stores the value of get's first column, of the given storage type, at
// address as kind says; NULL when it fits, else why not.
const char *store(sqlite3_stmt *get, int type, Kind kind, void *address) {
    const auto *text = type == SQLITE_NULL || type == SQLITE_BLOB
                           ? nullptr
                           : reinterpret_cast<const char *>(sqlite3_column_text(get, 0));
    const size_t length = text ? static_cast<size_t>(sqlite3_column_bytes(get, 0)) : 0;
    switch (kind) {
    case Kind::Integer: {
        long value = 0;
        if (type == SQLITE_INTEGER) {
            const sqlite3_int64 v = sqlite3_column_int64(get, 0);
            if (v < LONG_MIN || v > LONG_MAX) return " is not an integer in the range of a long";
            value = static_cast<long>(v);
        } else if (type == SQLITE_FLOAT) {
            // LONG_MIN is minus a power of two, which a double holds exactly.
            const double v = sqlite3_column_double(get, 0), limit = -static_cast<double>(LONG_MIN);
            if (!(v == std::trunc(v) && v >= -limit && v < limit)) return " is not an integer";
            value = static_cast<long>(v);
        } else if (type != SQLITE_TEXT || !clean_text(text, length, &value)) {
            return " is not an integer";
        }
        *static_cast<long *>(address) = value;
        return nullptr;
    }
    case Kind::Real: {
        double value = 0;
        if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) value = sqlite3_column_double(get, 0);
        else if (type != SQLITE_TEXT || !clean_text(text, length, &value)) return " is not a number";
        *static_cast<double *>(address) = value;
        return nullptr;
    }
    case Kind::Text:
        if (!text) return " is not text";
        if (length > 255) return " is longer than 255 bytes";
        if (std::memchr(text, 0, length)) return " holds a NUL byte";
        std::memcpy(address, text, length);
        static_cast<char *>(address)[length] = '\0';
        return nullptr;
    }
    return " has no known kind";
}

// dbgetv's pairs of a field name and an address, for the record db names.
int read_fields(Database &d, Dbptr db, va_list args) {
    const std::string &table_name = d.tables[static_cast<size_t>(db.table)];
    while (const char *name = va_arg(args, const char *)) {
        void *address = va_arg(args, void *);
        // Checked here: SQLite would take an unknown quoted name for a string.
        const long index = field_index(d, db.table, name);
        Statement get(d, "SELECT " + quoted(name) + " FROM " + quoted(table_name) + " WHERE rowid = ?1");
        if (index < 0 || !get) {
            elog_log(0, "dbgetv: %s: no field \"%s\" in table \"%s\".\n", d.path.c_str(), name, table_name.c_str());
            return -1;
        }
        sqlite3_bind_int64(get.get(), 1, db.record);
        if (sqlite3_step(get.get()) != SQLITE_ROW) {
            elog_log(0, "dbgetv: %s: table \"%s\" has no record %ld.\n", d.path.c_str(), table_name.c_str(), db.record);
            return -1;
        }
        const int type = sqlite3_column_type(get.get(), 0);
        const char *why = store(get.get(), type,
                                d.fields[static_cast<size_t>(db.table)][static_cast<size_t>(index)].kind, address);
        if (why) {
            elog_log(0, "dbgetv: %s: table \"%s\" field \"%s\" row %ld: %s%s.\n", d.path.c_str(), table_name.c_str(),
                     name, db.record, shown(get.get(), type).c_str(), why);
            return -1;
        }
    }
    return 0;
}

}  // namespace

extern "C" {

int dbopen(const char *path, const char *mode, Dbptr *db) {
    if (!path || !db) return -1;
    const bool write = mode && std::strchr(mode, '+');
    // A database is a regular file; SQLite would open a FIFO or a device.
    struct stat st;
    if (::stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        elog_log(0, "dbopen: %s: not a regular file.\n", path);
        return -1;
    }
    sqlite3 *handle = nullptr;
    const int flags = write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
    if (sqlite3_open_v2(path, &handle, flags, nullptr) != SQLITE_OK) {
        elog_log(0, "dbopen: %s: %s.\n", path, handle ? sqlite3_errmsg(handle) : "out of memory");
        sqlite3_close(handle);
        return -1;
    }
    long index = 0;
    try {
        auto entry = std::make_unique<Database>();
        entry->path = path;
        entry->handle = handle;
        OpenDatabases &list = open_databases();
        const std::lock_guard lock(list.mutex);
        list.all.push_back(std::move(entry));
        index = static_cast<long>(list.all.size() - 1);
    } catch (...) {
        sqlite3_close(handle);
        elog_log(1, "dbopen: %s: out of memory.\n", path);
        return -1;
    }
    *db = Dbptr{index, dbINVALID, dbINVALID, dbINVALID};
    return 0;
}

int dbclose(Dbptr db) {
    std::unique_ptr<Database> closing;
    {
        OpenDatabases &list = open_databases();
        const std::lock_guard lock(list.mutex);
        if (db.database < 0 || static_cast<size_t>(db.database) >= list.all.size()) return -1;
        closing = std::move(list.all[static_cast<size_t>(db.database)]);
    }
    if (!closing) return -1;
    closing->forget_statements();
    sqlite3_close(closing->handle);
    return 0;
}

Dbptr dblookup(Dbptr db, const char *database, const char *table, const char *field, const char *record) {
    try {
        if (database) {
            db.database = dbINVALID;
            OpenDatabases &list = open_databases();
            const std::lock_guard lock(list.mutex);
            for (size_t i = 0; i < list.all.size(); ++i)
                if (list.all[i] && list.all[i]->path == database) db.database = static_cast<long>(i);
        }
        Database *d = database_at(db.database);
        if (!d) return Dbptr{dbINVALID, dbINVALID, dbINVALID, dbINVALID};
        if (table) {
            const long t = table_index(*d, table);
            db.table = t < 0 ? dbINVALID : t;
            db.field = dbINVALID;
            db.record = dbINVALID;
        }
        if (db.table < 0 || static_cast<size_t>(db.table) >= d->tables.size()) {
            db.table = db.field = db.record = dbINVALID;
            return db;
        }
        if (field) {
            if (!std::strcmp(field, "dbALL")) {
                db.field = dbALL;
            } else {
                const long f = field_index(*d, db.table, field);
                db.field = f < 0 ? dbINVALID : f;
            }
        }
        if (record) {
            long value;
            if (db.field >= 0) {
                const auto &name = d->fields[static_cast<size_t>(db.table)][static_cast<size_t>(db.field)].name;
                Statement find(*d, "SELECT rowid FROM " + quoted(d->tables[static_cast<size_t>(db.table)]) + " WHERE " +
                                       quoted(name) + " = ?1 ORDER BY rowid LIMIT 1");
                db.record = dbINVALID;
                if (find) {
                    if (parse_long(record, &value)) sqlite3_bind_int64(find.get(), 1, value);
                    else sqlite3_bind_text(find.get(), 1, record, -1, SQLITE_TRANSIENT);
                    if (sqlite3_step(find.get()) == SQLITE_ROW)
                        db.record = static_cast<long>(sqlite3_column_int64(find.get(), 0));
                }
            } else if (!std::strcmp(record, "dbALL")) {
                db.record = dbALL;
            } else {
                db.record = parse_long(record, &value) ? value : dbINVALID;
            }
        }
        return db;
    } catch (...) {
        elog_log(1, "dblookup: out of memory.\n");
        return Dbptr{dbINVALID, dbINVALID, dbINVALID, dbINVALID};
    }
}

int dbgetv(Dbptr db, const char *table, ...) {
    Database *d = database_at(db.database);
    if (!d) {
        elog_log(0, "dbgetv: no such database.\n");
        return -1;
    }
    if (table) {
        const long record = db.record;
        db = dblookup(db, nullptr, table, nullptr, nullptr);
        db.record = record;
    }
    if (db.table < 0 || static_cast<size_t>(db.table) >= d->tables.size() || db.record < 0) {
        elog_log(0, "dbgetv: %s: the pointer names no record.\n", d->path.c_str());
        return -1;
    }
    va_list args;
    va_start(args, table);
    int status;
    try {
        status = read_fields(*d, db, args);
    } catch (...) {
        elog_log(1, "dbgetv: %s: out of memory.\n", d->path.c_str());
        status = -1;
    }
    va_end(args);
    return status;
}

int dbexec(Dbptr db, const char *sql) {
    Database *d = database_at(db.database);
    if (!d || !sql) {
        elog_log(0, "dbexec: no such database.\n");
        return -1;
    }
    // What the SQL changes, statements made before may no longer fit.
    d->forget_statements();
    char *error = nullptr;
    if (sqlite3_exec(d->handle, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        elog_log(0, "dbexec: %s: %s.\n", d->path.c_str(), error ? error : "failed");
        sqlite3_free(error);
        sqlite3_exec(d->handle, "ROLLBACK", nullptr, nullptr, nullptr);
        return -1;
    }
    // Known tables keep their indexes (pointers hold them); their fields may
    // have changed, so learn them afresh.
    try {
        const std::vector<std::string> known = d->tables;
        d->tables.clear();
        d->fields.clear();
        for (const auto &name : known) {
            if (table_index(*d, name) < 0) {
                d->tables.push_back(name);
                d->fields.emplace_back();
            }
        }
    } catch (...) {
        elog_log(1, "dbexec: %s: out of memory.\n", d->path.c_str());
        return -1;
    }
    return 0;
}

int dbquery(Dbptr db, int code, void *result) {
    Database *d = database_at(db.database);
    if (!d || !result) return -1;
    switch (code) {
    case dbDATABASE_NAME: *static_cast<const char **>(result) = d->path.c_str(); return 0;
    case dbRECORD_COUNT: {
        if (db.table < 0 || static_cast<size_t>(db.table) >= d->tables.size()) return -1;
        try {
            Statement count(*d, "SELECT count(*) FROM " + quoted(d->tables[static_cast<size_t>(db.table)]));
            if (!count || sqlite3_step(count.get()) != SQLITE_ROW) return -1;
            *static_cast<long *>(result) = static_cast<long>(sqlite3_column_int64(count.get(), 0));
        } catch (...) {
            elog_log(1, "dbquery: %s: out of memory.\n", d->path.c_str());
            return -1;
        }
        return 0;
    }
    default: return -1;
    }
}

}  // extern "C"
