// What every part of the library throws when it fails, and the record of
// where a decoder was reading that the message then names.
#ifndef VORPIX_DECODE_ERROR_HPP
#define VORPIX_DECODE_ERROR_HPP

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <utility>

namespace vorpix {

// printf-style words into a string.
[[gnu::cold]] inline std::string vformat(const char *format, va_list args) {
    va_list again;
    va_copy(again, args);
    char buffer[256];
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    std::string out;
    if (n >= 0 && static_cast<size_t>(n) < sizeof buffer) {
        out.assign(buffer, static_cast<size_t>(n));
    } else if (n >= 0) {
        out.resize(static_cast<size_t>(n));
        std::vsnprintf(out.data(), out.size() + 1, format, again);
    }
    va_end(again);
    return out;
}

// What went wrong, in kinds a caller can act on.
enum class Failure : std::uint8_t {
    truncated,         // the data end before what they promise
    bad_value,         // a count, length, offset, type or name that cannot be
    invalid_argument,  // the caller's arguments cannot be right
    cannot_open,       // a file that cannot be found, opened or mapped
    allocation,        // memory ran out
    step_failed,       // a step the function relies on failed (and said why)
};

// The one error every part of the library throws: the kind of failure, the
// function that found it, where the reading was and what is wrong there.
// The boundary (c_boundary.hpp) puts it into the logged message; nothing
// else does.
//
// Two shapes: an error of the data at a position (truncated(), bad_value()),
// which the entry point names with the place its decoder was reading; and
// the failure of a named step (the factories that take a function), which
// names itself, and to which each caller that relied on the step adds a line
// of its own as the error passes (then()).
class DecodeError : public std::exception {
public:
    [[gnu::cold]] static DecodeError truncated(size_t position, size_t wanted, size_t remaining) {
        DecodeError e(Failure::truncated, nullptr,
                      "at byte " + std::to_string(position) + ": " + std::to_string(wanted) + " bytes needed, " +
                          std::to_string(remaining) + " remain");
        e.has_position_ = true;
        e.position_ = position;
        e.wanted_ = wanted;
        e.remaining_ = remaining;
        return e;
    }
    // detail says what is wrong; position, when given, is the byte the
    // reading had reached.
    [[gnu::cold]] static DecodeError bad_value(std::string detail, long long position = -1) {
        DecodeError e(Failure::bad_value, nullptr, std::move(detail));
        e.has_position_ = position >= 0;
        e.position_ = position < 0 ? 0 : static_cast<size_t>(position);
        return e;
    }

    // function failed for the reason in detail, printf-style.
    [[gnu::cold]] [[gnu::format(printf, 3, 4)]] static DecodeError failed(Failure kind, const char *function,
                                                                          const char *format, ...) {
        va_list args;
        va_start(args, format);
        DecodeError e(kind, function, vformat(format, args));
        va_end(args);
        if (kind == Failure::allocation) e.flags_ = 1;
        return e;
    }
    // function's call (malloc, realloc) for what (a buffer's name, or none)
    // of bytes (or -1: not said) found no memory. Makes no allocation.
    [[gnu::cold]] static DecodeError allocation(const char *function, const char *call = "malloc",
                                                const char *what = nullptr, long long bytes = -1,
                                                bool says_error = true) {
        DecodeError e(Failure::allocation, function, std::string());
        e.flags_ = 1;
        e.call_ = call;
        e.object_ = what;
        e.bytes_ = bytes;
        e.says_error_ = says_error;
        return e;
    }
    // function relied on step, which failed (on file, when given); flags as
    // the log takes them.
    [[gnu::cold]] static DecodeError step_failed(const char *function, const char *step, int flags = 0,
                                                 const char *file = nullptr) {
        DecodeError e(Failure::step_failed, function, std::string());
        e.call_ = step;
        e.flags_ = flags;
        if (file) e.file_ = file;
        return e;
    }
    // function could not open (map, find) file through call.
    [[gnu::cold]] static DecodeError cannot_open(const char *function, const char *call, const char *file) {
        DecodeError e(Failure::cannot_open, function, std::string());
        e.call_ = call;
        if (file) e.file_ = file;
        return e;
    }
    // function was called with arguments that cannot be right; size, when
    // not negative, is the size of data it was given.
    [[gnu::cold]] static DecodeError invalid_arguments(const char *function, long long size = -1) {
        return size < 0 ? DecodeError(Failure::invalid_argument, function, "invalid arguments")
                        : failed(Failure::invalid_argument, function, "invalid arguments (size %lld)", size);
    }

