// dBase attributes as JSON values, converted to UTF-8.
#include "dbase_values.hpp"

#include "cli.hpp"
#include "esri.h"
#include "esri_release.hpp"

#include "arrays.h"

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

namespace vorpix::cli {

TextConverter::TextConverter(const std::string &encoding, std::string file)
    : encoding_(encoding), file_(std::move(file)) {
    iconv_t cd = iconv_open("UTF-8", encoding.c_str());
    // NOLINTNEXTLINE(performance-no-int-to-ptr): iconv_open says it failed so.
    if (cd == reinterpret_cast<iconv_t>(-1)) throw InputError(file_ + ": unknown text encoding \"" + encoding + "\"");
    cd_ = cd;
}

TextConverter::~TextConverter() { iconv_close(static_cast<iconv_t>(cd_)); }

std::string TextConverter::operator()(std::string_view text) {
    auto cd = static_cast<iconv_t>(cd_);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string out;
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
        out += "\xEF\xBF\xBD";
        ++in;
        --in_left;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (!warned_) {
            warned_ = true;
            std::fprintf(stderr, "vorpix: warning: %s: text that is not %s; such bytes are written as U+FFFD\n",
                         file_.c_str(), encoding_.c_str());
        }
    }
    return out;
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

std::string file_beside(const std::string &path, const std::vector<std::string> &extensions) {
    const auto dot = path.find_last_of('.');
    const std::string stem = dot == std::string::npos || path.find('/', dot) != std::string::npos ? path
                                                                                                  : path.substr(0, dot);
    for (const std::string &ext : extensions)
        if (std::filesystem::is_regular_file(stem + ext)) return stem + ext;
    return "";
}

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

namespace {

// A code page's name is a few bytes; the rest of a long .cpg is not read.
std::string read_small_file(const std::string &path) {
    bool whole = false;
    return read_side_file(path, 256, &whole);
}

std::string trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return "";
    const auto last = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(first, last - first + 1));
}

std::string json_number(std::string text) {
    if (text.empty() || text.find_first_not_of('*') == std::string::npos) return "null";  // blank or overflowed
    if (text[0] == '+') text.erase(0, 1);
    const bool negative = !text.empty() && text[0] == '-';
    std::string digits = negative ? text.substr(1) : text;
    if (all_digits(digits)) {
        digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
        return (negative && digits != "0" ? "-" : "") + digits;
    }
    double v;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) return "null";
    char buffer[32];
    auto [e, ec2] = std::to_chars(buffer, buffer + sizeof buffer, v);
    std::string out(buffer, ec2 == std::errc() ? e : buffer);
    // A number written with a decimal point stays one that reads as a float.
    if (out.find_first_of(".eE") == std::string::npos && out.find_first_of("in") == std::string::npos) out += ".0";
    return out;
}

}  // namespace

