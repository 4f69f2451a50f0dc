// The library's messages while in scope, caught instead of logged, for the
// Errors that the feature layer makes of its failures.
#ifndef VORPIX_FEATURES_LIBRARY_LOG_HPP
#define VORPIX_FEATURES_LIBRARY_LOG_HPP

#include "vorpix/features.hpp"
#include "vorpix_failure.h"

#include <functional>
#include <string>
#include <vector>

namespace vorpix::features {

class LibraryLog {
public:
    LibraryLog();
    ~LibraryLog();
    LibraryLog(const LibraryLog &) = delete;
    LibraryLog &operator=(const LibraryLog &) = delete;
    // The messages in the order logged (the innermost failure first), each
    // without its trailing newline.
    const std::vector<std::string> &lines() const { return lines_; }
    // The library's last failure on this thread while in scope, as data
    // (kind VORPIX_FAILURE_NONE when there was none).
    vorpix_failure failure() const;
    // What that failure is to the layer's callers: memory that ran out, a
    // file that could not be opened, or else data that do not add up.
    ErrorCode code() const;
    // The first message as it stands ("" when none).
    std::string first() const { return lines_.empty() ? "" : lines_.front(); }
    // The first message without the reporting function's name and the
    // closing full stop.
    std::string reason() const;
    // The chain of messages as one line: the file named by the outer ones
    // (through file_for when named without a directory), then what the
    // inner ones say was wrong, without the library's function names.
    std::string describe(const std::function<std::string(const std::string &)> &file_for) const;

private:
    static void receive(int flags, const char *message, void *context);
    std::vector<std::string> lines_;
    void *previous_;
    void *previous_context_ = nullptr;
};

}  // namespace vorpix::features

#endif