    // The caller function relied on step, which has failed with this error:
    // its line follows the error's own. Only a failure that names its
    // function collects them; an error of the data at a position passes
    // through every caller to the entry point, which names the place.
    // argument is what the step was given, shown in its parentheses; about,
    // a phrase that follows the line's "error" ("for hdr->vars[x]").
    DecodeError &then(const char *function, const char *step, int flags = 0, const char *argument = nullptr,
                      const std::string &about = std::string()) {
        if (function_ && trail_count_ < max_trail)
            trail_[trail_count_++] = Trail{function, step, flags, argument ? std::string(argument) : std::string(),
                                           about};
        return *this;
    }

    // The flags the log takes the message with (an allocation's are 1).
    DecodeError &logged_with(int flags) {
        flags_ = flags;
        return *this;
    }
    // Records the file the failure concerns.
    DecodeError &about(const char *file) {
        if (file) file_ = file;
        return *this;
    }

    struct Trail {
        const char *function;
        const char *step;
        int flags;
        std::string argument, about;
    };
    static constexpr int max_trail = 8;  // deeper than any nesting of the formats

    Failure kind() const { return kind_; }
    bool truncation() const { return kind_ == Failure::truncated; }
    // The function that found the failure, or null when the entry point
    // names it (an error of the data at a position).
    const char *function() const { return function_; }
    bool has_position() const { return has_position_; }
    size_t position() const { return position_; }
    size_t wanted() const { return wanted_; }
    size_t remaining() const { return remaining_; }
    // The words for the problem, without the function in front.
    const std::string &detail() const { return detail_; }
    // The file the failure concerns, or "" when none is known.
    const char *file() const { return file_.c_str(); }
    const char *call() const { return call_; }
    const char *object() const { return object_; }
    long long bytes() const { return bytes_; }
    bool says_error() const { return says_error_; }
    int flags() const { return flags_; }
    int trail_count() const { return trail_count_; }
    const Trail &trail(int i) const { return trail_[i]; }
    const char *what() const noexcept override { return detail_.c_str(); }

private:
    DecodeError(Failure kind, const char *function, std::string detail)
        : kind_(kind), function_(function), detail_(std::move(detail)) {}

    Failure kind_;
    const char *function_;
    std::string detail_;
    std::string file_;
    bool has_position_ = false;
    size_t position_ = 0, wanted_ = 0, remaining_ = 0;
    const char *call_ = nullptr;
    const char *object_ = nullptr;
    long long bytes_ = -1;
    bool says_error_ = true;
    int flags_ = 0;
    int trail_count_ = 0;
    Trail trail_[max_trail] = {};
};

// Runs step, which function relies on; a failure of the step passes on with
// function's line added.
template <typename Step>
auto relying_on(const char *function, const char *step_name, int flags, Step &&step, const char *argument = nullptr)
    -> decltype(step()) {
    try {
        return step();
    } catch (DecodeError &error) {
        error.then(function, step_name, flags, argument);
        throw;
    }
}

// What a decoder is reading. The decoders keep it up to date with plain
// stores as they go; describe() puts it into words only once something has
// failed, for example "record 17 at byte 4312: RecordPolyLine points",
// "variable 3 (\"temp\") attribute 0" or "mipmap level 2 (4x4)".
struct Where {
    const char *item = "";       // empty when the detail names its own place
    long long index = -1;        // the item's number among its kind
    const char *name = nullptr;  // the item's name in the data
    bool sized = false;          // an image, of width x height
    std::uint64_t width = 0, height = 0;
    long long at = -1;          // the byte the item starts at
    const char *sub = nullptr;  // a numbered part inside the item ("attribute")
    long long sub_index = -1;
    const char *part_of = nullptr;  // the structure and member being read
    const char *part = nullptr;

    [[gnu::cold]] std::string describe() const {
        std::string s = item;
        char buffer[96];
        if (index >= 0) add(s, buffer, std::snprintf(buffer, sizeof buffer, " %lld", index));
        if (name) s.append(" (\"").append(name).append("\")");
        if (sized)
            add(s, buffer,
                std::snprintf(buffer, sizeof buffer, " (%llux%llu)", static_cast<unsigned long long>(width),
                              static_cast<unsigned long long>(height)));
        if (at >= 0) add(s, buffer, std::snprintf(buffer, sizeof buffer, " at byte %lld", at));
        if (sub_index >= 0) {
            if (sub) s.append(" ").append(sub);
            add(s, buffer, std::snprintf(buffer, sizeof buffer, " %lld", sub_index));
        }
        if (part) {
            s += ": ";
            if (part_of) s.append(part_of).append(" ");
            s += part;
        }
        return s;
    }

private:
    template <size_t N>
    static void add(std::string &s, const char (&buffer)[N], int n) {
        if (n > 0) s.append(buffer, std::min(static_cast<size_t>(n), N - 1));
    }
};

}  // namespace vorpix

#endif
