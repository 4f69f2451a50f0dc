/* A stand-in for the host support library that offers only the documented
 * host operations (lists, arrays, error log, byte order, words, data files)
 * and the three database calls of the shape fetch, nothing else. It carries
 * the host library's name, so that the library's need of its host is met by
 * this alone when both are linked: any other host function that the library
 * calls is then an undefined symbol and the link fails. Nothing runs it. */
#include "arrays.h"
#include "byteorder.h"
#include "datafile.h"
#include "db.h"
#include "elog.h"
#include "redblack.h"
#include "words.h"

#include <stdlib.h>

void elog_log(int flags, const char *format, ...) { (void)flags, (void)format; }
void elog_die(int flags, const char *format, ...) {
    (void)flags, (void)format;
    abort();
}

void N2H2(void *dst, const void *src, int n) { (void)dst, (void)src, (void)n; }
void N2H4(void *dst, const void *src, int n) { (void)dst, (void)src, (void)n; }
void N2H8(void *dst, const void *src, int n) { (void)dst, (void)src, (void)n; }

Tbl *newtbl(int n) { return (void)n, NULL; }
int settbl(Tbl *t, int i, void *p) { return (void)t, (void)p, i; }
void *gettbl(Tbl *t, int i) { return (void)t, (void)i, NULL; }
int cnttbl(Tbl *t) { return (void)t, 0; }
void clrtbl(Tbl *t, void (*free_fn)(void *)) { (void)t, (void)free_fn; }
void freetbl(Tbl *t, void (*free_fn)(void *)) { (void)t, (void)free_fn; }

Arr *newarr(int (*cmp)(const char *, const char *)) { return (void)cmp, NULL; }
void *setarr(Arr *a, const char *key, void *value) { return (void)a, (void)key, value; }
void *getarr(Arr *a, const char *key) { return (void)a, (void)key, NULL; }
void freearr(Arr *a, void (*free_fn)(void *)) { (void)a, (void)free_fn; }

int splitlist(const char *s, int *n, char ***list) { return (void)s, (void)n, (void)list, -1; }
void freeargs(int n, char **list) { (void)n, (void)list; }
char *strtrim(char *s) { return s; }

char *datafile(const char *env, const char *name) { return (void)env, (void)name, NULL; }
long mapfile(const char *path, Arr **cache, char **data) { return (void)path, (void)cache, (void)data, -1; }

Dbptr dblookup(Dbptr db, const char *database, const char *table, const char *field, const char *record) {
    (void)database, (void)table, (void)field, (void)record;
    return db;
}
int dbgetv(Dbptr db, const char *table, ...) { return (void)db, (void)table, -1; }
int dbquery(Dbptr db, int code, void *result) { return (void)db, (void)code, (void)result, -1; }
