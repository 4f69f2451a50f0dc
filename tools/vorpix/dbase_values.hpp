// The attributes of a dBase table as JSON values: every field whatever its
// type, numbers as numbers, blanks as null, text converted to UTF-8 from the
// table's code page.
#ifndef VORPIX_DBASE_VALUES_HPP
#define VORPIX_DBASE_VALUES_HPP

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vorpix::cli {

// Text in one encoding turned into valid UTF-8; bytes that do not convert
// become U+FFFD and one warning naming the file.
class TextConverter {
public:
    // Throws InputError when iconv does not know the encoding.
    TextConverter(const std::string &encoding, std::string file);
    ~TextConverter();
    TextConverter(const TextConverter &) = delete;
    TextConverter &operator=(const TextConverter &) = delete;
    std::string operator()(std::string_view text);
    const std::string &encoding() const { return encoding_; }

private:
    void *cd_;
    std::string encoding_, file_;
    bool warned_ = false;
};

// The first of path's companions (its name with one of the extensions in
// place of its own) that is a regular file, or "".
std::string file_beside(const std::string &path, const std::vector<std::string> &extensions);

// The code page named by a .cpg file's text ("UTF-8", "1252", "88591",
// "ANSI 1251"...) or by a dBase language-driver byte, as an iconv name; ""
// when it names none.
std::string encoding_of_cpg(std::string_view text);
std::string encoding_of_language_driver(unsigned char id);

struct DbaseField {
    std::string name;  // converted to UTF-8
    char type;
    int offset;  // from the record's first byte, the deletion flag
    int length;
    int decimals;
};

// A dBase table read from its bytes: the header and descriptors, then each
// record straight from its place in the file.
class DbaseTable {
public:
    // The encoding is the first known of: the .cpg file beside path, the
    // language-driver byte, fallback; else ISO-8859-1.
    DbaseTable(const std::string &path, std::vector<unsigned char> bytes, const std::string &fallback);
    int count() const { return numrecs_; }
    bool deleted(int recno) const;
    // The fields of a record as JSON object members, without braces, each
    // after a comma.
    std::string members(int recno);
    // The record's first character field, converted, for a picture's titles.
    std::string label(int recno);
    const std::string &encoding() const { return text_->encoding(); }

private:
    std::string_view raw(int recno, const DbaseField &f) const;
    std::string value(int recno, const DbaseField &f);
    std::vector<unsigned char> bytes_;
    std::vector<DbaseField> fields_;
    int numrecs_ = 0, header_ = 0, width_ = 0;
    std::unique_ptr<TextConverter> text_;
};

}  // namespace vorpix::cli

#endif
