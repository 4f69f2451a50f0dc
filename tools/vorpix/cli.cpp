#include "cli.hpp"

#include "datafile.h"
#include "elog.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <iterator>
#include <limits>
#include <map>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace vorpix::cli {

Args::Args(int argc, char **argv, const std::set<std::string> &value_options) {
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (word.size() > 1 && word[0] == '-' &&
            !(std::isdigit(static_cast<unsigned char>(word[1])) || word[1] == '.')) {
            std::string name = word.substr(word[1] == '-' ? 2 : 1);
            std::string value;
            const auto equals = name.find('=');
            const bool inline_value = equals != std::string::npos;
            if (inline_value) value = name.substr(equals + 1), name.resize(equals);
            if (value_options.count(name)) {
                if (!inline_value) {
                    if (i + 1 >= argc) throw UsageError("option --" + name + " needs a value");
                    value = argv[++i];
                }
                values_[name] = value;
            } else {
                if (inline_value) throw UsageError("option --" + name + " takes no value");
                flags_.insert(name);
            }
        } else {
            positional_.push_back(word);
        }
    }
}

std::string Args::get(const std::string &name, const std::string &fallback) const {
    auto it = values_.find(name);
    return it == values_.end() ? fallback : it->second;
}

double Args::number(const std::string &name, double fallback) const {
    return has(name) ? parse_number(get(name), "--" + name) : fallback;
}

long Args::integer(const std::string &name, long fallback) const {
    if (!has(name)) return fallback;
    const std::string text = get(name);
    long value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        throw UsageError("--" + name + " wants a whole number, not \"" + text + "\"");
    return value;
}

void Args::allow_flags(const std::set<std::string> &known) const {
    for (const auto &f : flags_)
        if (!known.count(f)) throw UsageError("unknown option --" + f);
}

double parse_number(const std::string &text, const std::string &what) {
    errno = 0;
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(value))
        throw UsageError(what + " wants a number, not \"" + text + "\"");
    return value;
}

Box parse_box(const std::string &text) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t slash = text.find('/', start);
        parts.push_back(text.substr(start, slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    if (parts.size() != 4) throw UsageError("a box is WEST/EAST/SOUTH/NORTH in degrees, not \"" + text + "\"");
    Box box{parse_number(parts[0], "the box's west edge"), parse_number(parts[1], "the box's east edge"),
            parse_number(parts[2], "the box's south edge"), parse_number(parts[3], "the box's north edge")};
    if (box.south > box.north) throw UsageError("the box's south edge lies north of its north edge");
    if (box.south < -90 || box.north > 90)
        throw UsageError("the box's latitudes lie within -90 to 90, not \"" + text + "\"");
    return box;
}

namespace {

constexpr std::pair<Format, const char *> format_flags[] = {{Format::GeoJson, "geojson"},
                                                            {Format::Seq, "seq"},
                                                            {Format::Svg, "svg"},
                                                            {Format::Png, "png"},
                                                            {Format::List, "list"}};

// The format an output file's extension names, as image and GIS tools take
// it: map.png is a PNG and map.svg an SVG.
std::optional<Format> format_of_name(const std::string &path) {
    const size_t dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.') return std::nullopt;
    std::string ext = path.substr(dot + 1);
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    static const std::pair<const char *, Format> names[] = {
        {"geojson", Format::GeoJson}, {"json", Format::GeoJson}, {"geojsons", Format::Seq}, {"geojsonseq", Format::Seq},
        {"svg", Format::Svg},         {"png", Format::Png},      {"txt", Format::List}};
    for (const auto &[name, format] : names)
        if (ext == name) return format;
    return std::nullopt;
}

}  // namespace

Format choose_format(const Args &args, std::initializer_list<Format> allowed) {
    std::vector<std::string> given;
    Format chosen = *allowed.begin();
    for (const auto &[format, flag] : format_flags) {
        if (!args.flag(flag)) continue;
        if (std::find(allowed.begin(), allowed.end(), format) == allowed.end())
            throw UsageError(std::string("unknown option --") + flag);
        given.push_back(std::string("--") + flag);
        chosen = format;
    }
    if (given.size() > 1) throw UsageError("choose one output format, not " + given[0] + " and " + given[1]);
    if (given.empty() && args.has("o"))
        if (const auto named = format_of_name(args.get("o"));
            named && std::find(allowed.begin(), allowed.end(), *named) != allowed.end())
            chosen = *named;
    return chosen;
}

std::optional<Box> box_option(const Args &args) {
    if (!args.has("box")) return std::nullopt;
    return parse_box(args.get("box"));
}

namespace {

constexpr const char *resolution_names[] = {"crude", "low", "intermediate", "high", "full"};
constexpr const char *resolution_letters = "clihf";

}  // namespace

std::string parse_resolution(const std::string &text, const std::string &option) {
    for (int i = 0; i < 5; ++i)
        if (text == std::string(1, resolution_letters[i]) || text == resolution_names[i])
            return std::string(1, resolution_letters[i]);
    throw UsageError(option + " is one of c, l, i, h, f (crude, low, intermediate, high, full), not \"" + text + "\"");
}

const char *map_kind(const std::string &relative) {
    return relative.find("gshhs_") != std::string::npos   ? "shorelines"
           : relative.find("river_") != std::string::npos ? "rivers"
                                                          : "borders";
}

std::string missing_map_file(const std::string &relative) {
    const size_t dot = relative.rfind('.');
    const char letter = dot != std::string::npos && dot > 0 ? relative[dot - 1] : '?';
    const char *found = std::strchr(resolution_letters, letter);
    const std::string resolution = found && letter ? resolution_names[found - resolution_letters] : "unknown";
    const std::string what = map_kind(relative);
    return relative + ": the " + resolution + "-resolution " + what + " are not installed (" + install_command +
           " installs them; VORPIX_DATA_PATH adds directories to search)";
}

void check_kinds(const std::string &kinds, KindSet set) {
    const bool shore = set == KindSet::Shorelines;
    const std::string letters = shore ? "cf" : "pr";
    // The levels that exist of each kind: shorelines 1-4, borders 1-3, rivers 1-10.
    const auto levels_of = [shore](char letter) { return shore ? 0xfu : letter == 'p' ? 0x7u : 0x3ffu; };
    std::istringstream words(kinds);
    int count = 0;
    for (std::string word; words >> word; ++count) {
        const std::string quoted = "the kind \"" + word + "\"";
        if (letters.find(word[0]) == std::string::npos)
            throw UsageError(quoted + " names no kind: its first letter is one of " +
                             (shore ? "c (shorelines) or f (filled land and water)" : "p (borders) or r (rivers)"));
        unsigned long mask = 0;
        if (word.size() > 2) {
            const std::string digits = word.substr(2);
            if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 10 ||
                (mask = std::stoul(digits)) > 0xffffffffu)
                throw UsageError(quoted + " wants a level bitmap of digits after its letter and separator");
        } else if (word.size() == 2) {
            throw UsageError(quoted + " wants a level bitmap of digits after its letter and separator");
        }
        if (shore && mask == 0) continue;  // every level
        if (!(mask & levels_of(word[0])))
            throw UsageError(quoted + " selects no level: bit k selects level k+1, " +
                             (shore            ? "levels 1 to 4"
                              : word[0] == 'p' ? "levels 1 to 3"
                                               : "levels 1 to 10") +
                             " exist");
    }
    if (count == 0) throw UsageError("--kinds names no kind");
    if (count > (shore ? 2 : 4))
        throw UsageError(shore ? "--kinds takes at most two words" : "--kinds takes at most four words");
}

