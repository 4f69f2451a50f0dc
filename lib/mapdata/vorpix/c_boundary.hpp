// The edge between the library's C++ inside and its C callers. Every
// exported function runs its body through guarded(): whatever the body
// throws ends there as one message in the error log and the function's
// failure value, so no exception ever reaches a C caller and no failed
// allocation ends the process.
#ifndef VORPIX_C_BOUNDARY_HPP
#define VORPIX_C_BOUNDARY_HPP

#include "elog.h"

#include <exception>
#include <new>

namespace vorpix {

template <typename Result, typename Body>
Result guarded(const char *function, Result failure, Body &&body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        elog_log(1, "%s: malloc() error.\n", function);
    } catch (const std::exception &e) {
        elog_log(0, "%s: %s.\n", function, e.what());
    } catch (...) {
        elog_log(0, "%s: unexpected failure.\n", function);
    }
    return failure;
}

// For the functions that return nothing: a failure is only logged.
template <typename Body>
void guarded(const char *function, Body &&body) noexcept {
    guarded(function, 0, [&] {
        body();
        return 0;
    });
}

}  // namespace vorpix

#endif
