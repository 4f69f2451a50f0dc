// Where the tool writes (-o FILE of every kind, standard output) and how it
// reports input it cannot read: one line that names the file first.
#include "esri_writer.hpp"
#include "hostile_files.hpp"
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace vorpix::test;

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

// Every name under the directory, relative to it; links are not followed.
std::set<std::string> names_in(const std::string &directory) {
    std::set<std::string> names;
    for (const auto &entry : fs::recursive_directory_iterator(directory))
        names.insert(entry.path().lexically_relative(directory).string());
    return names;
}

void put(const std::string &path, const std::string &text, mode_t mode) {
    write_file(path, text.data(), text.size());
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

// What -o names decides what happens: a new file gets the mode the umask
// allows, a replaced one keeps its mode, and one that nobody may write is
// refused and kept, also when root (whom permission bits do not stop) runs
// the tool, as the test suite does in CI; the file a link names is written
// and the link stays a link; a directory or a loop of links is refused. A
// refusal is one line; nothing else appears, and nothing changes kind.
TEST(ToolOutput, ModesLinksAndRefusalsOfOutputFiles) {
    struct Case {
        const char *umask;
        std::string setup;       // beside real/file.txt (mode 640) and links/
        const char *out, *file;  // -o OUT, and the file that then holds the listing (or is kept when refused)
        mode_t mode;             // that file's mode afterwards
        const char *error;
    };
    const auto existing = [](const char *mode) {
        return std::string("echo old > out.txt && chmod ") + mode + " out.txt";
    };
    const char *read_only = "vorpix: out.txt: cannot write: the file is read-only";
    // clang-format off
    const Case cases[] = {
        {"022", "true", "out.txt", "out.txt", 0644, ""},
        {"077", "true", "out.txt", "out.txt", 0600, ""},
        {"027", "true", "out.txt", "out.txt", 0640, ""},
        {"022", existing("600"), "out.txt", "out.txt", 0600, ""},
        {"077", existing("640"), "out.txt", "out.txt", 0640, ""},
        {"022", existing("604"), "out.txt", "out.txt", 0604, ""},
        {"022", existing("755"), "out.txt", "out.txt", 0755, ""},
        {"022", existing("660"), "out.txt", "out.txt", 0660, ""},
        {"022", existing("444"), "out.txt", "out.txt", 0444, read_only},
        {"022", existing("400"), "out.txt", "out.txt", 0400, read_only},
        {"022", existing("000"), "out.txt", "out.txt", 0000, read_only},
        {"022", existing("555"), "out.txt", "out.txt", 0555, read_only},
        {"022", "ln -s real/file.txt out.txt", "out.txt", "real/file.txt", 0640, ""},
        {"022", "ln -s \"$PWD/real/file.txt\" out.txt", "out.txt", "real/file.txt", 0640, ""},
        {"022", "ln -s links/hop out.txt && ln -s ../real/file.txt links/hop", "out.txt", "real/file.txt", 0640, ""},
        {"022", "ln -s real/new.txt out.txt", "out.txt", "real/new.txt", 0644, ""},
        {"022", "mkdir sub", "sub", "", 0, "vorpix: sub: cannot write: is a directory"},
        {"022", "ln -s b a && ln -s a b", "a", "", 0, "vorpix: a: cannot write: Too many levels of symbolic links"},
    };
    // clang-format on
    const auto links_in = [](const std::string &dir) {
        std::set<std::string> links;
        for (const std::string &name : names_in(dir))
            if (fs::is_symlink(dir + "/" + name)) links.insert(name);
        return links;
    };
    for (const Case &c : cases) {
        if (*c.file && c.mode == 0 && ::geteuid() != 0) continue;  // we could not read it back
        const std::string what = std::string("umask ") + c.umask + ", " + c.setup;
        TempDir dir;
        ASSERT_EQ(run_command("cd '" + dir.path() + "' && mkdir real links && echo old > real/file.txt && " +
                              "chmod 640 real/file.txt && " + c.setup)
                      .status,
                  0);
        std::set<std::string> names = names_in(dir.path());
        const std::set<std::string> links = links_in(dir.path());
        const ToolRun r = run_tool("info " + input + " -o " + c.out, dir.path(), std::string("umask ") + c.umask + ";");
        EXPECT_EQ(r.status, *c.error ? 1 : 0) << what;
        EXPECT_EQ(r.errors, *c.error ? std::vector<std::string>{c.error} : std::vector<std::string>{}) << what;
        if (*c.file) {
            EXPECT_EQ(read_text(dir.file(c.file)), *c.error ? "old\n" : listing()) << what;
            EXPECT_EQ(stat_of(dir.file(c.file)).st_mode & 07777, c.mode) << what;
            names.insert(c.file);
        }
        EXPECT_EQ(names_in(dir.path()), names) << what;
        EXPECT_EQ(links_in(dir.path()), links) << what;
    }
}

// An output that is one of the command's inputs, under its own name, a
// link or as a file read beside the one named (the .dbf, .prj and .cpg of a
// shapefile, a database's shapefile, a map file found on the data path),
// used to be replaced by the output. It is refused in one line, and the
// input stays as it was, byte for byte.
// Without a format option, the output's name chooses the format, as image
// tools do: a map.png is a PNG; a named option wins; a name that no format
// of the command has leaves the command's own default.
TEST(ToolOutput, TheOutputsExtensionChoosesTheFormat) {
    TempDir dir;
    struct Case {
        const char *arguments, *out, *starts;
    };
    const Case cases[] = {
        {"render --box 0/10/40/50 --width 100", "map.png", "\x89PNG"},
        {"render --box 0/10/40/50 --width 100", "map.SVG", "<svg "},
        {"render --box 0/10/40/50 --width 100 --svg", "map.png", "<svg "},
        {"render --box 0/10/40/50 --width 100", "map.out", "<svg "},
        {"coast --box 0/10/40/50", "coast.svg", "<svg "},
        {"coast --box 0/10/40/50", "coast.txt", "      id level"},
        {"coast --box 0/10/40/50", "coast.png", "{\"type\":\"FeatureCollection\""},
    };
    for (const Case &c : cases) {
        const ToolRun r = run_tool(std::string(c.arguments) + " -o " + c.out, dir.path());
        ASSERT_EQ(r.status, 0) << c.arguments << " -o " << c.out;
        EXPECT_EQ(read_text(dir.file(c.out)).rfind(c.starts, 0), 0u) << c.arguments << " -o " << c.out;
    }
}

// A picture of a shapefile holds one shape at a time, not the file: 200,000
// squares (27 MB) drawn as SVG, which is written as it is drawn, and as PNG,
// both within an address space that the file's shapes kept whole would
// overflow several times over.
TEST(ToolOutput, PicturesOfLargeShapefilesTakeMemoryOfOneShape) {
    MainFile squares;
    for (int i = 0; i < 200'000; ++i) {
        const int column = i % 500, row = i / 500;
        const double west = -180 + column * 0.72, south = -80 + row * 0.4, east = west + 0.5, north = south + 0.3;
        squares.record(i + 1, 64,
                       ring_shape({{west, south}, {west, north}, {east, north}, {east, south}, {west, south}}));
    }
    const auto shp = squares.bounds(-180, -90, 180, 90).finish(5);
    TempDir dir;
    write_file(dir.file("squares.shp"), shp.data(), shp.size());
    for (const char *out : {"map.svg", "map.png"}) {
        const ToolRun r = run_tool(std::string("render --no-coast --shapes squares.shp -o ") + out, dir.path(),
                                   memory_capped(150));
        EXPECT_EQ(r.status, 0) << out << ": " << (r.errors.empty() ? "" : r.errors[0]);
    }
    const std::vector<unsigned char> svg = read_file(dir.file("map.svg"));
    EXPECT_GE(std::count(svg.begin(), svg.end(), 'M'), 200'000) << "a ring per square";
}

TEST(ToolOutput, AnInputIsNeverReplacedByTheOutput) {
    const std::string also = ": cannot write: the file is also ";
    const std::string coast = "data/maps/vorpix/gshhs_c.b", border = "data/maps/vorpix/binned_border_c.cdf";
    // "@/" stands for the directory the case runs in.
    // clang-format off
    const struct { std::string arguments, file, error; } cases[] = {
        {"shapes nc.shp -o nc.shp", "nc.shp", "nc.shp" + also + "an input"},
        {"shapes nc.shp -o nc.dbf", "nc.dbf", "nc.dbf" + also + "an input"},
        {"shapes nc.shp -o link.shp", "nc.shp", "link.shp" + also + "the input nc.shp"},
        {"shapes utm.shp -o utm.prj", "utm.prj", "utm.prj" + also + "an input"},
        {"shapes latin_z.shp -o latin_z.cpg", "latin_z.cpg", "latin_z.cpg" + also + "an input"},
        {"texture w.dds -o w.dds", "w.dds", "w.dds" + also + "an input"},
        {"fetch idx.db -o idx.db", "idx.db", "idx.db" + also + "an input"},
        {"fetch idx.db 1 -o nc.shp", "nc.shp", "nc.shp" + also + "the input @/nc.shp"},
        {"fetch idx.db 1 -o nc.dbf", "nc.dbf", "nc.dbf" + also + "the input @/nc.dbf"},
        {"index nc.shp nc.shp", "nc.shp", "nc.shp" + also + "an input"},
        {"coast --res c -o " + coast, coast, coast + also + "the input @/" + coast},
        {"coast --res c --list -o " + coast, coast, coast + also + "the input @/" + coast},
        {"borders --res c --box 0/10/0/10 -o " + border, border, border + also + "the input @/" + border},
    };
    // clang-format on
    for (const auto &c : cases) {
        TempDir dir;
        for (const char *name :
             {"nc.shp", "nc.shx", "nc.dbf", "utm.shp", "utm.prj", "latin_z.shp", "latin_z.dbf", "latin_z.cpg"})
            fs::copy_file(fixture_path(std::string("esri/") + name), dir.file(name));
        fs::copy_file(fixture_path("dds/dxt1_64x32.dds"), dir.file("w.dds"));
        fs::create_directories(dir.file("data/maps/vorpix"));
        for (const char *name : {"gshhs_c.b", "binned_border_c.cdf"})
            fs::copy_file(std::string(VORPIX_SOURCE_DIR) + "/maps/vorpix/" + name,
                          dir.file(std::string("data/maps/vorpix/") + name));
        fs::create_symlink("nc.shp", dir.file("link.shp"));
        ASSERT_EQ(run_tool("index idx.db nc.shp", dir.path()).status, 0);
        std::string error = "vorpix: " + c.error;
        if (const auto at = error.find("@/"); at != std::string::npos) error.replace(at, 1, dir.path());
        const std::vector<unsigned char> before = read_file(dir.file(c.file));
        const std::set<std::string> names = names_in(dir.path());
        const ToolRun r = run_tool(c.arguments, dir.path(), "VORPIX_DATA_PATH='" + dir.file("data") + "'");
        EXPECT_EQ(r.status, 1) << c.arguments;
        EXPECT_EQ(r.errors, std::vector<std::string>{error}) << c.arguments;
        EXPECT_TRUE(read_file(dir.file(c.file)) == before) << c.arguments;
        EXPECT_EQ(names_in(dir.path()), names) << c.arguments;
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

TEST(ToolOutput, NamedPipeIsWrittenDirectly) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
    const ToolRun r = run_tool("info " + input + " -o pipe", dir.path(), "timeout 20 cat pipe > got & ");
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(S_ISFIFO(stat_of(dir.file("pipe"), false).st_mode));
    // cat runs on in the background until it has read everything (as long as
    // its own timeout on a loaded machine).
    for (int i = 0; i < 2000 && read_text(dir.file("got")).size() < listing().size(); ++i) ::usleep(10000);
    EXPECT_EQ(read_text(dir.file("got")), listing());
    EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"got", "pipe"}));
}

