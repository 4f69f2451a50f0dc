// Text in UTF-8 from the code pages of tables.
#include "vorpix/text.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iconv.h>
#include <sstream>

namespace vorpix::features {

namespace {

constexpr const char replacement[] = "\xEF\xBF\xBD";

bool ascii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

}  // namespace

bool valid_utf8(std::string_view text) {
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const unsigned char *end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int n;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) n = 1;
        else if (c >= 0xE0 && c <= 0xEF) n = 2, lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
        else if (c >= 0xF0 && c <= 0xF4) n = 3, lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
        else return false;
        if (end - p <= n || p[1] < lo || p[1] > hi) return false;
        for (int k = 2; k <= n; ++k)
            if ((p[k] & 0xC0) != 0x80) return false;
        p += n + 1;
    }
    return true;
}

TextConverter::TextConverter(const std::string &encoding, std::string file, Warn warn, bool utf8_first)
    : encoding_(encoding), file_(std::move(file)), warn_(std::move(warn)), utf8_first_(utf8_first) {
    iconv_t cd = iconv_open("UTF-8", encoding.c_str());
    // NOLINTNEXTLINE(performance-no-int-to-ptr): iconv_open says it failed so.
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw Error(ErrorCode::Unsupported, file_, "", "unknown text encoding \"" + encoding + "\"");
    cd_ = cd;
    utf8_ = encoding == "UTF-8";
}

TextConverter::~TextConverter() { iconv_close(static_cast<iconv_t>(cd_)); }

void TextConverter::append(std::string_view text, std::string &out) {
    // Most text is plain ASCII, the same in every encoding read.
    if (ascii(text) || ((utf8_ || utf8_first_) && valid_utf8(text))) {
        out.append(text);
        return;
    }
    convert(text, out);
}

void TextConverter::convert(std::string_view text, std::string &out) {
    auto cd = static_cast<iconv_t>(cd_);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char buffer[1024];
    char *in = const_cast<char *>(text.data());
    size_t in_left = text.size();
    while (in_left > 0) {
        char *to = buffer;
        size_t to_left = sizeof buffer;
        const size_t r = iconv(cd, &in, &in_left, &to, &to_left);
        out.append(buffer, static_cast<size_t>(to - buffer));
        if (r != static_cast<size_t>(-1) || errno == E2BIG) continue;
        // EILSEQ, or EINVAL for a sequence cut short by the field's end.
        out += replacement;
        ++in;
        --in_left;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (!warned_) {
            warned_ = true;
            if (warn_) warn_(file_ + ": text that is not " + encoding_ + "; such bytes are written as U+FFFD");
        }
    }
}

namespace {

std::string upper_trimmed(std::string_view text) {
    std::string s;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)))
            s += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool all_digits(const std::string &s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string encoding_of_cpg(std::string_view text) {
    std::string s = upper_trimmed(text);
    if (s.empty()) return "";
    if (s == "UTF8" || s == "UTF-8") return "UTF-8";
    if (s.rfind("ANSI", 0) == 0) s = s.substr(4);
    if (s.rfind("CP", 0) == 0 && all_digits(s.substr(2))) s = s.substr(2);
    if (all_digits(s)) {
        // 8859N: ISO-8859-N; other numbers are Windows or DOS code pages.
        if (s.size() >= 5 && s.rfind("8859", 0) == 0) return "ISO-8859-" + s.substr(4);
        if (s == "65001") return "UTF-8";
        return "CP" + s;
    }
    return s;
}

std::string encoding_of_language_driver(unsigned char id) {
    struct Driver {
        unsigned char id;
        const char *encoding;
    };
    static constexpr Driver drivers[] = {
        {0x01, "CP437"},
        {0x02, "CP850"},
        {0x03, "CP1252"},
        {0x04, "MACINTOSH"},
        {0x08, "CP865"},
        {0x09, "CP437"},
        {0x0a, "CP850"},
        {0x0b, "CP437"},
        {0x0d, "CP437"},
        {0x0e, "CP850"},
        {0x0f, "CP437"},
        {0x10, "CP850"},
        {0x11, "CP437"},
        {0x12, "CP850"},
        {0x13, "CP932"},
        {0x14, "CP850"},
        {0x15, "CP437"},
        {0x16, "CP850"},
        {0x17, "CP865"},
        {0x18, "CP437"},
        {0x19, "CP437"},
        {0x1a, "CP850"},
        {0x1b, "CP437"},
        {0x1c, "CP863"},
        {0x1d, "CP850"},
        {0x1f, "CP852"},
        {0x22, "CP852"},
        {0x23, "CP852"},
        {0x24, "CP860"},
        {0x25, "CP850"},
        {0x26, "CP866"},
        {0x37, "CP850"},
        {0x40, "CP852"},
        {0x4d, "CP936"},
        {0x4e, "CP949"},
        {0x4f, "CP950"},
        {0x50, "CP874"},
        {0x57, "ISO-8859-1"},
        {0x58, "CP1252"},
        {0x59, "CP1252"},
        {0x64, "CP852"},
        {0x65, "CP866"},
        {0x66, "CP865"},
        {0x67, "CP861"},
        {0x6a, "CP737"},
        {0x6b, "CP857"},
        {0x6c, "CP863"},
        {0x78, "CP950"},
        {0x79, "CP949"},
        {0x7a, "CP936"},
        {0x7b, "CP932"},
        {0x7c, "CP874"},
        {0x7d, "CP1255"},
        {0x7e, "CP1256"},
        {0x86, "CP737"},
        {0x87, "CP852"},
        {0x88, "CP857"},
        {0x96, "MACCYRILLIC"},
        {0x97, "MACCENTRALEUROPE"},
        {0x98, "MACGREEK"},
        {0xc8, "CP1250"},
        {0xc9, "CP1251"},
        {0xca, "CP1254"},
        {0xcb, "CP1253"},
        {0xcc, "CP1257"},
    };
    for (const Driver &d : drivers)
        if (d.id == id) return d.encoding;
    return "";
}

}  // namespace vorpix::features
