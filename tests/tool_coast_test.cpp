// The vorpix tool's shoreline commands, run as a user would, on the bundled
// world, on North Carolina's counties and on polygons placed where clipping
// is hard (tests/fixtures/gshhs/make_exact_fixtures.py). GEOS, through the
// scripts in tests/support, judges what the tool writes.
#include "geojson_checks.hpp"
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

using namespace vorpix::test;

namespace {

std::string tool(const std::string &args) { return "VORPIX_DATA_PATH= " + tool_command() + " " + args; }

// What the tool says installs the resolutions that are not bundled.
std::string install_command() { return "scripts/install-high-resolutions.sh"; }

// A data directory whose crude shorelines are the given file.
class ShoreRoot {
public:
    explicit ShoreRoot(const std::string &shorelines) {
        std::filesystem::create_directories(dir_.file("maps/vorpix"));
        std::filesystem::create_symlink(shorelines, dir_.file("maps/vorpix/gshhs_c.b"));
    }
    // "vorpix coast --res c ARGS -o FILE" on this data, stopped after a minute; the file.
    std::string coast(const std::string &args) const {
        std::string out = dir_.file("out.geojson");
        const auto r = run_command("timeout 60 env VORPIX_DATA_PATH=" + dir_.path() + " " + tool_command() +
                                   " coast --res c " + args + " -o " + out + " 2>&1");
        EXPECT_EQ(r.status, 0) << r.output;
        return out;
    }

private:
    TempDir dir_;
};

struct ClipCase {
    const char *name;
    std::string shorelines;
    const char *box;
    const char *kinds;
    const char *means = nullptr;        // the box the oracle clips to, when not the same
    const char *outline = "ice-front";  // Antarctica's
};
void PrintTo(const ClipCase &c, std::ostream *out) { *out << c.name << " " << c.box << " " << c.kinds; }

class ExactClip : public testing::TestWithParam<ClipCase> {};

// Filled polygons equal GEOS's clip of the file's polygons to the box, moved
// by whole turns; outlines equal the clip of their boundaries; the GeoJSON
// passes the strict RFC 7946 check.
TEST_P(ExactClip, FillsAndOutlinesEqualTheExactClip) {
    const ClipCase &c = GetParam();
    const ShoreRoot root(c.shorelines);
    const std::string out = root.coast(std::string("--kinds '") + c.kinds + "' --box " + c.box + " --antarctica " +
                                       c.outline);
    EXPECT_EQ(rfc7946_problems(out), "");
    std::istringstream kinds(c.kinds);
    for (std::string kind; kinds >> kind;) {
        const auto r = exact_fill_check(c.shorelines, c.means ? c.means : c.box, out, kind, c.outline);
        EXPECT_EQ(r.status, 0) << kind << "\n" << r.output;
        EXPECT_EQ(r.output.find("polygons 0 "), std::string::npos) << "nothing to compare";
    }
}

const std::string exact = fixture_path("gshhs/exact.b"), nc = fixture_path("gshhs/nc_l.b");
const std::string world_c = std::string(VORPIX_SOURCE_DIR) + "/maps/vorpix/gshhs_c.b";
const std::string world_l = std::string(VORPIX_SOURCE_DIR) + "/maps/vorpix/gshhs_l.b";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Boxes, ExactClip, testing::Values(
    ClipCase{"WholeWorld", exact, "-180/180/-90/90", "f:0 c:0"},  // a polygon across Greenwich keeps both sides
    ClipCase{"WholeTurnFromGreenwich", exact, "0/360/-90/90", "f:0 c:0"},
    ClipCase{"AcrossTheSeam", exact, "160/200/-60/-20", "f:0 c:0"},
    ClipCase{"SeamGivenEastBelowWest", exact, "170/-170/-60/-20", "f:0 c:0"},
    ClipCase{"InsideAnIslandAcrossTheSeam", exact, "176/180/-50/-30", "f:0 c:0"},
    ClipCase{"AcrossGreenwich", exact, "-20/20/30/60", "f:0 c:0"},
    ClipCase{"AroundTheSouthPole", exact, "-180/180/-90/-60", "f:0 c:0"},
    ClipCase{"AroundTheSouthPoleFrom90East", exact, "90/450/-90/-60", "f:0 c:0"},
    ClipCase{"SouthPoleAcrossTheSeam", exact, "150/250/-90/-65", "f:0 c:0"},
    ClipCase{"AroundTheNorthPoleAcrossTheSeam", exact, "100/-100/60/90", "f:0 c:0"},
    ClipCase{"AcrossCombTeeth", exact, "-50/-35/5/15", "f:0 c:0"},
    ClipCase{"VerticesOnTheBorder", exact, "95/115/0/20", "f:0 c:0"},
    ClipCase{"EdgesOnTheBorder", exact, "-40/-30/10/20", "f:0 c:0"},
    ClipCase{"ThinAtTheSeam", exact, "179/181/-40/-39.5", "f:0 c:0"},
    // Longitudes too far out for steps of a turn: the turn they stand in.
    ClipCase{"BoxTooFarOutForStepsOfATurn", exact, "1e17/1e17/-90/90", "f:0 c:0", "-180/180/-90/90"},
    // Counties that tile the box.
    ClipCase{"InsideNorthCarolina", nc, "-80/-78/35/36", "f:0"},
    // The world keeps the places that the library's world test finds in it.
    ClipCase{"CrudeWorld", world_c, "-180/180/-90/90", "f:0 c:0"},
    ClipCase{"LowAcrossTheSeam", world_l, "160/200/-90/90", "f:0"},
    ClipCase{"LowAcrossGreenwich", world_l, "-30/30/-90/90", "f:0"},
    ClipCase{"LowAntarctica", world_l, "-180/180/-90/-60", "f:0"},
    ClipCase{"LowAntarcticaAtTheGroundingLine", world_l, "-180/180/-90/-60", "f:0", nullptr, "grounding-line"},
    ClipCase{"LowRossIceShelfAcrossTheSeam", world_l, "150/-150/-86/-70", "f:0 c:0"},
    ClipCase{"LowRossSeaAtTheGroundingLine", world_l, "150/-150/-86/-70", "f:0 c:0", nullptr, "grounding-line"},
    ClipCase{"LowBritishIsles", world_l, "-12/4/49/61", "c:0"}),
    [](const testing::TestParamInfo<ClipCase> &info) { return std::string(info.param.name); });
