// vorpix data: the directories searched for map files, in order, and the
// file found for each map name, from the build tree and from a copy of the
// tool and its libraries laid out as an installed prefix that was moved.
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <cstring>
#include <string>
#include <vector>

using namespace vorpix::test;

namespace {

struct Listing {
    std::vector<std::string> directories;                    // "DIR  (WHY)"
    std::vector<std::pair<std::string, std::string>> files;  // name, file found or "not found"
    std::vector<std::string> resolutions;                    // "KIND  LETTERS  (not LETTERS: COMMAND)"
};

// The indented lines: directories before "Map files:", map files after,
// then the resolutions installed.
Listing listing(const std::string &output) {
    Listing out;
    int part = 0;
    for (std::string line : lines_of(output)) {
        part += line == "Map files:" || line == "Resolutions installed:";
        if (line.rfind("  ", 0) != 0) continue;
        line.erase(0, 2);
        const size_t gap = line.find("  ");
        if (part == 0) out.directories.push_back(line);
        else if (part == 1) out.files.emplace_back(line.substr(0, gap), line.substr(line.find_first_not_of(' ', gap)));
        else out.resolutions.push_back(line);
    }
    return out;
}

std::string found(const Listing &l, const std::string &name) {
    for (const auto &[n, file] : l.files)
        if (n == "maps/vorpix/" + name) return file;
    return "(not listed)";
}

}  // namespace

// Which directory wins for a name is the library's search, tested with it;
// here the listing shows the search and the file each name finds.
TEST(DataTool, ListsTheListedDirectoriesThenTheSourceTreeAndWhatEachNameFinds) {
    TempDir first, second;
    write_file(second.file("maps/vorpix/gshhs_l.b"), "x", 1);
    const auto r = run_command("VORPIX_DATA_PATH=" + first.path() + "::" + second.path() + " " + tool_command() +
                               " data");
    ASSERT_EQ(r.status, 0);
    const Listing l = listing(r.output);
    ASSERT_EQ(l.directories.size(), 4u) << r.output;
    EXPECT_EQ(l.directories[0], first.path() + "  (VORPIX_DATA_PATH)");
    EXPECT_EQ(l.directories[1], second.path() + "  (VORPIX_DATA_PATH)");
    // A build tree's tool: the source tree, then the configured data
    // directory, and nothing beside the build directory.
    EXPECT_EQ(l.directories[2], std::string(VORPIX_SOURCE_DIR) + "  (built in)");
    EXPECT_NE(l.directories[3].find("/share/vorpix  (built in)"), std::string::npos) << l.directories[3];
    ASSERT_EQ(l.files.size(), 15u);
    EXPECT_EQ(l.files.front().first, "maps/vorpix/gshhs_c.b");
    EXPECT_EQ(l.files.back().first, "maps/vorpix/binned_river_f.cdf");
    EXPECT_EQ(found(l, "gshhs_l.b"), second.file("maps/vorpix/gshhs_l.b"));
    EXPECT_EQ(found(l, "binned_border_c.cdf"), std::string(VORPIX_SOURCE_DIR) + "/maps/vorpix/binned_border_c.cdf");
    // Each kind's resolutions: those found, then those not, with the command
    // that installs them; the bundled ones are always there.
    ASSERT_EQ(l.resolutions.size(), 3u) << r.output;
    const std::pair<const char *, const char *> kinds[] = {
        {"shorelines", "gshhs_"}, {"borders", "binned_border_"}, {"rivers", "binned_river_"}};
    for (size_t k = 0; k < 3; ++k) {
        bool missing = false;
        for (const char res : std::string("clihf"))
            missing |= found(l, kinds[k].second + std::string(1, res) + (k ? ".cdf" : ".b")) == "not found";
        const std::string kind = std::string(kinds[k].first) + std::string(12 - std::strlen(kinds[k].first), ' ');
        EXPECT_EQ(l.resolutions[k].rfind(kind + (k ? "c l" : "c l i"), 0), 0u) << l.resolutions[k];
        EXPECT_EQ(l.resolutions[k].find("(not ") != std::string::npos, missing) << l.resolutions[k];
    }
}

// The tool and its libraries copied into PREFIX/bin and PREFIX/lib, as an
// installed prefix moved elsewhere: data in PREFIX/share/vorpix is found
// while only its owner can change it, never the source tree.
TEST(DataTool, AMovedInstallFindsItsOwnDataUnlessOthersCanWriteIt) {
    TempDir dir;
    namespace fs = std::filesystem;
    const fs::path tool = tool_command(), prefix = dir.file("prefix");
    fs::create_directories(prefix / "bin");
    fs::create_directories(prefix / "lib");
    fs::copy_file(tool, prefix / "bin/vorpix");
    for (const auto &entry : fs::directory_iterator(tool.parent_path())) {
        const std::string name = entry.path().filename();
        if (name.rfind("libvorpix", 0) == 0 && name.find(".so") != std::string::npos)
            fs::copy(entry.path(), prefix / "lib" / name, fs::copy_options::copy_symlinks);
    }
    write_file((prefix / "share/vorpix/maps/vorpix/gshhs_h.b").string(), "x", 1);
    auto run = [&] {
        return listing(run_command("VORPIX_DATA_PATH= LD_LIBRARY_PATH=" + (prefix / "lib").string() + " " +
                                   (prefix / "bin/vorpix").string() + " data")
                           .output);
    };
    Listing l = run();
    ASSERT_FALSE(l.directories.empty());
    EXPECT_EQ(l.directories.front(), (prefix / "share/vorpix").string() + "  (built in)");
    EXPECT_EQ(found(l, "gshhs_h.b"), (prefix / "share/vorpix/maps/vorpix/gshhs_h.b").string());
    for (const std::string &d : l.directories) EXPECT_EQ(d.find(VORPIX_SOURCE_DIR), std::string::npos) << d;

    // A share directory that others may write to could hold anyone's files.
    ASSERT_EQ(chmod((prefix / "share").c_str(), 0777), 0);
    l = run();
    for (const std::string &d : l.directories) EXPECT_EQ(d.find(prefix.string()), std::string::npos) << d;
    EXPECT_EQ(found(l, "gshhs_h.b").find(prefix.string()), std::string::npos);
}
