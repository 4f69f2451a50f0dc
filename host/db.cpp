#include "db.h"

#include "elog.h"

#include <sqlite3.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Database {
    std::string path;
    sqlite3 *handle = nullptr;
    std::vector<std::string> tables;  // a pointer's table member indexes this
    std::vector<std::vector<std::string>> fields;
};

// Open databases by index; a closed one leaves a null slot.
std::vector<std::unique_ptr<Database>> &databases() {
    static auto *all = new std::vector<std::unique_ptr<Database>>;  // lives as long as the process
    return *all;
}

Database *database_at(long index) {
    auto &all = databases();
    if (index < 0 || static_cast<size_t>(index) >= all.size()) return nullptr;
    return all[static_cast<size_t>(index)].get();
}

std::string quoted(const std::string &identifier) {
    std::string out = "\"";
    for (char c : identifier) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

class Statement {
public:
    Statement(sqlite3 *db, const std::string &sql) {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    sqlite3_stmt *get() const { return stmt_; }
    explicit operator bool() const { return stmt_ != nullptr; }

private:
    sqlite3_stmt *stmt_ = nullptr;
};

// The index of a table, learning its fields on first use; -1 if it has none.
long table_index(Database &db, const std::string &name) {
    for (size_t i = 0; i < db.tables.size(); ++i)
        if (db.tables[i] == name) return static_cast<long>(i);
    Statement info(db.handle, "PRAGMA table_info(" + quoted(name) + ")");
    if (!info) return -1;
    std::vector<std::string> fields;
    while (sqlite3_step(info.get()) == SQLITE_ROW)
        fields.emplace_back(reinterpret_cast<const char *>(sqlite3_column_text(info.get(), 1)));
    if (fields.empty()) return -1;
    db.tables.push_back(name);
    db.fields.push_back(std::move(fields));
    return static_cast<long>(db.tables.size() - 1);
}

long field_index(const Database &db, long table, const std::string &name) {
    const auto &fields = db.fields[static_cast<size_t>(table)];
    for (size_t i = 0; i < fields.size(); ++i)
        if (fields[i] == name) return static_cast<long>(i);
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

}  // namespace

extern "C" {

int dbopen(const char *path, const char *mode, Dbptr *db) {
    if (!path || !db) return -1;
    const bool write = mode && std::strchr(mode, '+');
    sqlite3 *handle = nullptr;
    const int flags = write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
    if (sqlite3_open_v2(path, &handle, flags, nullptr) != SQLITE_OK) {
        elog_log(0, "dbopen: %s: %s.\n", path, handle ? sqlite3_errmsg(handle) : "out of memory");
        sqlite3_close(handle);
        return -1;
    }
    try {
        auto entry = std::make_unique<Database>();
        entry->path = path;
        entry->handle = handle;
        databases().push_back(std::move(entry));
    } catch (...) {
        sqlite3_close(handle);
        elog_log(1, "dbopen: %s: out of memory.\n", path);
        return -1;
    }
    *db = Dbptr{static_cast<long>(databases().size() - 1), dbINVALID, dbINVALID, dbINVALID};
    return 0;
}

int dbclose(Dbptr db) {
    Database *d = database_at(db.database);
    if (!d) return -1;
    sqlite3_close(d->handle);
    databases()[static_cast<size_t>(db.database)].reset();
    return 0;
}

Dbptr dblookup(Dbptr db, const char *database, const char *table, const char *field, const char *record) {
    try {
        if (database) {
            db.database = dbINVALID;
            auto &all = databases();
            for (size_t i = 0; i < all.size(); ++i)
                if (all[i] && all[i]->path == database) db.database = static_cast<long>(i);
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
                const auto &name = d->fields[static_cast<size_t>(db.table)][static_cast<size_t>(db.field)];
                Statement find(d->handle, "SELECT rowid FROM " + quoted(d->tables[static_cast<size_t>(db.table)]) +
                                               " WHERE " + quoted(name) + " = ?1 ORDER BY rowid LIMIT 1");
                db.record = dbINVALID;
                if (find) {
                    if (parse_long(record, &value))
                        sqlite3_bind_int64(find.get(), 1, value);
                    else
                        sqlite3_bind_text(find.get(), 1, record, -1, SQLITE_TRANSIENT);
                    if (sqlite3_step(find.get()) == SQLITE_ROW) db.record = static_cast<long>(sqlite3_column_int64(find.get(), 0));
                }
            } else if (!std::strcmp(record, "dbALL")) {
                db.record = dbALL;
            } else {
                db.record = parse_long(record, &value) ? value : dbINVALID;
            }
        }
        return db;
    } catch (...) {
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
    const std::string &table_name = d->tables[static_cast<size_t>(db.table)];
    va_list args;
    va_start(args, table);
    int status = 0;
    while (const char *name = va_arg(args, const char *)) {
        void *address = va_arg(args, void *);
        // Checked here: SQLite would take an unknown quoted name for a string.
        if (field_index(*d, db.table, name) < 0) {
            elog_log(0, "dbgetv: %s: no field \"%s\" in table \"%s\".\n", d->path.c_str(), name, table_name.c_str());
            status = -1;
            break;
        }
        Statement get(d->handle, "SELECT " + quoted(name) + " FROM " + quoted(table_name) + " WHERE rowid = ?1");
        if (!get) {
            elog_log(0, "dbgetv: %s: no field \"%s\" in table \"%s\".\n", d->path.c_str(), name, table_name.c_str());
            status = -1;
            break;
        }
        sqlite3_bind_int64(get.get(), 1, db.record);
        if (sqlite3_step(get.get()) != SQLITE_ROW) {
            elog_log(0, "dbgetv: %s: table \"%s\" has no record %ld.\n", d->path.c_str(), table_name.c_str(), db.record);
            status = -1;
            break;
        }
        switch (sqlite3_column_type(get.get(), 0)) {
        case SQLITE_INTEGER:
            *static_cast<long *>(address) = static_cast<long>(sqlite3_column_int64(get.get(), 0));
            break;
        case SQLITE_FLOAT:
            *static_cast<double *>(address) = sqlite3_column_double(get.get(), 0);
            break;
        case SQLITE_NULL:
            elog_log(0, "dbgetv: %s: field \"%s\" of record %ld is empty.\n", d->path.c_str(), name, db.record);
            status = -1;
            break;
        default: {
            const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(get.get(), 0));
            const size_t length = text ? std::strlen(text) : 0;
            if (length > 255) {
                elog_log(0, "dbgetv: %s: field \"%s\" holds %zu characters, more than 255.\n", d->path.c_str(), name,
                         length);
                status = -1;
                break;
            }
            std::memcpy(address, text ? text : "", length + 1);
        }
        }
        if (status < 0) break;
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
    case dbDATABASE_NAME:
        *static_cast<const char **>(result) = d->path.c_str();
        return 0;
    case dbRECORD_COUNT: {
        if (db.table < 0 || static_cast<size_t>(db.table) >= d->tables.size()) return -1;
        Statement count(d->handle, "SELECT count(*) FROM " + quoted(d->tables[static_cast<size_t>(db.table)]));
        if (!count || sqlite3_step(count.get()) != SQLITE_ROW) return -1;
        *static_cast<long *>(result) = static_cast<long>(sqlite3_column_int64(count.get(), 0));
        return 0;
    }
    default:
        return -1;
    }
}

}  // extern "C"
