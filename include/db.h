/* The relational database: a pointer to a database, table, field and record,
 * and the operations on it. Databases are SQLite files; tables are their
 * tables; a record is a row, named by its rowid. */
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
 * creates the file. Stores a pointer to the database (table, field and
 * record dbINVALID) in *db. 0, or -1 with a message in the error log. */
VORPIX_HOST_API int dbopen(const char *path, const char *mode, Dbptr *db);
/* Closes the database that db points to. 0 or -1. */
VORPIX_HOST_API int dbclose(Dbptr db);

/* Moves a pointer: each non-NULL argument names a new database (by path; it
 * must be open), table, field ("dbALL" for every field) or record. A record
 * is a row number given in decimal, or, when a field is named, the value
 * that field holds: the pointer then points at the first row holding it.
 * Whatever is not found is dbINVALID in the result. */
VORPIX_HOST_API Dbptr dblookup(Dbptr db, const char *database, const char *table, const char *field,
                               const char *record);

/* Reads fields of the record db points to into addresses: pairs of a field
 * name and an address, ended by NULL. table, when not NULL, names the table
 * instead of db's. Integer fields go to long, real fields to double, text to
 * a char buffer of at least 256 bytes (longer text fails). 0, or -1 with a
 * message in the error log. */
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
