// Where the tool writes (-o FILE of every kind, standard output) and how it
// reports input it cannot read: one line that names the file first.
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using vorpix::test::fixture_path;
using vorpix::test::lines_of;
using vorpix::test::read_text;
using vorpix::test::run_command;
using vorpix::test::TempDir;
using vorpix::test::tool_command;

struct ToolRun {
    int status;
    std::string out;
    std::vector<std::string> errors;  // the lines on standard error
};

// Runs "vorpix ARGUMENTS" in directory `where` through sh, after `setup`
// (variables, ulimit, traps). A tool ended by signal N gives status 128 + N.
ToolRun run_tool(const std::string &arguments, const std::string &where, const std::string &setup = "") {
    static TempDir scratch;
    const std::string errors = scratch.file("stderr");
    const auto r = run_command("cd '" + where + "' && { " + setup + " " + tool_command() + " " + arguments + " 2>'" +
                               errors + "'; status=$?; }; exit $status");
    return {r.status, r.output, lines_of(read_text(errors))};
}

// The listing that "vorpix info" writes for the input used below; the tool
// makes it without a temporary file of its own.
const std::string input = fixture_path("netcdf/types.nc");

const std::string &listing() {
    static const std::string text = [] {
        const ToolRun r = run_tool("info " + input, "/");
        EXPECT_EQ(r.status, 0);
        EXPECT_GT(r.out.size(), 1024u);  // more than the 512 bytes of the file size limit below
        return r.out;
    }();
    return text;
}

struct stat stat_of(const std::string &path, bool follow = true) {
    struct stat st {};
    EXPECT_EQ(follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st), 0) << path;
    return st;
}

std::set<std::string> names_in(const std::string &directory) {
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(directory)) names.insert(entry.path().filename().string());
    return names;
}

void put(const std::string &path, const std::string &text, mode_t mode) {
    vorpix::test::write_file(path, text.data(), text.size());
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

// A new file gets the mode the umask allows, a replaced one keeps its mode,
// and one that nobody may write is refused and kept, also when root (whom
// permission bits do not stop) runs the tool, as the test suite does in CI.
TEST(ToolOutput, ModesOfNewReplacedAndReadOnlyFiles) {
    struct Case {
        const char *umask;
        int existing;  // the file's mode before, -1 for no file
        mode_t expected;
    };
    const Case cases[] = {{"022", -1, 0644},   {"077", -1, 0600},   {"027", -1, 0640},   {"022", 0600, 0600},
                          {"077", 0640, 0640}, {"022", 0604, 0604}, {"022", 0755, 0755}, {"022", 0660, 0660},
                          {"022", 0444, 0444}, {"022", 0400, 0400}, {"022", 0000, 0000}, {"022", 0555, 0555}};
    for (const Case &c : cases) {
        if (c.existing == 0 && ::geteuid() != 0) continue;  // we could not read it back
        const bool refused = c.existing >= 0 && !(c.existing & 0200);
        std::ostringstream what;
        what << "umask " << c.umask << ", mode " << std::oct << c.existing;
        TempDir dir;
        if (c.existing >= 0) put(dir.file("out.txt"), "keep me\n", static_cast<mode_t>(c.existing));
        const ToolRun r = run_tool("info " + input + " -o out.txt", dir.path(), std::string("umask ") + c.umask + ";");
        EXPECT_EQ(r.status, refused ? 1 : 0) << what.str();
        EXPECT_EQ(r.errors, refused ? std::vector<std::string>{"vorpix: out.txt: cannot write: the file is read-only"}
                                    : std::vector<std::string>{})
            << what.str();
        EXPECT_EQ(read_text(dir.file("out.txt")), refused ? "keep me\n" : listing()) << what.str();
        EXPECT_EQ(stat_of(dir.file("out.txt")).st_mode & 07777, c.expected) << what.str();
        EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"out.txt"}) << what.str();
    }
}

// The temporary file used to be OUT.part-PID: a link planted there by someone
// else was followed, and the file it names overwritten.
TEST(ToolOutput, LinkPlantedAtAGuessableTemporaryNameIsLeftAlone) {
    TempDir dir;
    put(dir.file("victim"), "precious\n", 0644);
    const ToolRun r = run_tool("info " + input + " -o out.txt", dir.path(), "ln -s victim out.txt.part-$$ && exec");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(read_text(dir.file("victim")), "precious\n");
    EXPECT_EQ(read_text(dir.file("out.txt")), listing());
    EXPECT_EQ(names_in(dir.path()).size(), 3u);
}

