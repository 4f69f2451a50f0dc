// The calling thread's last failure, handed out as data.
#include "vorpix_failure.h"

#include "c_boundary.hpp"

using vorpix::guarded;
using vorpix::last_failure;

int vorpix_last_failure(vorpix_failure *failure) {
    return guarded("vorpix_last_failure", VORPIX_FAILURE_NONE, [&] {
        const vorpix::LastFailure &last = last_failure;
        if (failure) {
            failure->kind = last.kind;
            failure->function = last.function;
            failure->step = last.step;
            failure->file = last.file.c_str();
            failure->detail = last.detail.c_str();
            failure->position = last.kind ? last.position : -1;
        }
        return last.kind;
    });
}

void vorpix_clear_failure(void) {
    guarded("vorpix_clear_failure", [] { last_failure = vorpix::LastFailure(); });
}
