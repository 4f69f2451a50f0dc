// The library's messages while in scope, caught instead of logged: the
// first one, for the Error that the feature layer makes of a failure.
#ifndef VORPIX_FEATURES_LIBRARY_LOG_HPP
#define VORPIX_FEATURES_LIBRARY_LOG_HPP

#include "elog.h"

#include <string>

namespace vorpix::features {

class LibraryLog {
public:
    LibraryLog() { previous_ = elog_set_handler(&LibraryLog::receive, this, &previous_context_); }
    ~LibraryLog() { elog_set_handler(previous_, previous_context_, nullptr); }
    LibraryLog(const LibraryLog &) = delete;
    LibraryLog &operator=(const LibraryLog &) = delete;
    // The first message without the reporting function's name and the
    // closing full stop.
    std::string reason() const {
        std::string text = first_;
        const auto colon = text.find(": ");
        if (colon != std::string::npos) text.erase(0, colon + 2);
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '.')) text.pop_back();
        return text.empty() ? "cannot be decoded" : text;
    }

private:
    static void receive(int, const char *message, void *context) {
        auto *self = static_cast<LibraryLog *>(context);
        if (self->first_.empty()) self->first_ = message;
    }
    elog_handler previous_;
    void *previous_context_ = nullptr;
    std::string first_;
};

}  // namespace vorpix::features

#endif