struct LinkCase {
    const char *name;
    std::vector<std::pair<std::string, std::string>> links;  // link name, what it points to
    const char *target;                                      // relative to the test directory
    bool target_exists;
};

// A symbolic link stays a link; the file it names gets the output.
TEST(ToolOutput, SymbolicLinkIsWrittenThrough) {
    const std::vector<LinkCase> cases = {
        {"relative", {{"out.txt", "real/file.txt"}}, "real/file.txt", true},
        {"absolute", {{"out.txt", "@/real/file.txt"}}, "real/file.txt", true},
        {"chain across directories",
         {{"out.txt", "links/hop"}, {"links/hop", "../real/file.txt"}},
         "real/file.txt",
         true},
        {"dangling", {{"out.txt", "real/new.txt"}}, "real/new.txt", false},
    };
    for (const auto &c : cases) {
        TempDir dir;
        fs::create_directories(dir.file("real"));
        fs::create_directories(dir.file("links"));
        if (c.target_exists) put(dir.file(c.target), "old\n", 0640);
        for (const auto &[link, to] : c.links)
            fs::create_symlink(to[0] == '@' ? dir.path() + to.substr(1) : to, dir.file(link));
        const ToolRun r = run_tool("info " + input + " -o out.txt", dir.path(), "umask 022;");
        ASSERT_EQ(r.status, 0) << c.name;
        for (const auto &[link, to] : c.links) EXPECT_TRUE(fs::is_symlink(dir.file(link))) << c.name << ": " << link;
        EXPECT_EQ(read_text(dir.file(c.target)), listing()) << c.name;
        EXPECT_EQ(stat_of(dir.file(c.target)).st_mode & 07777, c.target_exists ? 0640u : 0644u) << c.name;
        const std::string file = fs::path(c.target).filename().string();
        EXPECT_EQ(names_in(dir.file("real")), std::set<std::string>{file}) << c.name;
    }
}

TEST(ToolOutput, LinkLoopIsReportedInOneLine) {
    TempDir dir;
    fs::create_symlink("b", dir.file("a"));
    fs::create_symlink("a", dir.file("b"));
    const ToolRun r = run_tool("info " + input + " -o a", dir.path());
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0], "vorpix: a: cannot write: Too many levels of symbolic links");
    EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"a", "b"}));
}

TEST(ToolOutput, NamedPipeIsWrittenDirectly) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
    const ToolRun r = run_tool("info " + input + " -o pipe", dir.path(), "timeout 20 cat pipe > got & ");
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(S_ISFIFO(stat_of(dir.file("pipe"), false).st_mode));
    // cat runs on in the background until it has read everything.
    for (int i = 0; i < 500 && read_text(dir.file("got")).size() < listing().size(); ++i) ::usleep(10000);
    EXPECT_EQ(read_text(dir.file("got")), listing());
    EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"got", "pipe"}));
}

// Replacing a device node with a regular file would break the machine for
// everyone; the tool writes into the device instead. Copies of the null and
// full devices made in a scratch directory (when we may make device nodes) go
// first: a tool that replaced them stops the test before /dev is touched.
TEST(ToolOutput, DevicesAreWrittenNotReplaced) {
    struct Device {
        std::string path;
        int status;
    };
    TempDir dir;
    std::vector<Device> devices;
    if (::mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 &&
        ::mknod(dir.file("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0 &&
        run_command("echo > '" + dir.file("null") + "'").status == 0)  // not on a nodev mount
        devices = {{dir.file("null"), 0}, {dir.file("full"), 1}};
    devices.push_back({"/dev/null", 0});
    devices.push_back({"/dev/full", 1});
    for (const auto &device : devices) {
        const struct stat before = stat_of(device.path, false);
        ASSERT_TRUE(S_ISCHR(before.st_mode)) << device.path;
        const ToolRun r = run_tool("info " + input + " -o " + device.path, "/");
        EXPECT_EQ(r.status, device.status) << device.path;
        const std::vector<std::string> errors = {"vorpix: " + device.path + ": cannot write: No space left on device"};
        EXPECT_EQ(r.errors, device.status == 0 ? std::vector<std::string>{} : errors) << device.path;
        const struct stat after = stat_of(device.path, false);
        ASSERT_TRUE(S_ISCHR(after.st_mode)) << device.path;
        ASSERT_EQ(after.st_rdev, before.st_rdev) << device.path;
        ASSERT_EQ(after.st_ino, before.st_ino) << device.path;
    }
}

// /dev/stdout and /dev/fd/1 lead through /proc to a pipe, which has no path.
TEST(ToolOutput, StandardOutputByNameIsWrittenInPlace) {
    for (const char *name : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
        const struct stat before = stat_of(name, false);
        const ToolRun r = run_tool("info " + input + " -o " + name, "/");
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_TRUE(r.errors.empty()) << name;
        EXPECT_EQ(r.out, listing()) << name;
        EXPECT_EQ(stat_of(name, false).st_ino, before.st_ino) << name;
    }
}

TEST(ToolOutput, DirectoryIsRefused) {
    TempDir dir;
    fs::create_directories(dir.file("sub"));
    const ToolRun r = run_tool("info " + input + " -o sub", dir.path());
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0], "vorpix: sub: cannot write: is a directory");
    EXPECT_TRUE(fs::is_empty(dir.file("sub")));
}

