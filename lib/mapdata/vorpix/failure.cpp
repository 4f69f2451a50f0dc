// The calling thread's last failure, handed out as data.
#include "vorpix_failure.h"

#include "c_boundary.hpp"

using vorpix::guarded;
using vorpix::last_failure;

int vorpix_last_failure(vorpix_failure *failure) {
    return guarded("vorpix_last_failure", VORPIX_FAILURE_NONE, [&] {
        const vorpix::LastFailure &last = last_failure;
        if (failure) {
            const bool any = last.kind != VORPIX_FAILURE_NONE;
            failure->kind = last.kind;
            failure->function = any ? last.function : "";
            failure->step = any ? last.step : "";
            failure->file = any ? last.file.c_str() : "";
            failure->detail = any ? last.detail.c_str() : "";
            failure->position = any ? last.position : -1;
        }
        return last.kind;
    });
}

void vorpix_clear_failure(void) {
    // Callers clear before each call they may ask about, so this is kept
    // cheap: the strings stay until the next failure overwrites them.
    guarded("vorpix_clear_failure", [] { last_failure.kind = VORPIX_FAILURE_NONE; });
}
