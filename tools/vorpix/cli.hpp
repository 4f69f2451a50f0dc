// What the commands of the vorpix tool share: arguments, output, errors.
#ifndef VORPIX_CLI_HPP
#define VORPIX_CLI_HPP

#include "vorpix/library_log.hpp"
#include "vorpix/features.hpp"

#include <cstdio>
#include <exception>
#include <functional>
#include <initializer_list>
#include <optional>
#include <memory>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace vorpix::cli {

// A wrong command line: printed with the command's usage hint, exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// Bad input: printed as one line "vorpix: WHAT", exit status 1. Name the file.
// The feature layer's errors are the same type.
using InputError = features::Error;

// Options are "--name value" (or "--name=value") for the names in
// value_options, "--name" alone for any other; everything else is positional.
class Args {
public:
    Args(int argc, char **argv, const std::set<std::string> &value_options);
    bool flag(const std::string &name) const { return flags_.count(name) != 0; }
    bool has(const std::string &name) const { return values_.count(name) != 0; }
    std::string get(const std::string &name, const std::string &fallback = "") const;
    double number(const std::string &name, double fallback) const;
    long integer(const std::string &name, long fallback) const;
    const std::vector<std::string> &positional() const { return positional_; }
    // Fails on options that the command does not know.
    void allow_flags(const std::set<std::string> &known) const;

private:
    std::map<std::string, std::string> values_;
    std::set<std::string> flags_;
    std::vector<std::string> positional_;
};

double parse_number(const std::string &text, const std::string &what);
// "W/E/S/N" in degrees.
using Box = features::Box;
Box parse_box(const std::string &text);

// The output formats of the commands, one at a time: each is a flag of its
// own name (--geojson, --seq, --svg, --png, --list).
enum class Format { GeoJson, Seq, Svg, Png, List };
// The format that args name among allowed; when none is named, the one the
// extension of -o names (.geojson or .json, .geojsons, .svg, .png, .txt)
// when the command offers it, else the first allowed. Two at once, or one
// the command does not offer, is a usage error.
Format choose_format(const Args &args, std::initializer_list<Format> allowed);
// The --box option when given.
std::optional<Box> box_option(const Args &args);

// A resolution given to option as c, l, i, h or f, or its full name; the letter.
std::string parse_resolution(const std::string &text, const std::string &option);

// The command that installs the map files of every resolution.
inline constexpr const char *install_command = "scripts/install-high-resolutions.sh";
// The one line for a map file (a name such as maps/vorpix/gshhs_h.b) that no
// data directory holds: which resolution and kind are missing, and how to
// install them.
std::string missing_map_file(const std::string &relative);
// "shorelines", "borders" or "rivers": what a map file's name holds.
const char *map_kind(const std::string &relative);

// Checks the words of --kinds: each names a kind of the set (c and f for
// shorelines, p and r for borders and rivers) and selects a level that
// exists; a shoreline bitmap of 0 selects every level. At most two shoreline
// words, four of borders and rivers, as the library reads them.
enum class KindSet { Shorelines, Lines };
void check_kinds(const std::string &kinds, KindSet set);

// A command's output, to the -o file or standard output ("" or "-"),
// written as it comes in pieces of bounded size. A file is written whole or
// not at all: the pieces go to a temporary file that replaces it at commit,
// and output never committed (the command failed) leaves no trace. Standard
// output takes the pieces as they come.
class Output {
public:
    explicit Output(std::string path);
    ~Output();
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;
    void append(std::string_view s);
    void append(const char *data, size_t size) { append(std::string_view(data, size)); }
    void commit();
    const std::string &path() const { return path_; }

private:
    struct File;
    void flush();
    std::string path_;
    std::string text_;
    std::unique_ptr<File> file_;
    bool flushed_ = false;
};
// Writes bytes as the file path. A file that the command reads is refused
// (see note_input). A regular file, or a new one, is replaced
// whole through a temporary file made exclusively in its directory, keeping
// its mode (new files get 0666 less the umask); the temporary is unnamed until
// complete where the file system allows, and is removed on failure and when
// SIGHUP, SIGINT, SIGQUIT, SIGTERM or SIGXFSZ ends the process.
// A symbolic link is followed and the file it names replaced, the link kept.
// A device or FIFO is written directly. A file without write permission is
// refused; so is one with no write bit at all even when root runs the tool.
void write_output_file(const std::string &path, const std::string &bytes);
// Refuses, as write_output_file does, to write over the file that path names
// (through links): one the command reads, or one without write permission.
// A path that names no file yet passes.
void check_may_replace(const std::string &path);
// Writes and flushes bytes to standard output.
void write_stdout(const std::string &bytes);
// Closes standard output at the end of a successful run: a write that failed
// unnoticed until now gives a message and a failing status.
int close_stdout(int status);

// A message as it may reach a terminal: text from files (names, code pages)
// with its control characters (C0, DEL, C1) written as \xHH, so that no
// file can move the cursor, retitle or clear the user's terminal.
std::string printable(const std::string &text);
// "vorpix: warning: LINE" on standard error, printable.
void print_warning(const std::string &line);

// Collects library log messages while in scope instead of printing them:
// the feature layer's catcher (first(), lines(), reason(), describe()).
using LogCollector = features::LibraryLog;

// A library message as the tool shows it after a file name: without the
// reporting function's "name: " prefix and without the closing full stop.
std::string without_function(const std::string &message);

// A stdio stream into an Output, for the listings that the library and the
// feature layer print: what they write reaches the output each time the
// stream's buffer fills, so no listing is ever held whole.
class OutputStream {
public:
    explicit OutputStream(Output &out);
    // Whatever is still buffered is dropped: output that was not flushed
    // belongs to a listing that failed.
    ~OutputStream();
    OutputStream(const OutputStream &) = delete;
    OutputStream &operator=(const OutputStream &) = delete;
    // Runs list on the stream. When the output failed meanwhile (a full
    // disk, a closed pipe), that failure is thrown rather than what list
    // made of the stream's error.
    void print(const std::function<void(FILE *)> &list);
    // Hands what the stream holds to the output.
    void flush();

private:
    static ssize_t write(void *cookie, const char *data, size_t size);
    [[noreturn]] void fail();
    Output &out_;
    FILE *file_ = nullptr;
    std::exception_ptr failure_;
    bool closing_ = false;
};

std::string json_string(const std::string &s);
std::string format_coordinate(double value);  // shortest text that reads back as the float

// The files a command reads, by device and inode, so that its output never
// replaces one of them under any name. Every reader notes its files here
// (the feature layer through its readers' opened callbacks); a path that
// names no file is passed over.
void note_input(const std::string &path);
// The file noted last ("" before any): what a run that ran out of memory was
// working on.
const std::string &last_input();
// The data file that the library finds for a relative name such as
// maps/vorpix/gshhs_l.b, noted as an input.
void note_data_file(const std::string &relative);
// The name under which the file that path names (through links) was noted as
// an input: path itself when it was noted so, else the first name noted; ""
// when it is no input.
std::string input_name_of(const std::string &path);

}  // namespace vorpix::cli

#endif
