/* The last failure of a library function on the calling thread, as data.
 *
 * Every failure that a function of the library writes to the error log is
 * also kept, in fields, as the calling thread's last failure, until the
 * thread's next failure or vorpix_clear_failure(). A caller can act on its
 * kind, and name its file or byte, without reading the log's text. Each
 * thread has its own; reading it takes no lock. */
#ifndef VORPIX_FAILURE_H
#define VORPIX_FAILURE_H

#include "vorpix_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Kinds of failure. */
#define VORPIX_FAILURE_NONE 0             /* none since the thread began or last cleared */
#define VORPIX_FAILURE_TRUNCATED 1        /* the data end before what they promise */
#define VORPIX_FAILURE_BAD_VALUE 2        /* a count, length, offset, type or name that cannot be */
#define VORPIX_FAILURE_INVALID_ARGUMENT 3 /* the caller's arguments cannot be right */
#define VORPIX_FAILURE_CANNOT_OPEN 4      /* a file that cannot be found, opened or mapped */
#define VORPIX_FAILURE_ALLOCATION 5       /* memory ran out */
#define VORPIX_FAILURE_STEP_FAILED 6      /* a step the function relied on failed */
#define VORPIX_FAILURE_OTHER 7            /* anything else */

typedef struct vorpix_failure {
    int kind;             /* VORPIX_FAILURE_* */
    const char *function; /* the library function that found it, as its log line names it */
    const char *step;     /* the call that failed ("malloc", "datafile", ...), or "" */
    const char *file;     /* the file that the step failed on or could not open, or "" */
    const char *detail;   /* what is wrong, in the log line's words, or "" where the kind and step say it */
    long long position;   /* the byte the reading had reached, or -1 */
} vorpix_failure;

/* Fills *failure (when not NULL) with the calling thread's last failure and
 * returns its kind. The strings stay valid until the thread's next failure
 * or clear; with no failure they are "" and the position is -1. */
VORPIX_API int vorpix_last_failure(vorpix_failure *failure);

/* Forgets the calling thread's last failure. */
VORPIX_API void vorpix_clear_failure(void);

#ifdef __cplusplus
}
#endif

#endif
