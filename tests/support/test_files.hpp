// Temporary directories, file helpers and running external programs in tests.
#ifndef VORPIX_TEST_FILES_HPP
#define VORPIX_TEST_FILES_HPP

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace vorpix::test {

inline std::string fixture_path(const std::string &relative) { return std::string(VORPIX_FIXTURES) + "/" + relative; }

inline std::vector<unsigned char> read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string read_text(const std::string &path) {
    auto bytes = read_file(path);
    return {bytes.begin(), bytes.end()};
}

inline void write_file(const std::string &path, const void *data, size_t size) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(static_cast<const char *>(data), static_cast<std::streamsize>(size));
    if (!out) throw std::runtime_error("cannot write " + path);
}

// A directory under the system's temporary directory, removed with its contents.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vorpix-test-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &relative) const { return path_ + "/" + relative; }

private:
    std::string path_;
};

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const std::string &value) : name_(name) {
        if (const char *old = std::getenv(name)) old_ = old, had_ = true;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (had_) setenv(name_, old_.c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char *name_;
    std::string old_;
    bool had_ = false;
};

// A data directory that VORPIX_DATA_PATH names while it lives, holding map
// files under maps/vorpix/: each given as its name there and a fixture.
class DataRoot {
public:
    DataRoot(std::initializer_list<std::pair<std::string, std::string>> fixtures = {})
        : env_("VORPIX_DATA_PATH", dir_.path()) {
        for (const auto &[name, fixture] : fixtures) add_fixture(name, fixture);
    }
    void add(const std::string &name, const std::vector<unsigned char> &bytes) const {
        write_file(path(name), bytes.data(), bytes.size());
    }
    void add_fixture(const std::string &name, const std::string &fixture) const {
        add(name, read_file(fixture_path(fixture)));
    }
    std::string path(const std::string &name) const { return dir_.file("maps/vorpix/" + name); }
    const std::string &root() const { return dir_.path(); }

private:
    TempDir dir_;
    ScopedEnv env_;
};

// Copies of FROM.EXT as TO.EXT for each extension: a shapefile and its side files.
inline void copy_with_sides(const std::string &from, const std::string &to,
                            std::initializer_list<const char *> extensions = {".shp", ".shx", ".dbf"}) {
    for (const char *ext : extensions) std::filesystem::copy_file(from + ext, to + ext);
}

// The big-endian word at at.
inline std::uint32_t big32(const std::vector<unsigned char> &b, size_t at) {
    return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 | std::uint32_t{b[at + 2]} << 8 | b[at + 3];
}

struct CommandResult {
    int status;
    std::string output;  // standard output
};

// Runs a command through sh: its standard output, and its exit status (-1
// when it did not exit). Standard error is left to the command's own
// redirections ("2>&1" to capture it).
inline CommandResult run_command(const std::string &command) {
    CommandResult result{-1, {}};
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// Runs check in a child process that an alarm ends after seconds: true
// when check returned true in time (a call that waits for ever fails the
// test instead of hanging it).
template <typename Check>
bool true_within(unsigned seconds, Check check) {
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        alarm(seconds);
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Calls check(bytes, cut) for each cut from `from` up to the whole length
// (included when with_whole), bytes being a heap block of exactly the first
// cut bytes, so that the address sanitizer sees a read past the cut.
template <typename Check>
void for_each_cut(const std::vector<unsigned char> &whole, size_t from, bool with_whole, Check check) {
    for (size_t cut = from; cut < whole.size() + (with_whole ? 1 : 0); ++cut) {
        const std::unique_ptr<unsigned char[]> bytes(new unsigned char[cut ? cut : 1]);
        std::copy(whole.begin(), whole.begin() + static_cast<long>(cut), bytes.get());
        check(bytes.get(), cut);
    }
}

// How many times what occurs in text, overlapping occurrences included.
inline size_t count_of(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The lines of a text, without their ends.
inline std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return lines;
}

inline std::string python_command() { return VORPIX_PYTHON; }
inline std::string esri_fixture(const std::string &name) { return fixture_path("esri/" + name); }

// Whether a program is on the path, and whether Python imports a module.
inline bool have_program(const std::string &name) {
    return run_command("command -v " + name + " >/dev/null").status == 0;
}
inline bool have_python_module(const std::string &module) {
    return run_command(python_command() + " -c 'import " + module + "' 2>/dev/null").status == 0;
}
#ifdef VORPIX_TOOL
inline std::string tool_command() { return VORPIX_TOOL; }
#endif

}  // namespace vorpix::test

#endif
