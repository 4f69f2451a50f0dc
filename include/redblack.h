/* Associative arrays from strings to untyped pointers, kept in key order. */
#ifndef VORPIX_HOST_REDBLACK_H
#define VORPIX_HOST_REDBLACK_H

#include "host_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Arr Arr;
typedef struct Tbl Tbl;

/* A new empty array ordered by cmp (NULL: byte-wise order, as strcmp on
 * unsigned bytes). NULL when out of memory. */
VORPIX_HOST_API Arr *newarr(int (*cmp)(const char *, const char *));
/* Stores value under a private copy of key. Returns the value it replaced,
 * or NULL. */
VORPIX_HOST_API void *setarr(Arr *a, const char *key, void *value);
/* The value stored under key, or NULL. */
VORPIX_HOST_API void *getarr(Arr *a, const char *key);
/* For inspection (the readers themselves never call these two): the number
 * of keys (0 for a NULL array), */
VORPIX_HOST_API int cntarr(Arr *a);
/* and the keys in order, as a new list of pointers to the array's own
 * copies; release the list with freetbl(list, NULL). NULL when out of memory. */
VORPIX_HOST_API Tbl *keysarr(Arr *a);
/* Releases the array, calling free_fn on each value when it is not NULL. */
VORPIX_HOST_API void freearr(Arr *a, void (*free_fn)(void *));

#ifdef __cplusplus
}
#endif

#endif