std::string printable(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // C1 controls are U+0080 to U+009F: 0xC2 0x80 to 0xC2 0x9F in UTF-8.
        const bool c1 = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c >= 0x20 && c != 0x7F && !c1) {
            out += text[i];
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", c1 ? static_cast<unsigned char>(text[++i]) : c);
        out += escaped;
    }
    return out;
}

void print_warning(const std::string &line) { std::fprintf(stderr, "vorpix: warning: %s\n", printable(line).c_str()); }

std::string without_function(const std::string &message) {
    const auto colon = message.find(": ");
    std::string text = colon == std::string::npos ? message : message.substr(colon + 2);
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

OutputStream::OutputStream(Output &out) : out_(out) {
    const cookie_io_functions_t functions{nullptr, &OutputStream::write, nullptr, nullptr};
    file_ = fopencookie(this, "w", functions);
    if (!file_) throw InputError(out.path() + ": cannot write: " + std::strerror(errno));
    std::setvbuf(file_, nullptr, _IOFBF, 1 << 16);
}

OutputStream::~OutputStream() {
    closing_ = true;
    std::fclose(file_);
}

ssize_t OutputStream::write(void *cookie, const char *data, size_t size) {
    auto *self = static_cast<OutputStream *>(cookie);
    if (self->closing_) return static_cast<ssize_t>(size);
    if (self->failure_) return 0;
    try {
        self->out_.append(data, size);
        return static_cast<ssize_t>(size);
    } catch (...) {
        // Thrown again where the stream is used; stdio sees a failed write.
        self->failure_ = std::current_exception();
        errno = EIO;
        return 0;
    }
}

void OutputStream::fail() {
    if (failure_) std::rethrow_exception(failure_);
    throw InputError((out_.path().empty() || out_.path() == "-" ? "standard output" : out_.path()) +
                     ": cannot write: " + std::strerror(errno));
}

void OutputStream::print(const std::function<void(FILE *)> &list) {
    try {
        list(file_);
    } catch (...) {
        if (failure_) std::rethrow_exception(failure_);
        throw;
    }
    if (failure_ || std::ferror(file_)) fail();
}

void OutputStream::flush() {
    if (std::fflush(file_) != 0 || failure_ || std::ferror(file_)) fail();
}

std::string json_string(const std::string &s) {
    std::string out;
    features::json_string(s, out);
    return out;
}

std::string format_coordinate(double value) {
    if (!std::isfinite(value)) return "null";
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(value));
    if (ec != std::errc()) return "null";
    return std::string(buffer, end);
}

namespace {

// Each file read, by device and inode, with the names it was read by.
std::map<std::pair<dev_t, ino_t>, std::vector<std::string>> &inputs() {
    static std::map<std::pair<dev_t, ino_t>, std::vector<std::string>> files;
    return files;
}

std::string &last_read() {
    static std::string name;
    return name;
}

void remember(const struct stat &st, const std::string &path) {
    inputs()[{st.st_dev, st.st_ino}].push_back(path);
    last_read() = path;
}

}  // namespace

void note_input(const std::string &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) remember(st, path);
}

void note_data_file(const std::string &relative) {
    char *path = datafile(nullptr, relative.c_str());
    if (!path) return;
    const std::string found = path;
    std::free(path);
    note_input(found);
}

const std::string &last_input() { return last_read(); }

std::string input_name_of(const std::string &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return "";
    const auto it = inputs().find({st.st_dev, st.st_ino});
    if (it == inputs().end()) return "";
    for (const std::string &name : it->second)
        if (name == path) return name;
    return it->second.front();
}

}  // namespace vorpix::cli
