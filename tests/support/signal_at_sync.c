/* Preloaded into the tool by tool_output_test: the first fsync or rename
 * raises the signal numbered in VORPIX_TEST_SIGNAL, so that the signal comes
 * while the output is still a temporary file. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
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
