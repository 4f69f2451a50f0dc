// Text of a table in its code page turned into UTF-8, and the names that
// .cpg files and dBase language-driver bytes give code pages.
#ifndef VORPIX_FEATURES_TEXT_HPP
#define VORPIX_FEATURES_TEXT_HPP

#include "vorpix/features.hpp"

#include <string>
#include <string_view>

namespace vorpix::features {

// Text in one encoding appended to a string as valid UTF-8; bytes that do
// not convert become U+FFFD, with one warning naming the file.
class TextConverter {
public:
    // An encoding that iconv does not know is an Error naming file. With
    // utf8_first, text that is valid UTF-8 is taken as such and only other
    // text is read in the encoding: for tables that do not say what they hold.
    TextConverter(const std::string &encoding, std::string file, Warn warn, bool utf8_first = false);
    ~TextConverter();
    TextConverter(const TextConverter &) = delete;
    TextConverter &operator=(const TextConverter &) = delete;
    void append(std::string_view text, std::string &out);
    std::string operator()(std::string_view text) {
        std::string out;
        append(text, out);
        return out;
    }
    const std::string &encoding() const { return encoding_; }

private:
    void convert(std::string_view text, std::string &out);
    void *cd_ = nullptr;
    std::string encoding_, file_;
    Warn warn_;
    bool utf8_ = false, utf8_first_ = false, warned_ = false;
};

// Whether the bytes are valid UTF-8 (no overlong forms, no surrogates).
bool valid_utf8(std::string_view text);

// The code page named by a .cpg file's text ("UTF-8", "1252", "88591",
// "ANSI 1251"...) or by a dBase language-driver byte, as an iconv name; ""
// when it names none.
std::string encoding_of_cpg(std::string_view text);
std::string encoding_of_language_driver(unsigned char id);

}  // namespace vorpix::features

#endif