// The preloaded library that raises a signal in the middle of a write, and
// with no_tmpfile makes the tool name its temporary file from the start (as
// on file systems without unnamed files).
std::string preload(const std::string &signal, bool no_tmpfile) {
    return (signal.empty() ? "" : "VORPIX_TEST_SIGNAL=" + signal + " ") +
           (no_tmpfile ? "VORPIX_TEST_NO_TMPFILE=1 " : "") +
           "LD_PRELOAD=" VORPIX_SIGNAL_AT_SYNC " ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0";
}

bool unnamed_files_work(const std::string &directory) {
    const int fd = ::open(directory.c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (fd >= 0) ::close(fd);
    return fd >= 0 && ::access("/proc/self/fd", X_OK) == 0;
}

// The output goes to a temporary file first; the signal arrives while only
// that exists (the preloaded library raises it at the first fsync or rename).
// SIGKILL cannot be caught: only a file without a name survives it unseen.
TEST(ToolOutput, SignalDuringTheWriteLeavesNoTemporaryFile) {
    for (const bool no_tmpfile : {false, true}) {
        for (const int sig : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
            struct sigaction inherited {};
            ::sigaction(sig, nullptr, &inherited);
            if (inherited.sa_handler == SIG_IGN) continue;  // the tool keeps ignoring it (nohup)
            TempDir dir;
            if (sig == SIGKILL && (no_tmpfile || !unnamed_files_work(dir.path()))) continue;
            const std::string what = std::string(strsignal(sig)) + (no_tmpfile ? ", named temporary" : "");
            put(dir.file("out.txt"), "old\n", 0644);
            const ToolRun r = run_tool("info " + input + " -o out.txt", dir.path(),
                                       preload(std::to_string(sig), no_tmpfile));
            EXPECT_EQ(r.status, 128 + sig) << what;
            EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"out.txt"}) << what;
            EXPECT_EQ(read_text(dir.file("out.txt")), "old\n") << what;
        }
    }
}

// With a file size limit of 512 bytes the kernel stops the write half way:
// with SIGXFSZ, which ends the process, or with EFBIG when it is ignored.
TEST(ToolOutput, WriteStoppedHalfWayLeavesNoTemporaryFile) {
    struct Case {
        const char *limit;
        int status;
    };
    for (const bool no_tmpfile : {false, true}) {
        for (const Case c : {Case{"ulimit -f 1;", 128 + SIGXFSZ}, Case{"ulimit -f 1; trap '' XFSZ;", 1}}) {
            TempDir dir;
            const std::string what = std::string(c.limit) + (no_tmpfile ? " named temporary" : "");
            put(dir.file("out.txt"), "old\n", 0644);
            const ToolRun r = run_tool("info " + input + " -o out.txt", dir.path(), c.limit + preload("", no_tmpfile));
            EXPECT_EQ(r.status, c.status) << what;
            // (When the signal ends the tool, the shell says so on the same standard error.)
            if (c.status == 1) {
                EXPECT_EQ(r.errors, std::vector<std::string>{"vorpix: out.txt: cannot write: File too large"}) << what;
            }
            EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"out.txt"}) << what;
            EXPECT_EQ(read_text(dir.file("out.txt")), "old\n") << what;
        }
    }
}

