// What every decoder throws when the data do not add up, and the record of
// where it was reading that the message then names.
#ifndef VORPIX_DECODE_ERROR_HPP
#define VORPIX_DECODE_ERROR_HPP

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <utility>

namespace vorpix {

// The data end before what they promise (a truncation: what the byte reader
// throws), or hold a count, length or offset that cannot be (a bad value).
class DecodeError : public std::exception {
public:
    [[gnu::cold]] static DecodeError truncated(size_t position, size_t wanted, size_t remaining) {
        return DecodeError(true, true, position, wanted, remaining,
                           "at byte " + std::to_string(position) + ": " + std::to_string(wanted) + " bytes needed, " +
                               std::to_string(remaining) + " remain");
    }
    // detail says what is wrong; position, when given, is the byte the
    // reading had reached.
    [[gnu::cold]] static DecodeError bad_value(std::string detail, long long position = -1) {
        return DecodeError(false, position >= 0, position < 0 ? 0 : static_cast<size_t>(position), 0, 0,
                           std::move(detail));
    }

    bool truncation() const { return truncation_; }
    bool has_position() const { return has_position_; }
    size_t position() const { return position_; }
    size_t wanted() const { return wanted_; }
    size_t remaining() const { return remaining_; }
    const std::string &detail() const { return detail_; }
    const char *what() const noexcept override { return detail_.c_str(); }

private:
    DecodeError(bool truncation, bool has_position, size_t position, size_t wanted, size_t remaining,
                std::string detail)
        : truncation_(truncation),
          has_position_(has_position),
          position_(position),
          wanted_(wanted),
          remaining_(remaining),
          detail_(std::move(detail)) {}

    bool truncation_, has_position_;
    size_t position_, wanted_, remaining_;
    std::string detail_;
};

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
