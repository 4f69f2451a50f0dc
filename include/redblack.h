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
/* A new array with the comparison and the keys of model, as copies of its
 * own, holding values[i] under the i-th key in order (the order of keysarr);
 * values holds cntarr(model) pointers. Quicker than setarr key by key when
 * many arrays share one set of keys. NULL when out of memory or model is
 * NULL. */
VORPIX_HOST_API Arr *newarr_keys(Arr *model, void *const *values);
/* The value stored under key, or NULL. */
VORPIX_HOST_API void *getarr(Arr *a, const char *key);
/* The number of keys (0 for a NULL array). */
VORPIX_HOST_API int cntarr(Arr *a);
/* The keys in order, as a new list of pointers to the array's own copies;
 * release the list with freetbl(list, NULL). NULL when out of memory. */
VORPIX_HOST_API Tbl *keysarr(Arr *a);
/* Releases the array, calling free_fn on each value when it is not NULL. */
VORPIX_HOST_API void freearr(Arr *a, void (*free_fn)(void *));
/* 1 when a and b are known to hold the same keys under the same order:
 * one made from the other by newarr_keys, or both from one model, with no
 * key added to either since; else 0 (also when either is NULL). */
VORPIX_HOST_API int samekeysarr(Arr *a, Arr *b);
/* Exchanges the values of a, in key order, with the cntarr(a) pointers in
 * values: a caller that rewrites every value of an array whose keys it knows
 * takes them out and puts the new ones in without touching the keys. */
VORPIX_HOST_API void swapvaluesarr(Arr *a, void **values);
/* Releases the array but not its values, which it stores in key order in
 * values, a room for cntarr(a) pointers: for a caller that releases them in
 * its own order. */
VORPIX_HOST_API void takearr(Arr *a, void **values);

#ifdef __cplusplus
}
#endif

#endif
