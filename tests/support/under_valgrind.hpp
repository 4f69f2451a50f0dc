// RUNNING_ON_VALGRIND, or 0 where valgrind's header is not installed: for
// tests that measure memory, count descriptors or race threads, which
// valgrind changes.
#ifndef VORPIX_TEST_UNDER_VALGRIND_HPP
#define VORPIX_TEST_UNDER_VALGRIND_HPP

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#else
#define RUNNING_ON_VALGRIND 0
#endif

#endif
