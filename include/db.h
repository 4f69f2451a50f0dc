/* The relational database: a pointer to a database, table, field and record,
 * and the operations on it. Databases are SQLite files; tables are their
 * tables; a record is a row, named by its rowid.
 *
 * Threads: handles are independent, so several threads may each open, use
 * and close handles of their own at the same time, of the same file too (the
 * process's list of open databases is guarded; SQLite must be built
 * thread-safe, as it is by default). One handle serves one thread at a time
 * and must not be closed while another thread uses it. */
#ifndef VORPIX_HOST_DB_H
#define VORPIX_HOST_DB_H

#include "host_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Dbptr {
    long database;
    long table;
    long field;
    long record;
} Dbptr;

/* Member values that are not an index. */
#define dbINVALID (-102L) /* nothing: for a record, no row was found */
#define dbALL (-501L)     /* every field, every record */

/* Query codes for dbquery. */
#define dbDATABASE_NAME (-357) /* char **: the database's name, its path */
#define dbRECORD_COUNT (-358)  /* long *: the number of rows of the table */

/* Opens the SQLite database at path; mode "r" reads, "r+" also writes and
 * creates the file. A path that names anything but a regular file (a FIFO,
 * a device, a directory) fails without being opened. Stores a pointer to the database (table, field and
 * record dbINVALID) in *db. 0, or -1 with a message in the error log. */
VORPIX_HOST_API int dbopen(const char *path, const char *mode, Dbptr *db);
/* Closes the database that db points to. 0 or -1. */
VORPIX_HOST_API int dbclose(Dbptr db);

/* Moves a pointer: each non-NULL argument names a new database (by path; it
 * must be open, and of several handles on it the last opened is taken,
 * perhaps another thread's), table, field ("dbALL" for every field) or
 * record. A record is a row number given in decimal, or, when a field is
 * named, the value that field holds: the pointer then points at the first
 * row holding it. Whatever is not found is dbINVALID in the result. */
VORPIX_HOST_API Dbptr dblookup(Dbptr db, const char *database, const char *table, const char *field,
                               const char *record);

/* Reads fields of the record db points to into addresses: pairs of a field
 * name and an address, ended by NULL. table, when not NULL, names the table
 * instead of db's. 0, or -1 with a message in the error log naming the
 * table, field and row; fields before the failing one have been stored.
 *
 * What an address must point to depends on the field alone, never on the
 * value a row holds:
 *   - fields named fileid, offset, recno or shape_type: a long;
 *   - fields named xmin, ymin, xmax or ymax: a double;
 *   - a field named filename: a char buffer of 256 bytes;
 *   - any other field by the affinity of its column's declared type: INTEGER
 *     a long, REAL a double, anything else (TEXT, NUMERIC, BLOB, none) a char
 *     buffer of 256 bytes.
 * A stored value is converted to that type or the read fails:
 *   - a long takes an integer within its range, a real with an exact integer
 *     value, or text that is a decimal integer with an optional sign and
 *     nothing else;
 *   - a double takes an integer or a real, or text that is a finite decimal
 *     number and nothing else;
 *   - text takes text (or a number's text) of at most 255 bytes without a
 *     NUL byte, stored with a terminating NUL.
 * NULL and blobs convert to nothing. No value writes outside its
 * destination. */
VORPIX_HOST_API int dbgetv(Dbptr db, const char *table, ...);

/* Runs one or more SQL statements on the database that db points to (opened
 * with "r+"), for tools that build tables. 0, or -1 with a message. */
VORPIX_HOST_API int dbexec(Dbptr db, const char *sql);

/* Answers a query about what db points to (the dbDATABASE_NAME and
 * dbRECORD_COUNT codes) into result. 0 or -1. */
VORPIX_HOST_API int dbquery(Dbptr db, int code, void *result);

#ifdef __cplusplus
}
#endif

#endif