// clang-format on

// Every feature is one of the listed polygons, says its kind and level, and
// the line work comes before the fills, as the kinds name them.
TEST(CoastTool, GeoJsonFeaturesAreListedPolygonsWithKindAndLevel) {
    TempDir dir;
    const std::string args = "coast --res c --kinds 'c:1 f:3' --box -85/-75/33/37", out = dir.file("nc.geojson");
    ASSERT_EQ(run_command(tool(args + " --list > " + dir.file("nc.list"))).status, 0);
    ASSERT_EQ(run_command(tool(args + " --ref 100/-35 -o " + out)).status, 0);
    EXPECT_EQ(rfc7946_problems(out), "");
    const auto check = run_command(
        python_command() + " -c \"import json; f=[x['properties'] for x in json.load(open('" + out +
        "'))['features']]; ids={int(l.split()[0]) for l in open('" + dir.file("nc.list") +
        "').readlines()[1:]}; print(all(p['id'] in ids for p in f), [p['kind'] for p in f] == sorted(p['kind'] for p "
        "in f), sorted(set((p['kind'], p['type'], p['level']) for p in f)))\"");
    ASSERT_EQ(check.status, 0) << check.output;
    EXPECT_EQ(check.output, "True True [('c', 'c', 1), ('f', 'l', 1), ('f', 'w', 2)]\n");
}

