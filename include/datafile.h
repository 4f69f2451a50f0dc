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
 * built-in ones (see datafile_default_path). Only a regular file is found.
 * An absolute name is taken as it stands. Returns a new full path, released
 * with free, or NULL when there is none. */
VORPIX_HOST_API char *datafile(const char *env, const char *name);

/* The built-in data directories, in order, separated by ':'. A library run
 * from the directory it was built in: the source tree it was built from,
 * then the configured data directory. An installed library: the data
 * directory at the configured place relative to itself when its prefix was
 * moved and only root or its owner can change that directory, then the
 * configured data directory. Never a directory beside a build tree. */
VORPIX_HOST_API const char *datafile_default_path(void);

/* Makes the whole file available read-only in memory: stores the address of
 * its first byte in *data and returns its size in bytes, or -1 on failure.
 * Only a regular file is read: a FIFO, device, socket or directory is
 * refused without being opened. A zero-length file gives 0 and a valid,
 * empty address.
 *
 * The file is read into memory of its own, not mapped: nothing that later
 * happens to the file (truncation, rewriting, removal) changes that memory
 * or can end the process. The memory stays valid until the process ends.
 *
 * A non-NULL cache is the address of a caller-owned Arr pointer (NULL at
 * first) that remembers each path made available, with the file's device,
 * inode, size and modification and change times. A later call for the path
 * compares them with the file's now: when they agree the copy made before is
 * returned; when they differ (the file was rewritten, truncated, or replaced
 * by a rename) the file is read afresh and the new copy returned, while
 * every earlier copy stays valid for whoever holds it; when the path no
 * longer names a file the copy made before is returned. So a long-running
 * client sees each file as it was at its latest call, never a mixture.
 *
 * Without a cache, a file that has not changed since an earlier call without
 * a cache made it available is not read again: the same copy is returned, so
 * that a client that makes many map objects holds each file once. Without a
 * cache it is safe to call from several threads; a cache serves one thread
 * at a time (its caller guards one that threads share). */
VORPIX_HOST_API long mapfile(const char *path, Arr **cache, char **data);

#ifdef __cplusplus
}
#endif

#endif
