#include "elog.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

elog_handler current_handler = nullptr;
void *current_context = nullptr;
// A thread's own handler comes before the process's.
thread_local elog_handler thread_handler = nullptr;
thread_local void *thread_context = nullptr;

// Reporting must work when memory has run out, so a message is formatted
// into a fixed buffer; a longer one is cut, marked with "...".
void emit(int flags, const char *format, va_list args) {
    char message[4096];
    const int length = std::vsnprintf(message, sizeof message, format, args);
    if (length < 0) {
        std::snprintf(message, sizeof message, "%s", format);
    } else if (static_cast<size_t>(length) >= sizeof message) {
        const bool newline = format[0] && format[std::strlen(format) - 1] == '\n';
        std::strcpy(message + sizeof message - 5, newline ? "...\n" : "...");
    }
    if (thread_handler) {
        thread_handler(flags, message, thread_context);
    } else if (current_handler) {
        current_handler(flags, message, current_context);
    } else {
        std::fputs(message, stderr);
        // Some callers leave out the final newline; keep each message on its own line.
        const size_t n = std::strlen(message);
        if (n == 0 || message[n - 1] != '\n') std::fputc('\n', stderr);
    }
}

}  // namespace

extern "C" {

void elog_log(int flags, const char *format, ...) {
    va_list args;
    va_start(args, format);
    emit(flags, format, args);
    va_end(args);
}

void elog_die(int flags, const char *format, ...) {
    va_list args;
    va_start(args, format);
    emit(flags, format, args);
    va_end(args);
    std::exit(1);
}

elog_handler elog_set_handler(elog_handler handler, void *context, void **old_context) {
    elog_handler old = current_handler;
    if (old_context) *old_context = current_context;
    current_handler = handler;
    current_context = handler ? context : nullptr;
    return old;
}

elog_handler elog_set_thread_handler(elog_handler handler, void *context, void **old_context) {
    elog_handler old = thread_handler;
    if (old_context) *old_context = thread_context;
    thread_handler = handler;
    thread_context = handler ? context : nullptr;
    return old;
}

}  // extern "C"