// Raleigh (-78.64, 35.78) is land; (-76.9, 33.5) is the Atlantic. The picture
// is 1000 pixels for 10 degrees of longitude, 100 pixels a degree.
TEST(CoastTool, SvgShowsLandWhereLandIsAndSeaWhereSeaIs) {
    if (!have_program("rsvg-convert")) GTEST_SKIP() << "no rsvg-convert";
    TempDir dir;
    const std::string svg = dir.file("nc.svg"), png = dir.file("nc.png");
    ASSERT_EQ(run_command(tool("coast --res l --kinds f:0 --box -85/-75/33/37 --svg -o " + svg)).status, 0);
    ASSERT_EQ(run_command("rsvg-convert -o " + png + " " + svg).status, 0);
    const auto pixels = run_command(python_command() + " -c \"from PIL import Image; im=Image.open('" + png +
                                    "').convert('RGB'); print(im.getpixel((636,121)), im.getpixel((810,350)))\"");
    ASSERT_EQ(pixels.status, 0);
    EXPECT_EQ(pixels.output, "(242, 230, 196) (198, 220, 239)\n");
}

// The path of a map file that the tool finds, or "" when none is installed.
std::string installed(const std::string &relative) {
    const auto r = run_command(tool("data"));
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string name, found;
        if (words >> name >> found && name == relative && found != "not") return found;
    }
    return "";
}

class LandArea : public testing::TestWithParam<char> {};

