// The library's log caught while a decoder runs, and told as one line.
#include "vorpix/library_log.hpp"

#include "elog.h"

#include <cstring>
#include <iterator>

namespace vorpix::features {

namespace {

std::string chomp(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

std::string without_function(const std::string &message) {
    const auto colon = message.find(": ");
    std::string text = colon == std::string::npos ? message : message.substr(colon + 2);
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

bool names_a_file(const std::string &word) {
    if (word.empty() || word.find(' ') != std::string::npos) return false;
    if (word.find('/') != std::string::npos) return true;
    for (const char *suffix : {".b", ".cdf", ".nc"}) {
        const size_t n = std::strlen(suffix);
        if (word.size() > n && word.compare(word.size() - n, n, suffix) == 0) return true;
    }
    return false;
}

// "what(FILE) error": a link of the chain that names the file and nothing else.
bool chain_link(const std::string &text, std::string *file) {
    const auto open = text.find('('), close = text.rfind(") error");
    if (open == std::string::npos || close == std::string::npos || close < open || close + 7 != text.size())
        return false;
    *file = text.substr(open + 1, close - open - 1);
    return true;
}

}  // namespace

LibraryLog::LibraryLog() {
    vorpix_clear_failure();
    previous_ = reinterpret_cast<void *>(elog_set_thread_handler(&LibraryLog::receive, this, &previous_context_));
}

LibraryLog::~LibraryLog() {
    elog_set_thread_handler(reinterpret_cast<elog_handler>(previous_), previous_context_, nullptr);
}

void LibraryLog::receive(int, const char *message, void *context) {
    static_cast<LibraryLog *>(context)->lines_.push_back(chomp(message));
}

vorpix_failure LibraryLog::failure() const {
    vorpix_failure out{};
    vorpix_last_failure(&out);
    return out;
}

ErrorCode LibraryLog::code() const {
    switch (vorpix_last_failure(nullptr)) {
    case VORPIX_FAILURE_ALLOCATION: return ErrorCode::Memory;
    case VORPIX_FAILURE_CANNOT_OPEN: return ErrorCode::Io;
    default: return ErrorCode::Invalid;
    }
}

std::string LibraryLog::reason() const { return lines_.empty() ? "cannot be decoded" : without_function(lines_[0]); }

std::string LibraryLog::describe(const std::function<std::string(const std::string &)> &file_for) const {
    std::string file;
    std::vector<std::string> parts;
    for (auto it = lines_.rbegin(); it != lines_.rend(); ++it) {
        std::string text = without_function(*it), named;
        if (chain_link(text, &named)) {
            if (file.empty()) file = named;
            continue;
        }
        const auto colon = text.find(": ");
        if (colon != std::string::npos && names_a_file(text.substr(0, colon))) {
            if (file.empty()) file = text.substr(0, colon);
            if (text.compare(0, colon, file) == 0) text.erase(0, colon + 2);
        }
        // The outer line's verdict; the inner lines say what was wrong.
        const std::string vague = "truncated or corrupt file";
        if (text.size() >= vague.size() && text.compare(text.size() - vague.size(), vague.size(), vague) == 0 &&
            std::next(it) != lines_.rend()) {
            text.erase(text.size() - vague.size());
            while (!text.empty() && (text.back() == ' ' || text.back() == ':')) text.pop_back();
        }
        if (!text.empty()) parts.push_back(text);
    }
    if (!file.empty() && file.find('/') == std::string::npos && file_for) file = file_for(file);
    std::string out = file;
    for (const auto &part : parts) out += (out.empty() ? "" : ": ") + part;
    return out;
}

}  // namespace vorpix::features
