/* Ordered lists of untyped pointers. */
#ifndef VORPIX_HOST_ARRAYS_H
#define VORPIX_HOST_ARRAYS_H

#include "host_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Tbl Tbl;

/* A new empty list; n is only a capacity hint. NULL when out of memory. */
VORPIX_HOST_API Tbl *newtbl(int n);
/* Stores p at index i; i equal to the count, or -1, appends. Returns the
 * index used, or -1 when i is out of range or memory runs out. */
VORPIX_HOST_API int settbl(Tbl *t, int i, void *p);
/* The pointer at index i, or NULL when i is out of range. */
VORPIX_HOST_API void *gettbl(Tbl *t, int i);
/* The number of entries (0 for a NULL list). */
VORPIX_HOST_API int cnttbl(Tbl *t);
/* Removes all entries, calling free_fn on each when it is not NULL. */
VORPIX_HOST_API void clrtbl(Tbl *t, void (*free_fn)(void *));
/* Releases the list, calling free_fn on each entry when it is not NULL. */
VORPIX_HOST_API void freetbl(Tbl *t, void (*free_fn)(void *));

#ifdef __cplusplus
}
#endif

#endif
