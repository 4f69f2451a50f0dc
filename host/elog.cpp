#include "elog.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

elog_handler current_handler = nullptr;
void *current_context = nullptr;

void emit(int flags, const char *format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string message(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(message.data(), message.size() + 1, format, args);
    if (current_handler) {
        current_handler(flags, message.c_str(), current_context);
    } else {
        std::fputs(message.c_str(), stderr);
        // Some callers leave out the final newline; keep each message on its own line.
        if (message.empty() || message.back() != '\n') std::fputc('\n', stderr);
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

}  // extern "C"
