/* The error log. Messages go to standard error unless a handler is set. */
#ifndef VORPIX_HOST_ELOG_H
#define VORPIX_HOST_ELOG_H

#include "host_export.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define VORPIX_PRINTF(f, a) __attribute__((format(printf, f, a)))
#define VORPIX_NORETURN __attribute__((noreturn))
#else
#define VORPIX_PRINTF(f, a)
#define VORPIX_NORETURN
#endif

/* Adds a printf-style message. flags is 1 after a failed allocation and for
 * some nested-decode messages, 0 otherwise. */
VORPIX_HOST_API void elog_log(int flags, const char *format, ...) VORPIX_PRINTF(2, 3);
/* Logs like elog_log, then ends the process with exit status 1. */
VORPIX_HOST_API VORPIX_NORETURN void elog_die(int flags, const char *format, ...) VORPIX_PRINTF(2, 3);

/* Receives each formatted message with its flags. */
typedef void (*elog_handler)(int flags, const char *message, void *context);
/* Sends messages to handler instead of standard error; NULL restores the
 * default. Returns the handler that was set before (its context through
 * old_context when not NULL). */
VORPIX_HOST_API elog_handler elog_set_handler(elog_handler handler, void *context, void **old_context);
/* The same for the calling thread alone: its messages go to handler before
 * any handler of the process, whatever other threads set meanwhile; NULL
 * leaves the thread to the process's handler. Threads that each catch their
 * own messages use this one. */
VORPIX_HOST_API elog_handler elog_set_thread_handler(elog_handler handler, void *context, void **old_context);

#ifdef __cplusplus
}
#endif

#endif
