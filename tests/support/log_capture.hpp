// Captures what the error log receives while in scope, and what a call prints.
#ifndef VORPIX_TEST_LOG_CAPTURE_HPP
#define VORPIX_TEST_LOG_CAPTURE_HPP

#include "elog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vorpix::test {

class LogCapture {
public:
    struct Entry {
        int flags;
        std::string message;
    };

    LogCapture() { previous_ = elog_set_handler(&LogCapture::receive, this, &previous_context_); }
    ~LogCapture() { elog_set_handler(previous_, previous_context_, nullptr); }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    const std::vector<Entry> &entries() const { return entries_; }
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const auto &e : entries_) out.push_back(e.message);
        return out;
    }
    // Everything logged, concatenated.
    std::string text() const {
        std::string out;
        for (const auto &e : entries_) out += e.message;
        return out;
    }
    bool empty() const { return entries_.empty(); }
    void clear() { entries_.clear(); }

private:
    static void receive(int flags, const char *message, void *context) {
        static_cast<LogCapture *>(context)->entries_.push_back({flags, message});
    }
    std::vector<Entry> entries_;
    elog_handler previous_ = nullptr;
    void *previous_context_ = nullptr;
};

// What act logs, which must be one message with these flags.
inline std::string one_message(const std::function<void()> &act, int flags = 0) {
    LogCapture log;
    act();
    EXPECT_EQ(log.entries().size(), 1u) << log.text();
    if (log.entries().size() == 1) {
        EXPECT_EQ(log.entries()[0].flags, flags) << log.text();
    }
    return log.text();
}

// What print writes to standard output, through the C stream or the descriptor.
inline std::string printed(const std::function<void()> &print) {
    std::fflush(stdout);
    FILE *tmp = std::tmpfile();
    const int saved = dup(1);
    dup2(fileno(tmp), 1);
    print();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string out;
    std::rewind(tmp);
    for (int c; (c = std::fgetc(tmp)) != EOF;) out += static_cast<char>(c);
    std::fclose(tmp);
    return out;
}

// What write writes to the stream it is given, a temporary file.
inline std::string written(const std::function<void(FILE *)> &write) {
    FILE *tmp = std::tmpfile();
    if (!tmp) return "(no temporary file)";
    write(tmp);
    std::fflush(tmp);
    std::string out;
    std::rewind(tmp);
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, tmp)) > 0;) out.append(buffer, n);
    std::fclose(tmp);
    return out;
}

}  // namespace vorpix::test

#endif
