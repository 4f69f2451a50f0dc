/* Finding data files and making their contents available in memory. */
#ifndef VORPIX_HOST_DATAFILE_H
#define VORPIX_HOST_DATAFILE_H

#include "host_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Arr Arr;

/* The environment variable that lists data directories, separated by ':'.
 * They are searched first, in order. */
#define VORPIX_DATA_PATH_ENV "VORPIX_DATA_PATH"

/* Finds the relative path name in the data directories: those listed in the
 * environment variable env (VORPIX_DATA_PATH when env is NULL), then the
 * built-in ones (the source tree this library was built from and the
 * installed data directory). An absolute name is taken as it stands.
 * Returns a new full path, released with free, or NULL when there is none. */
VORPIX_HOST_API char *datafile(const char *env, const char *name);

/* The built-in data directories, separated by ':' (for messages and help). */
VORPIX_HOST_API const char *datafile_default_path(void);

/* Makes the whole file available read-only in memory: stores the address of
 * its first byte in *data and returns its size in bytes, or -1 on failure.
 * The memory stays valid until the process ends. A non-NULL cache is the
 * address of a caller-owned Arr pointer (NULL at first) through which a path
 * already made available is not opened again. A zero-length file gives 0 and
 * a valid, empty address. */
VORPIX_HOST_API long mapfile(const char *path, Arr **cache, char **data);

#ifdef __cplusplus
}
#endif

#endif