// Standard output fails late (when the buffer is flushed or the descriptor
// closed); each way gives one line and a failing status.
TEST(ToolOutput, StandardOutputFailureIsAnError) {
    const std::vector<std::string> commands = {
        "info " + input + " > /dev/full",
        "info " + fixture_path("esri/nc.dbf") + " > /dev/full",
        "info " + fixture_path("dds/dxt1_64x32.dds") + " > /dev/full",
        "--help > /dev/full",
        "--version > /dev/full",
        "texture --help > /dev/full",
    };
    for (const auto &command : commands) {
        const ToolRun r = run_tool(command, "/");
        EXPECT_EQ(r.status, 1) << command;
        ASSERT_EQ(r.errors.size(), 1u) << command;
        EXPECT_EQ(r.errors[0], "vorpix: standard output: cannot write: No space left on device") << command;
    }
}

// Listings that the library prints go through a temporary file; a failure
// there is an error too, not a cut listing.
TEST(ToolOutput, ListingThatCannotBeHeldIsAnError) {
    for (const std::string &file : {fixture_path("dds/dxt1_64x32.dds"), fixture_path("esri/nc.dbf")}) {
        const ToolRun r = run_tool("info " + file, "/", "ulimit -f 1; trap '' XFSZ;");
        EXPECT_EQ(r.status, 1) << file;
        EXPECT_EQ(r.out, "") << file;
        ASSERT_EQ(r.errors.size(), 1u) << file;
        EXPECT_EQ(r.errors[0], "vorpix: temporary file for the listing: cannot write: File too large") << file;
    }
}

// Bad input of every kind, for each command that reads it: one line on
// standard error that starts with the file's name and says what is wrong in
// words, never with a function name, a C++ exception or a full stop.
struct BadInput {
    const char *name;
    std::string arguments;  // "%" stands for the file
    std::string data_path;  // VORPIX_DATA_PATH
    std::string file;       // as the user (or the data search) names it
    std::string message;    // the whole line when known, else ""
};

void make_inputs(const TempDir &dir) {
    fs::create_directories(dir.file("folder"));
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
    const auto head = [&](int bytes, const std::string &from, const std::string &to) {
        ASSERT_EQ(run_command("head -c " + std::to_string(bytes) + " '" + from + "' > '" + dir.file(to) + "'").status,
                  0);
    };
    const std::string source = VORPIX_SOURCE_DIR;
    head(1000, source + "/maps/vorpix/gshhs_c.b", "cut.b");
    head(200, fixture_path("esri/nc.shp"), "cut.shp");
    head(1500, fixture_path("dds/dxt1_64x32.dds"), "cut.dds");
    head(3000, source + "/maps/vorpix/binned_border_c.cdf", "cut.cdf");
    // The data directories: a shoreline file cut short, a border file whose
    // segments name points it does not have, one cut short, one with a bin
    // that names segments it does not have (ncgen made both).
    fs::create_directories(dir.file("data/maps/vorpix"));
    fs::create_directories(dir.file("cut-data/maps/vorpix"));
    head(1000, source + "/maps/vorpix/gshhs_c.b", "data/maps/vorpix/gshhs_c.b");
    fs::copy_file(fixture_path("netcdf/border_farpoints.nc"), dir.file("data/maps/vorpix/binned_border_c.cdf"));
    head(3000, source + "/maps/vorpix/binned_border_c.cdf", "cut-data/maps/vorpix/binned_border_c.cdf");
    fs::create_directories(dir.file("bin-data/maps/vorpix"));
    fs::copy_file(fixture_path("netcdf/border_binpast.nc"), dir.file("bin-data/maps/vorpix/binned_border_c.cdf"));
    // A DXT5 texture of 2^32-1 by 2^32-1 pixels, header only: level 0 needs 2^64 bytes.
    ASSERT_EQ(run_command(vorpix::test::python_command() +
                          " -c \"import struct, sys; sys.stdout.buffer.write(b'DDS ' + struct.pack('<18I', 124, "
                          "0x1007, 0xffffffff, 0xffffffff, 0, 0, 0, *[0] * 11) + struct.pack('<2I4s5I', 32, 4, "
                          "b'DXT5', 0, 0, 0, 0, 0) + struct.pack('<5I', 0x1000, 0, 0, 0, 0))\" > '" +
                          dir.file("huge.dds") + "'")
                  .status,
              0);
}