DbaseTable::DbaseTable(const std::string &path, std::vector<unsigned char> bytes, const std::string &fallback)
    : bytes_(std::move(bytes)) {
    ESRIDBASEStr dbf{};
    {
        LogCollector log;
        const int status = esri_decode_dbase_file_sized(&dbf, bytes_.data(), static_cast<long>(bytes_.size()));
        if (status < 0) {
            esri::release_dbase_file(&dbf);
            std::string why = without_function(log.first());
            if (!why.empty() && why.back() == '.') why.pop_back();
            throw InputError(path + ": " + why);
        }
    }
    numrecs_ = dbf.hdr.numrecs;
    width_ = dbf.hdr.numbytesrec;
    // The records start where the header length says, which is not always
    // just after the field terminator: some writers pad the header. The
    // length also bounds the field descriptors read. A length that leaves no
    // room for a header, or runs past the file, is refused, as GDAL and
    // pyshp refuse it.
    header_ = bytes_[8] | bytes_[9] << 8;
    const auto refuse = [&](const std::string &why) {
        esri::release_dbase_file(&dbf);
        throw InputError(path + ": " + why);
    };
    if (header_ <= 32)
        refuse("header length of " + std::to_string(header_) +
               " bytes, shorter than the 33 bytes of a header without fields");
    if (static_cast<size_t>(header_) > bytes_.size())
        refuse("header length of " + std::to_string(header_) + " bytes runs past the end of the file, which has " +
               std::to_string(bytes_.size()) + " bytes");
    if (width_ <= 0) refuse("record length of 0 bytes leaves no room for the deletion flag");
    const int descriptors = std::min(cnttbl(dbf.field_descriptors), (header_ - 32) / 32);
    std::vector<std::string> raw_names;
    int offset = 1;
    for (int i = 0; i < descriptors; ++i) {
        const auto *d = static_cast<const ESRIDBASEFIELDDESCRStr *>(gettbl(dbf.field_descriptors, i));
        raw_names.emplace_back(d->name, strnlen(d->name, sizeof d->name));
        fields_.push_back({"", d->type, offset, d->length, d->count});
        offset += d->length;
    }
    if (offset > width_)
        refuse("the fields take " + std::to_string(offset) + " bytes of each record, more than the record length of " +
               std::to_string(width_));
    const auto records_end = static_cast<unsigned long long>(header_) +
                             static_cast<unsigned long long>(numrecs_) * static_cast<unsigned long long>(width_);
    if (records_end > bytes_.size())
        refuse(std::to_string(numrecs_) + " records of " + std::to_string(width_) + " bytes from byte " +
               std::to_string(header_) + " run past the end of the file, which has " + std::to_string(bytes_.size()) +
               " bytes");
    const unsigned char langid = dbf.hdr.langid;
    esri::release_dbase_file(&dbf);

    std::string encoding;
    const std::string cpg = file_beside(path, {".cpg", ".CPG"});
    if (!cpg.empty()) {
        encoding = encoding_of_cpg(read_small_file(cpg));
        if (encoding.empty()) std::fprintf(stderr, "vorpix: warning: %s: names no code page\n", cpg.c_str());
    }
    if (encoding.empty()) encoding = encoding_of_language_driver(langid);
    if (encoding.empty()) encoding = fallback;
    if (encoding.empty()) encoding = "ISO-8859-1";
    try {
        text_ = std::make_unique<TextConverter>(encoding, path);
    } catch (const InputError &) {
        if (encoding == fallback || fallback.empty()) throw;
        std::fprintf(stderr, "vorpix: warning: %s: iconv does not know the code page %s; reading %s\n", path.c_str(),
                     encoding.c_str(), fallback.c_str());
        text_ = std::make_unique<TextConverter>(fallback, path);
    }
    for (size_t i = 0; i < fields_.size(); ++i) fields_[i].name = (*text_)(trimmed(raw_names[i]));
}

// Bytes past the end of the file read as blanks.
std::string_view DbaseTable::raw(int recno, const DbaseField &f) const {
    const size_t start = static_cast<size_t>(header_) + static_cast<size_t>(recno) * static_cast<size_t>(width_) +
                         static_cast<size_t>(f.offset);
    const size_t end = std::min(start + static_cast<size_t>(std::min(f.length, width_ - f.offset)), bytes_.size());
    if (f.offset >= width_ || start >= end) return {};
    const char *p = reinterpret_cast<const char *>(bytes_.data()) + start;
    return std::string_view(p, strnlen(p, end - start));
}

bool DbaseTable::deleted(int recno) const {
    const size_t at = static_cast<size_t>(header_) + static_cast<size_t>(recno) * static_cast<size_t>(width_);
    return at < bytes_.size() && bytes_[at] == '*';
}

std::string DbaseTable::value(int recno, const DbaseField &f) {
    const std::string text = trimmed(raw(recno, f));
    switch (f.type) {
    case 'N':
    case 'F': return json_number(text);
    case 'L':
        if (text.size() == 1 && std::strchr("TtYy", text[0])) return "true";
        if (text.size() == 1 && std::strchr("FfNn", text[0])) return "false";
        return "null";
    case 'D':
        if (text.size() == 8 && all_digits(text) && text != "00000000")
            return "\"" + text.substr(0, 4) + "-" + text.substr(4, 2) + "-" + text.substr(6, 2) + "\"";
        return "null";
    default: return text.empty() ? "null" : json_string((*text_)(text));
    }
}

std::string DbaseTable::members(int recno) {
    std::string out;
    if (recno < 0 || recno >= numrecs_) return out;
    for (const DbaseField &f : fields_) out += "," + json_string(f.name) + ":" + value(recno, f);
    return out;
}

std::string DbaseTable::label(int recno) {
    if (recno < 0 || recno >= numrecs_) return "";
    for (const DbaseField &f : fields_)
        if (f.type == 'C') return (*text_)(trimmed(raw(recno, f)));
    return "";
}

}  // namespace vorpix::cli
