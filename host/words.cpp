#include "words.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

bool is_blank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

extern "C" {

int splitlist(const char *s, int *n, char ***list) {
    if (!s || !n || !list) return -1;
    std::vector<std::string_view> words;
    try {
        const std::string_view text(s);
        size_t pos = 0;
        while (pos < text.size()) {
            while (pos < text.size() && is_blank(text[pos])) ++pos;
            const size_t start = pos;
            while (pos < text.size() && !is_blank(text[pos])) ++pos;
            if (pos > start) words.push_back(text.substr(start, pos - start));
        }
    } catch (...) {
        return -1;
    }
    auto **out = static_cast<char **>(std::calloc(words.size() + 1, sizeof(char *)));
    if (!out) return -1;
    for (size_t i = 0; i < words.size(); ++i) {
        out[i] = static_cast<char *>(std::malloc(words[i].size() + 1));
        if (!out[i]) {
            freeargs(static_cast<int>(i), out);
            return -1;
        }
        std::memcpy(out[i], words[i].data(), words[i].size());
        out[i][words[i].size()] = '\0';
    }
    *n = static_cast<int>(words.size());
    *list = out;
    return 0;
}

void freeargs(int n, char **list) {
    if (!list) return;
    for (int i = 0; i < n; ++i) std::free(list[i]);
    std::free(list);
}

char *strtrim(char *s) {
    if (!s) return s;
    size_t length = std::strlen(s);
    while (length > 0 && is_blank(s[length - 1])) --length;
    size_t start = 0;
    while (start < length && is_blank(s[start])) ++start;
    std::memmove(s, s + start, length - start);
    s[length - start] = '\0';
    return s;
}

}  // extern "C"