TEST(ToolMessages, BadInputGivesOneLineNamingTheFileFirst) {
    TempDir dir;
    make_inputs(dir);
    std::vector<BadInput> rows;
    const auto in_data = [&](const char *name, const std::string &arguments, const std::string &file) {
        rows.push_back({name, arguments, dir.file(file.substr(0, file.find('/'))), dir.file(file), ""});
    };
    for (const char *command : {"info %", "shapes %", "texture % -o out.png"}) {
        rows.push_back({"directory", command, "", "folder", "vorpix: folder: is a directory"});
        rows.push_back({"device", command, "", "/dev/zero",
                        "vorpix: /dev/zero: is a character device; vorpix reads regular files only"});
        rows.push_back(
            {"named pipe", command, "", "pipe", "vorpix: pipe: is a named pipe; vorpix reads regular files only"});
        rows.push_back(
            {"missing", command, "", "missing.shp", "vorpix: missing.shp: cannot open: No such file or directory"});
        rows.push_back({"below a file", command, "", "cut.shp/x", "vorpix: cut.shp/x: cannot open: Not a directory"});
    }
    rows.push_back({"cut shoreline file", "info %", "", "cut.b", ""});
    rows.push_back({"cut shapefile", "info %", "", "cut.shp", ""});
    rows.push_back({"cut shapefile", "shapes %", "", "cut.shp", ""});
    rows.push_back({"cut texture", "info %", "", "cut.dds", ""});
    rows.push_back({"cut texture", "texture % -o out.png", "", "cut.dds", ""});
    rows.push_back({"cut netCDF file", "info %", "", "cut.cdf", ""});
    rows.push_back({"texture of 2^64 bytes", "texture % -o out.png", "", "huge.dds",
                    "vorpix: huge.dds: truncated: mipmap level 0 needs 18446744073709551616 bytes at byte 128, 0 "
                    "remain"});
    for (const char *command : {"coast --res c --list", "coast --res c --svg", "coast --res c", "render --res c"})
        in_data("cut shoreline data", command, "data/maps/vorpix/gshhs_c.b");
    in_data("border points outside", "borders --res c --box -180/180/-90/90", "data/maps/vorpix/binned_border_c.cdf");
    in_data("border points outside", "render --res c --no-coast --borders", "data/maps/vorpix/binned_border_c.cdf");
    in_data("cut border data", "borders --res c --box 0/10/0/10", "cut-data/maps/vorpix/binned_border_c.cdf");
    for (const char *command : {"borders --res c --box -180/180/-90/90", "render --res c --no-coast --borders"})
        in_data("bin past the segments", command, "bin-data/maps/vorpix/binned_border_c.cdf");
    if (::geteuid() != 0) {  // root reads any file
        put(dir.file("secret.shp"), "x", 0);
        rows.push_back(
            {"unreadable", "info %", "", "secret.shp", "vorpix: secret.shp: cannot open: Permission denied"});
    }
    for (const auto &row : rows) {
        std::string arguments = row.arguments;
        if (const auto at = arguments.find('%'); at != std::string::npos) arguments.replace(at, 1, row.file);
        const ToolRun r = run_tool(arguments, dir.path(), "VORPIX_DATA_PATH='" + row.data_path + "' timeout 20");
        const std::string what = std::string(row.name) + ": vorpix " + arguments;
        EXPECT_EQ(r.status, 1) << what;
        EXPECT_EQ(r.errors.size(), 1u) << what << "\n" << ::testing::PrintToString(r.errors);
        if (r.errors.size() != 1) continue;
        const std::string &line = r.errors[0];
        if (!row.message.empty()) {
            EXPECT_EQ(line, row.message) << what;
        }
        EXPECT_EQ(line.rfind("vorpix: " + row.file + ": ", 0), 0u) << what << "\n" << line;
        for (const char *internal :
             {"_sized", "::", "basic_filebuf", "bad_alloc", "gshhs", "gmtmap", "netcdf_", "esri_", "dds_", ") error"})
            EXPECT_EQ(line.find(internal, 8 + row.file.size()), std::string::npos) << what << "\n" << line;
        EXPECT_NE(line.back(), '.') << what << "\n" << line;
        EXPECT_FALSE(fs::exists(dir.file("out.png"))) << what;
    }
}

}  // namespace
