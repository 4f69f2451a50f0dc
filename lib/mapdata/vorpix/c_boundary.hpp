// The edge between the library's C++ inside and its C callers. Every
// exported function runs its body through guarded(): whatever the body
// throws ends there as one message in the error log and the function's
// failure value, so no exception ever reaches a C caller and no failed
// allocation ends the process.
#ifndef VORPIX_C_BOUNDARY_HPP
#define VORPIX_C_BOUNDARY_HPP

#include "byte_reader.hpp"
#include "decode_error.hpp"
#include "vorpix_failure.h"

#include "elog.h"

#include <exception>
#include <new>
#include <optional>
#include <string>

namespace vorpix {

// The calling thread's last failure, as vorpix_last_failure() hands it out.
struct LastFailure {
    int kind = VORPIX_FAILURE_NONE;
    const char *function = "", *step = "";
    std::string file, detail;
    long long position = -1;
};
inline thread_local LastFailure last_failure;

// The kind a Failure is handed out as.
constexpr int failure_kind(Failure kind) { return static_cast<int>(kind) + 1; }
static_assert(failure_kind(Failure::truncated) == VORPIX_FAILURE_TRUNCATED &&
                  failure_kind(Failure::bad_value) == VORPIX_FAILURE_BAD_VALUE &&
                  failure_kind(Failure::invalid_argument) == VORPIX_FAILURE_INVALID_ARGUMENT &&
                  failure_kind(Failure::cannot_open) == VORPIX_FAILURE_CANNOT_OPEN &&
                  failure_kind(Failure::allocation) == VORPIX_FAILURE_ALLOCATION &&
                  failure_kind(Failure::step_failed) == VORPIX_FAILURE_STEP_FAILED,
              "every Failure is handed out as its VORPIX_FAILURE_*");

// Keeps a failure as the thread's last; the strings are copied, and left
// empty when no memory is left to copy them.
[[gnu::cold]] inline void remember(int kind, const char *function, const char *step = nullptr,
                                   const char *file = nullptr, const char *detail = nullptr,
                                   long long position = -1) noexcept {
    LastFailure &last = last_failure;
    last.kind = kind;
    last.function = function ? function : "";
    last.step = step ? step : "";
    last.position = position;
    try {
        last.file = file ? file : "";
        last.detail = detail ? detail : "";
    } catch (...) {
        last.file.clear();
        last.detail.clear();
    }
}

inline void remember(const char *function, const DecodeError &error) noexcept {
    const bool said = error.kind() != Failure::allocation || !error.detail().empty();
    remember(failure_kind(error.kind()), function, error.call(), error.file(), said ? error.detail().c_str() : nullptr,
             error.has_position() ? static_cast<long long>(error.position()) : -1);
}

// The message of a failure that names its own function (function is the
// entry point's name, for an error that does not), then the line of each
// caller that relied on the failed step:
//   "FUNCTION: malloc[(WHAT[,BYTES])] error."  (an allocation, mostly flags 1)
//   "FUNCTION: STEP([FILE]) error."            (a step that failed, on a file)
//   "FUNCTION: CALL(FILE) error."              (a file that cannot be opened)
//   "FUNCTION: DETAIL."                        (anything else)
[[gnu::cold]] inline void log_failure(const char *function, const DecodeError &error) {
    const char *name = error.function() ? error.function() : function;
    remember(name, error);
    switch (error.kind()) {
    case Failure::allocation: {
        if (!error.detail().empty()) {  // a call whose argument is data
            elog_log(error.flags(), "%s: %s.\n", name, error.detail().c_str());
            break;
        }
        const char *tail = error.says_error() ? " error" : "";
        const int flags = error.flags();
        if (!error.object()) elog_log(flags, "%s: %s()%s.\n", name, error.call(), tail);
        else if (error.bytes() < 0) elog_log(flags, "%s: %s(%s)%s.\n", name, error.call(), error.object(), tail);
        else elog_log(flags, "%s: %s(%s,%lld)%s.\n", name, error.call(), error.object(), error.bytes(), tail);
        break;
    }
    case Failure::step_failed:
    case Failure::cannot_open: elog_log(error.flags(), "%s: %s(%s) error.\n", name, error.call(), error.file()); break;
    default: elog_log(0, "%s: %s.\n", name, error.detail().c_str());
    }
    for (int i = 0; i < error.trail_count(); ++i) {
        const DecodeError::Trail &line = error.trail(i);
        elog_log(line.flags, "%s: %s(%s) error%s.\n", line.function, line.step, line.argument.c_str(),
                 line.about.c_str());
    }
}

template <typename Result, typename Body>
Result guarded(const char *function, Result failure, Body &&body) noexcept {
    try {
        return body();
    } catch (const DecodeError &error) {
        log_failure(function, error);
    } catch (const std::bad_alloc &) {
        elog_log(1, "%s: malloc() error.\n", function);
        remember(VORPIX_FAILURE_ALLOCATION, function, "malloc");
    } catch (const std::exception &e) {
        elog_log(0, "%s: %s.\n", function, e.what());
        remember(VORPIX_FAILURE_OTHER, function, nullptr, nullptr, e.what());
    } catch (...) {
        elog_log(0, "%s: unexpected failure.\n", function);
        remember(VORPIX_FAILURE_OTHER, function, nullptr, nullptr, "unexpected failure");
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

// The decoders below run inside guarded(), which answers failed allocations
// and anything unforeseen; they answer the data that do not add up.

// For the length-less entry points: decode runs over in, an unbounded reader
// at *stream, which then moves past what was read, also after a failure.
template <typename Decode>
int run_plain(const char *function, unsigned char **stream, const ByteReader &in, Decode &&decode) {
    struct Advance {
        unsigned char **stream;
        const ByteReader &in;
        ~Advance() { *stream += in.position(); }
    } advance{stream, in};
    try {
        return decode();
    } catch (const DecodeError &error) {
        // An unbounded reader runs out only for sizes beyond the address space.
        if (error.truncation() && !error.function()) {
            elog_log(0, "%s: data size beyond the address space.\n", function);
            remember(function, error);
        } else {
            log_failure(function, error);
        }
    }
    return -1;
}

// The reader over the size bytes at data for a sized entry point; none, with
// a message, when the arguments cannot be right (valid says whether the
// others are).
inline std::optional<ByteReader> sized_reader(const char *function, const unsigned char *data, long size,
                                              bool valid = true) {
    if (!valid || size < 0 || (!data && size > 0)) {
        elog_log(0, "%s: invalid arguments (size %ld).\n", function, size);
        remember(VORPIX_FAILURE_INVALID_ARGUMENT, function, nullptr, nullptr, "invalid arguments");
        return std::nullopt;
    }
    static const unsigned char nothing = 0;
    return ByteReader(data ? data : &nothing, static_cast<size_t>(size));
}

// One line for data that do not add up, naming where they were read:
// "FUNCTION: [SUBJECT: ]truncated WHOLE: WHERE at byte N: X bytes needed, Y remain."
// or, for a bad value, "FUNCTION: [SUBJECT: ]WHERE[ at byte N]: DETAIL." (the
// detail alone when where is empty). whole names what ran short ("file").
[[gnu::cold]] inline void report_decode_error(const char *function, const char *subject, const char *whole,
                                              const Where &where, const DecodeError &error) {
    if (error.function()) {  // a failure that names itself
        log_failure(function, error);
        return;
    }
    remember(function, error);
    std::string place = where.describe();
    const std::string head = std::string(function) + ": " + (subject ? std::string(subject) + ": " : std::string());
    if (error.truncation()) {
        // An item that names its own first byte has the failing one after the count.
        const std::string at = " at byte " + std::to_string(error.position());
        const std::string counts = std::to_string(error.wanted()) + " bytes needed";
        const std::string left = std::to_string(error.remaining()) + " remain";
        place = where.at >= 0 ? place + ": " + counts + at + ", " + left : place + at + ": " + counts + ", " + left;
        elog_log(0, "%struncated %s: %s.\n", head.c_str(), whole, place.c_str());
        return;
    }
    if (error.has_position()) place += " at byte " + std::to_string(error.position());
    if (!place.empty()) place += ": ";
    elog_log(0, "%s%s%s.\n", head.c_str(), place.c_str(), error.detail().c_str());
}

// For the sized entry points: decode reads the whole data, which where
// follows.
template <typename Decode>
int run_sized(const char *function, const char *whole, const Where &where, Decode &&decode,
              const char *subject = nullptr) {
    try {
        return decode();
    } catch (const DecodeError &error) {
        report_decode_error(function, subject, whole, where, error);
    }
    return -1;
}

}  // namespace vorpix

#endif