// Box by box, round Antarctica and in the whole world, the land that the
// tool fills is the land the source gives: the islands off the Peninsula
// (the South Shetlands, the South Orkneys), the continent with its ice
// shelves by default and at its grounding line on request.
TEST_P(LandArea, AgreesWithTheSourceBoxByBox) {
    const char res = GetParam();
    const std::string shorelines = installed(std::string("maps/vorpix/gshhs_") + res + ".b");
    const std::string bundled = std::string(VORPIX_SOURCE_DIR) + "/tests/fixtures/gshhs/source_areas_" + res + ".json";
    const std::string built = std::string(VORPIX_SOURCE_DIR) + "/build-data/source_areas_" + res + ".json";
    const std::string source = std::filesystem::exists(bundled) ? bundled : built;
    if (shorelines.empty() || !std::filesystem::exists(source))
        GTEST_SKIP() << "resolution " << res << " is not installed (" << install_command() << ")";
    const auto r = run_command("VORPIX_DATA_PATH= " + python_command() + " " + VORPIX_SOURCE_DIR +
                               "/tests/support/land_area_check.py " + tool_command() + " " + res + " " + shorelines +
                               " " + source + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(count_of(r.output, "ok "), 10u) << r.output;
}

INSTANTIATE_TEST_SUITE_P(EveryResolution, LandArea, testing::Values('c', 'l', 'i', 'h', 'f'),
                         [](const auto &info) { return std::string(1, info.param); });

// Options that cannot mean anything, and two output formats at once in any
// command, are usage errors: one line, status 2, nothing written.
TEST(CoastTool, OptionsThatSelectNothingAreUsageErrors) {
    TempDir dir;
    const std::string out = dir.file("never");
    const std::string arc = fixture_path("esri/arc.shp");
    const struct {
        std::string args;
        const char *line;
    } rows[] = {
        {"coast --res x", "--res is one of c, l, i, h, f (crude, low, intermediate, high, full), not \"x\""},
        {"render --line-res q", "--line-res is one of c, l, i, h, f (crude, low, intermediate, high, full), not \"q\""},
        {"coast --kinds q:9",
         "the kind \"q:9\" names no kind: its first letter is one of c (shorelines) or f "
         "(filled land and water)"},
        {"coast --kinds f:64", "the kind \"f:64\" selects no level: bit k selects level k+1, levels 1 to 4 exist"},
        {"coast --kinds 'c:0 f:0 c:1'", "--kinds takes at most two words"},
        {"borders --box 0/10/0/10 --kinds r:0",
         "the kind \"r:0\" selects no level: bit k selects level k+1, levels 1 to 10 exist"},
        {"borders --box 0/10/0/10 --kinds r:-1",
         "the kind \"r:-1\" wants a level bitmap of digits after its letter and separator"},
        {"borders --box 0/10/0/10 --kinds p:8",
         "the kind \"p:8\" selects no level: bit k selects level k+1, levels 1 "
         "to 3 exist"},
        {"coast --box 10/20/30/400", "the box's latitudes lie within -90 to 90, not \"10/20/30/400\""},
        {"coast --list --svg", "choose one output format, not --svg and --list"},
        {"borders --box 0/10/0/10 --svg --geojson", "choose one output format, not --geojson and --svg"},
        {"shapes --seq --svg " + arc, "choose one output format, not --seq and --svg"},
        {"fetch x.db --geojson --list " + arc, "choose one output format, not --geojson and --list"},
        {"shapes --png " + arc, "unknown option --png"},
        {"coast --antarctica floating", "--antarctica is ice-front or grounding-line, not \"floating\""},
        {"coast --list --antarctica ice-front",
         "--list shows what the library's selection delivers, Antarctica at "
         "its grounding line; --antarctica is for GeoJSON and SVG"},
    };
    for (const auto &row : rows) {
        const std::string command = row.args.substr(0, row.args.find(' '));
        const auto r = run_command(tool(row.args + " -o " + out) + " 2>&1");
        EXPECT_EQ(r.status, 2) << row.args;
        EXPECT_EQ(r.output, "vorpix " + command + ": " + row.line + " (see 'vorpix " + command + " --help')\n")
            << row.args;
        EXPECT_FALSE(std::filesystem::exists(out)) << row.args;
    }
}

// A resolution that is not installed is named, with the command that
// installs it; nothing is written.
TEST(CoastTool, MissingResolutionSaysHowToInstallIt) {
    for (const char res : {'h', 'f'}) {
        const std::string relative = std::string("maps/vorpix/gshhs_") + res + ".b";
        if (!installed(relative).empty()) continue;
        TempDir dir;
        const std::string out = dir.file("never.geojson");
        const auto r = run_command(tool(std::string("coast --res ") + res + " -o " + out) + " 2>&1");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.output, "vorpix: " + relative + ": the " + (res == 'h' ? "high" : "full") +
                                "-resolution shorelines are not installed (" + install_command() +
                                " installs them; VORPIX_DATA_PATH adds directories to search)\n");
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

}  // namespace

namespace {

// Running out of memory names the file being worked on, and the memory a
// command needs does not grow with what it writes: the whole world's
// intermediate shorelines, under address-space limits from too small to
// load the tool up to one that a reader holding a polygon at a time needs
// (holding every feature before writing them took over 120 MB).
TEST(CoastTool, OutOfMemoryNamesTheFileAndTheWorldFitsInLittle) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs an unlimited address space";
#endif
    const std::string file = installed("maps/vorpix/gshhs_i.b");
    ASSERT_FALSE(file.empty());
    int out_of_memory = 0;
    std::vector<int> limits;  // from about what loading the tool takes, up to ample
    for (int megabytes = 14; megabytes <= 46; megabytes += 2) limits.push_back(megabytes);
    limits.push_back(100);
    for (const int megabytes : limits) {
        const auto r = run_command("(ulimit -v " + std::to_string(megabytes * 1024) + "; " +
                                   tool("coast --res i --kinds f:0") + " >/dev/null) 2>&1");
        if (megabytes == 100) {
            EXPECT_EQ(r.status, 0) << r.output;
            continue;
        }
        if (r.status == 0 || r.output.find("error while loading shared libraries") != std::string::npos) continue;
        EXPECT_EQ(r.status, 1) << megabytes;
        // Out of memory in the clip, or for the window the file is read through.
        const std::string start = "vorpix: " + file + ": ", window = "not enough memory to read them\n";
        EXPECT_TRUE(r.output == start + "out of memory\n" ||
                    (r.output.rfind(start, 0) == 0 && r.output.size() > window.size() &&
                     r.output.compare(r.output.size() - window.size(), window.size(), window) == 0))
            << megabytes << ": " << r.output;
        ++out_of_memory;
    }
    EXPECT_GT(out_of_memory, 0);
}

}  // namespace