// Devices and standard output by name are written in place: replacing a
// device node with a regular file would break the machine for everyone, and
// /dev/stdout and /dev/fd/1 lead through /proc to a pipe, which has no path.
// Copies of the null and full devices made in a scratch directory (when we
// may make device nodes) go first: a tool that replaced them stops the test
// before /dev is touched.
TEST(ToolOutput, DevicesAndStandardOutputByNameAreWrittenInPlace) {
    enum Kind { null, full, standard_output };
    TempDir dir;
    std::vector<std::pair<std::string, Kind>> targets;
    if (::mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 &&
        ::mknod(dir.file("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0 &&
        run_command("echo > '" + dir.file("null") + "'").status == 0)  // not on a nodev mount
        targets = {{dir.file("null"), null}, {dir.file("full"), full}};
    targets.insert(targets.end(), {{"/dev/null", null},
                                   {"/dev/full", full},
                                   {"/dev/stdout", standard_output},
                                   {"/dev/fd/1", standard_output},
                                   {"/proc/self/fd/1", standard_output}});
    for (const auto &[target, kind] : targets) {
        const struct stat before = stat_of(target, false);
        const ToolRun r = run_tool("info " + input + " -o " + target, "/");
        EXPECT_EQ(r.status, kind == full ? 1 : 0) << target;
        EXPECT_EQ(r.errors, kind == full ? std::vector<std::string>{"vorpix: " + target +
                                                                    ": cannot write: No space left on device"}
                                         : std::vector<std::string>{})
            << target;
        EXPECT_EQ(r.out, kind == standard_output ? listing() : "") << target;
        const struct stat after = stat_of(target, false);
        ASSERT_EQ(after.st_mode, before.st_mode) << target;
        ASSERT_EQ(after.st_rdev, before.st_rdev) << target;
        ASSERT_EQ(after.st_ino, before.st_ino) << target;
    }
}

bool unnamed_files_work(const std::string &directory) {
    const int fd = ::open(directory.c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (fd >= 0) ::close(fd);
    return fd >= 0 && ::access("/proc/self/fd", X_OK) == 0;
}

// The output goes to a temporary file first; the write is stopped while only
// that exists: by a signal that the preloaded library raises at the first
// fsync or rename, or by a file size limit of 512 bytes, with SIGXFSZ or with
// EFBIG when that is ignored. SIGKILL cannot be caught: only a file without a
// name survives it unseen. VORPIX_TEST_NO_TMPFILE makes the tool name its
// temporary file from the start, as on file systems without unnamed files.
TEST(ToolOutput, WriteStoppedHalfWayLeavesNoTemporaryFile) {
    struct Case {
        int signal;  // raised by the preloaded library, or 0
        const char *setup;
        int status;
    };
    const Case cases[] = {{SIGTERM, "", 128 + SIGTERM},       {SIGINT, "", 128 + SIGINT},
                          {SIGHUP, "", 128 + SIGHUP},         {SIGKILL, "", 128 + SIGKILL},
                          {0, "ulimit -f 1;", 128 + SIGXFSZ}, {0, "ulimit -f 1; trap '' XFSZ;", 1}};
    for (const bool no_tmpfile : {false, true}) {
        for (const Case &c : cases) {
            struct sigaction inherited {};
            ::sigaction(c.signal, nullptr, &inherited);
            if (c.signal && inherited.sa_handler == SIG_IGN) continue;  // the tool keeps ignoring it (nohup)
            TempDir dir;
            if (c.signal == SIGKILL && (no_tmpfile || !unnamed_files_work(dir.path()))) continue;
            const std::string what = std::to_string(c.signal) + " " + c.setup + (no_tmpfile ? " named temporary" : "");
            put(dir.file("out.txt"), "old\n", 0644);
            std::string setup = c.setup;
            if (c.signal) setup += " VORPIX_TEST_SIGNAL=" + std::to_string(c.signal);
            if (no_tmpfile) setup += " VORPIX_TEST_NO_TMPFILE=1";
            setup += " LD_PRELOAD=" VORPIX_SIGNAL_AT_SYNC " ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0";
            const ToolRun r = run_tool("info " + input + " -o out.txt", dir.path(), setup);
            EXPECT_EQ(r.status, c.status) << what;
            // (When a signal ends the tool, the shell may say so on the same standard error.)
            if (c.status == 1) {
                EXPECT_EQ(r.errors, std::vector<std::string>{"vorpix: out.txt: cannot write: File too large"}) << what;
            }
            EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"out.txt"}) << what;
            EXPECT_EQ(read_text(dir.file("out.txt")), "old\n") << what;
        }
    }
}

// Standard output fails late (when the buffer is flushed or the descriptor
// closed): each way gives one line, a failing status and no cut listing.
TEST(ToolOutput, OutputThatCannotBeWrittenIsAnError) {
    const std::string full = "vorpix: standard output: cannot write: No space left on device";
    const std::string dbf = fixture_path("esri/nc.dbf"), dds = fixture_path("dds/dxt1_64x32.dds");
    // clang-format off
    const struct { std::string setup, arguments, error; } cases[] = {
        {"", "info " + input + " > /dev/full", full}, {"", "info " + dbf + " > /dev/full", full},
        {"", "info " + dds + " > /dev/full", full},   {"", "--help > /dev/full", full},
        {"", "--version > /dev/full", full},          {"", "texture --help > /dev/full", full}};
    // clang-format on
    for (const auto &c : cases) {
        const ToolRun r = run_tool(c.arguments, "/", c.setup);
        EXPECT_EQ(r.status, 1) << c.arguments;
        EXPECT_EQ(r.out, "") << c.arguments;
        EXPECT_EQ(r.errors, std::vector<std::string>{c.error}) << c.arguments;
    }
}

// Bad input of every kind, for each command that reads it, under a memory
// cap: one line on standard error that starts with the file's name and says what is wrong in
// words, never with a function name, a C++ exception or a full stop. (Cut
// textures and shapefiles, each message whole, are the texture and shapes
// tools' own tests.)
TEST(ToolMessages, BadInputGivesOneLineNamingTheFileFirst) {
    struct BadInput {
        std::string arguments;  // "%" stands for the file
        std::string file;       // as the user names it, or found in DIR/maps/vorpix with VORPIX_DATA_PATH=DIR
        std::string message;    // what follows "vorpix: FILE: " when known, else ""
    };
    TempDir dir;
    const auto copy = [&](const std::string &from, const std::string &to, long bytes) {
        fs::create_directories(fs::path(dir.file(to)).parent_path());
        fs::copy_file(from, dir.file(to));
        if (bytes) fs::resize_file(dir.file(to), bytes);
        return dir.file(to);
    };
    const std::string maps = std::string(VORPIX_SOURCE_DIR) + "/maps/vorpix/";
    fs::create_directories(dir.file("folder"));
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
    copy(fixture_path("esri/nc.shp"), "cut.shp", 200);
    copy(fixture_path("netcdf/types.nc"), "cut.nc", 300);
    // The data directories: a shoreline file cut short, a border file whose
    // segments name points it does not have, one cut short, one with a bin
    // that names segments it does not have (ncgen made both).
    const std::string cut_shorelines = copy(maps + "gshhs_c.b", "data/maps/vorpix/gshhs_c.b", 1000);
    const std::string far_points = copy(fixture_path("netcdf/border_farpoints.nc"),
                                        "data/maps/vorpix/binned_border_c.cdf", 0);
    const std::string cut_borders = copy(maps + "binned_border_c.cdf", "cut-data/maps/vorpix/binned_border_c.cdf",
                                         3000);
    const std::string bin_past = copy(fixture_path("netcdf/border_binpast.nc"),
                                      "bin-data/maps/vorpix/binned_border_c.cdf", 0);
    // Bins or segments that share their ranges would select billions of
    // segments or points from a few hundred kilobytes.
    const std::string shared_segments = copy(hostile_file("border_shared_segments.cdf"),
                                             "segments-data/maps/vorpix/binned_border_c.cdf", 0);
    const std::string shared_points = copy(hostile_file("border_shared_points.cdf"),
                                           "points-data/maps/vorpix/binned_border_c.cdf", 0);

    std::vector<BadInput> rows;
    for (const char *command : {"info %", "shapes %", "texture % -o out.png"}) {
        rows.push_back({command, "folder", "is a directory"});
        rows.push_back({command, "/dev/zero", "is a character device; vorpix reads regular files only"});
        rows.push_back({command, "pipe", "is a named pipe; vorpix reads regular files only"});
        rows.push_back({command, "missing.shp", "cannot open: No such file or directory"});
        rows.push_back({command, "cut.shp/x", "cannot open: Not a directory"});
    }
    for (const std::string &file : {cut_shorelines, cut_borders, std::string("cut.shp")})
        rows.push_back({"info %", file, ""});
    rows.push_back({"info %", "cut.nc", "truncated header: variable list at byte 188: 168 bytes needed, 112 remain"});
    rows.push_back({"info %", fixture_path("netcdf/types_64bit.nc"),
                    "a netCDF 64-bit offset file; only netCDF classic files are read"});
    rows.push_back(
        {"info %", fixture_path("netcdf/types_nc4.nc"), "a netCDF-4 (HDF5) file; only netCDF classic files are read"});
    // Records of 0 bytes: two billion empty lines from 68 bytes.
    rows.push_back({"info %", hostile_file("empty_records.dbf"),
                    "header: record length of 0 bytes leaves no room for the deletion flag"});
    rows.push_back({"texture % -o out.png", hostile_file("huge_dxt5.dds"),
                    "truncated: mipmap level 0 needs 18446744073709551616 bytes at byte 128, 16 remain"});
    const std::string points = " at byte 0: 1109 points at byte 44 need 8872 bytes, 956 remain";
    rows.push_back({"coast --res c --list", cut_shorelines, "polygon 0 (id 0)" + points});
    for (const char *command : {"coast --res c --svg", "coast --res c", "render --res c"})
        rows.push_back({command, cut_shorelines, "polygon 0" + points});
    for (const std::string &file : {far_points, bin_past})
        for (const char *command : {"borders --res c --box -180/180/-90/90", "render --res c --no-coast --borders"})
            rows.push_back({command, file, ""});
    rows.push_back({"borders --res c --box 0/10/0/10", cut_borders, ""});
    rows.push_back({"borders --res c --box -180/180/-90/90", shared_segments,
                    "bin 1: segments 0 to 29999 overlap or precede those of an earlier bin, which end at 29999"});
    rows.push_back({"borders --res c --box -180/180/-90/90", shared_points,
                    "segment 1: points 0 to 65534 overlap or precede those of an earlier segment, which end at 65534"});
    if (::geteuid() != 0) {  // root reads any file
        put(dir.file("secret.shp"), "x", 0);
        rows.push_back({"info %", "secret.shp", "cannot open: Permission denied"});
    }
    for (const auto &row : rows) {
        std::string arguments = row.arguments;
        if (const auto at = arguments.find('%'); at != std::string::npos) arguments.replace(at, 1, row.file);
        const size_t maps_at = row.file.find("/maps/vorpix/");
        const std::string data_path = maps_at == std::string::npos ? "" : row.file.substr(0, maps_at);
        // No bad input may take a gigabyte before it is refused.
        const ToolRun r = run_tool(arguments, dir.path(),
                                   "VORPIX_DATA_PATH='" + data_path + "' timeout 20 " + memory_capped(1000));
        const std::string what = "vorpix " + arguments + " with " + row.file;
        EXPECT_EQ(r.status, 1) << what;
        EXPECT_EQ(r.errors.size(), 1u) << what << "\n" << ::testing::PrintToString(r.errors);
        if (r.errors.size() != 1) continue;
        const std::string &line = r.errors[0], start = "vorpix: " + row.file + ": ";
        if (!row.message.empty()) {
            EXPECT_EQ(line, start + row.message) << what;
        }
        EXPECT_EQ(line.rfind(start, 0), 0u) << what << "\n" << line;
        for (const char *internal :
             {"_sized", "::", "basic_filebuf", "bad_alloc", "gshhs", "gmtmap", "netcdf_", "esri_", "dds_", ") error"})
            EXPECT_EQ(line.find(internal, start.size()), std::string::npos) << what << "\n" << line;
        EXPECT_NE(line.back(), '.') << what << "\n" << line;
        EXPECT_FALSE(fs::exists(dir.file("out.png"))) << what;
    }
}

}  // namespace
