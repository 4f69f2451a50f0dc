/* Preloaded into the tool by tool_output_test. With VORPIX_TEST_SIGNAL=N the
 * first fsync or rename raises signal N, so that the signal comes while the
 * output is not yet in place. With VORPIX_TEST_NO_TMPFILE=1 opening an unnamed
 * file fails as on a file system that has none. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>

static void raise_once(void) {
    static int raised;
    const char *number = getenv("VORPIX_TEST_SIGNAL");
    if (number && !raised) {
        raised = 1;
        raise(atoi(number));
    }
}

int fsync(int fd) {
    raise_once();
    int (*next)(int) = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    return next(fd);
}

int rename(const char *from, const char *to) {
    raise_once();
    int (*next)(const char *, const char *) = (int (*)(const char *, const char *))dlsym(RTLD_NEXT, "rename");
    return next(from, to);
}

static int open_through(const char *name, const char *path, int flags, va_list rest) {
    const mode_t mode = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(rest, mode_t) : 0;
    if ((flags & O_TMPFILE) == O_TMPFILE && getenv("VORPIX_TEST_NO_TMPFILE")) {
        errno = EOPNOTSUPP;
        return -1;
    }
    int (*next)(const char *, int, ...) = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, name);
    return next(path, flags, mode);
}

int open(const char *path, int flags, ...) {
    va_list rest;
    va_start(rest, flags);
    const int fd = open_through("open", path, flags, rest);
    va_end(rest);
    return fd;
}

int open64(const char *path, int flags, ...) {
    va_list rest;
    va_start(rest, flags);
    const int fd = open_through("open64", path, flags, rest);
    va_end(rest);
    return fd;
}
