// The vorpix tool's shoreline commands, run as a user would, on the bundled
// world, on North Carolina's counties and on polygons placed where clipping
// is hard (tests/fixtures/gshhs/make_exact_fixtures.py). GEOS, through the
// scripts in tests/support, judges what the tool writes.
#include "geojson_checks.hpp"
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>

using vorpix::test::exact_fill_check;
using vorpix::test::fixture_path;
using vorpix::test::python_command;
using vorpix::test::rfc7946_problems;
using vorpix::test::run_command;
using vorpix::test::support_script;
using vorpix::test::TempDir;
using vorpix::test::tool_command;

namespace {

std::string tool(const std::string &args) { return "VORPIX_DATA_PATH= " + tool_command() + " " + args; }

const std::string world_c = std::string(VORPIX_SOURCE_DIR) + "/maps/vorpix/gshhs_c.b";

// A data directory whose crude shorelines are the given file.
class ShoreRoot {
public:
    explicit ShoreRoot(const std::string &shorelines) {
        std::filesystem::create_directories(dir_.file("maps/vorpix"));
        std::filesystem::copy_file(shorelines, dir_.file("maps/vorpix/gshhs_c.b"));
    }
    std::string shorelines() const { return dir_.file("maps/vorpix/gshhs_c.b"); }
    // "vorpix coast --res c ARGS" on this data, stopped after a minute.
    vorpix::test::CommandResult run(const std::string &args) const {
        return run_command("timeout 60 env VORPIX_DATA_PATH=" + dir_.path() + " " + tool_command() + " coast --res c " +
                           args + " 2>&1");
    }
    // The same written to a file, whose name it returns.
    std::string coast(const std::string &args, const std::string &name = "out.geojson") const {
        const std::string out = dir_.file(name);
        const auto r = run(args + " -o " + out);
        EXPECT_EQ(r.status, 0) << r.output;
        return out;
    }

private:
    TempDir dir_;
};

// The highest level of the filled features at each point, as probe_geojson.py
// tells it: 0 sea, 1 land, 2 lake, 3 island in a lake.
std::string levels_at(const std::string &geojson, const std::string &points) {
    const auto r = run_command(support_script("probe_geojson.py") + " " + geojson + " " + points + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
    return r.output;
}

// The last line of a script's output ("polygons N area A").
std::string summary(const std::string &output) {
    std::string text = output;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text.substr(text.rfind('\n') + 1);
}

struct ClipCase {
    const char *name;
    const char *box;
};
void PrintTo(const ClipCase &c, std::ostream *out) { *out << c.name << " " << c.box; }

class ExactClip : public testing::TestWithParam<ClipCase> {};

// Filled polygons equal GEOS's clip of the file's polygons to the box, moved
// by whole turns; outlines equal the clip of their boundaries; the GeoJSON
// passes the strict RFC 7946 check.
TEST_P(ExactClip, FillsAndOutlinesEqualTheExactClip) {
    const ShoreRoot root(fixture_path("gshhs/exact.b"));
    const std::string out = root.coast("--kinds 'f:0 c:0' --box " + std::string(GetParam().box));
    EXPECT_EQ(rfc7946_problems(out), "");
    const auto fills = exact_fill_check(root.shorelines(), GetParam().box, out, "f:0");
    EXPECT_EQ(fills.status, 0) << fills.output;
    EXPECT_EQ(fills.output.find("polygons 0 "), std::string::npos) << "nothing to compare";
    const auto outlines = exact_fill_check(root.shorelines(), GetParam().box, out, "c:0");
    EXPECT_EQ(outlines.status, 0) << outlines.output;
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, ExactClip,
    testing::Values(ClipCase{"WholeWorld", "-180/180/-90/90"}, ClipCase{"WholeTurnFromGreenwich", "0/360/-90/90"},
                    ClipCase{"AcrossTheSeam", "160/200/-60/-20"},
                    ClipCase{"SeamGivenEastBelowWest", "170/-170/-60/-20"},
                    ClipCase{"InsideAnIslandAcrossTheSeam", "176/180/-50/-30"},
                    ClipCase{"AcrossGreenwich", "-20/20/30/60"}, ClipCase{"AroundTheSouthPole", "-180/180/-90/-60"},
                    ClipCase{"SouthPoleAcrossTheSeam", "150/250/-90/-65"},
                    ClipCase{"AroundTheNorthPoleAcrossTheSeam", "100/-100/60/90"},
                    ClipCase{"AcrossCombTeeth", "-50/-35/5/15"}, ClipCase{"VerticesOnTheBorder", "95/115/0/20"},
                    ClipCase{"EdgesOnTheBorder", "-40/-30/10/20"}, ClipCase{"ThinAtTheSeam", "179/181/-40/-39.5"}),
    [](const testing::TestParamInfo<ClipCase> &info) { return std::string(info.param.name); });

TEST(CoastTool, PolygonAcrossGreenwichKeepsBothSidesInTheWholeWorld) {
    const ShoreRoot root(fixture_path("gshhs/exact.b"));
    const std::string out = root.coast("--kinds f:1");
    // Stored from 350 to 370 degrees; the world runs from -180 to 180.
    const auto r = run_command(python_command() + " -c \"import json; f=[f for f in json.load(open('" + out +
                               "'))['features'] if f['properties']['id']==5][0]; print(f['bbox'])\"");
    EXPECT_EQ(r.output, "[-10, 38, 10, 52]\n");
    EXPECT_EQ(levels_at(out, "-9,45 9,45 -11,45 11,45"), "1 1 0 0\n");
}

TEST(CoastTool, SouthPoleIsLandOnBothSidesOfTheSeam) {
    const ShoreRoot root(fixture_path("gshhs/exact.b"));
    for (const char *box : {"-180/180/-90/90", "0/360/-90/90", "90/450/-90/-60"}) {
        const std::string out = root.coast(std::string("--kinds f:1 --box ") + box);
        EXPECT_EQ(levels_at(out, "0,-89.99 179.999,-89 -179.999,-89 90,-85 -90,-85 0,-60.5"), "1 1 1 1 1 0\n") << box;
        EXPECT_EQ(rfc7946_problems(out), "") << box;
    }
}

TEST(CoastTool, BoxInsideNorthCarolinaIsAllLand) {
    const ShoreRoot root(fixture_path("gshhs/nc_l.b"));
    const std::string out = root.coast("--kinds f:0 --box -80/-78/35/36");
    EXPECT_EQ(rfc7946_problems(out), "");
    const auto r = exact_fill_check(root.shorelines(), "-80/-78/35/36", out);
    EXPECT_EQ(r.status, 0) << r.output;
    // The counties tile the box: their clipped areas add up to its 2 square degrees.
    const std::string line = summary(r.output);
    ASSERT_EQ(line.rfind("polygons ", 0), 0u) << r.output;
    EXPECT_NEAR(std::stod(line.substr(line.find(" area ") + 6)), 2.0, 1e-9);
}

// The library's world test finds known land, sea and lakes in every bundled
// file; the tool's output, equal to the exact clip, keeps them where they are.
TEST(CoastTool, WorldMatchesTheExactClip) {
    TempDir dir;
    const std::string world_l = std::string(VORPIX_SOURCE_DIR) + "/maps/vorpix/gshhs_l.b";
    const struct {
        const std::string &file;
        const char *res, *box, *kinds;
    } cases[] = {
        {world_c, "c", "-180/180/-90/90", "f:0"},  {world_c, "c", "-180/180/-90/90", "c:0"},
        {world_l, "l", "160/200/-90/90", "f:0"},   {world_l, "l", "-30/30/-90/90", "f:0"},
        {world_l, "l", "-180/180/-90/-60", "f:0"}, {world_l, "l", "-12/4/49/61", "c:0"},
    };
    for (const auto &c : cases) {
        const std::string out = dir.file(std::string(c.res) + ".geojson");
        ASSERT_EQ(run_command(tool("coast --res " + std::string(c.res) + " --kinds " + c.kinds + " --box " + c.box +
                                   " -o " + out))
                      .status,
                  0);
        const auto r = exact_fill_check(c.file, c.box, out, c.kinds);
        EXPECT_EQ(r.status, 0) << c.res << " " << c.box << " " << c.kinds << "\n" << r.output;
        EXPECT_EQ(rfc7946_problems(out), "") << c.res << " " << c.box;
    }
}

TEST(CoastTool, GeoJsonFeaturesAreListedPolygonsWithKindAndLevel) {
    TempDir dir;
    const auto list = run_command(tool("coast --res c --kinds 'c:1 f:3' --box -85/-75/33/37 --list"));
    ASSERT_EQ(list.status, 0);
    const std::string out = dir.file("nc.geojson");
    ASSERT_EQ(run_command(tool("coast --res c --kinds 'c:1 f:3' --box -85/-75/33/37 --ref 100/-35 -o " + out)).status,
              0);
    EXPECT_EQ(rfc7946_problems(out), "");
    // Every feature is one of the listed polygons, says its kind and level,
    // and the line work comes before the fills, as the kinds name them.
    std::istringstream rows(list.output.substr(list.output.find('\n') + 1));
    std::string ids, id, rest;
    while (rows >> id && std::getline(rows, rest)) ids += id + ",";
    const auto check = run_command(
        python_command() + " -c \"import json; f=json.load(open('" + out + "'))['features']; ids={" + ids +
        "}; print(all(x['properties']['id'] in ids for x in f), [x['properties']['kind'] for x in f] == "
        "sorted(x['properties']['kind'] for x in f), sorted(set((x['properties']['kind'], x['properties']['type'], "
        "x['properties']['level']) for x in f)))\"");
    ASSERT_EQ(check.status, 0);
    EXPECT_EQ(check.output, "True True [('c', 'c', 1), ('f', 'l', 1), ('f', 'w', 2)]\n");
}

TEST(CoastTool, SvgShowsLandWhereLandIsAndSeaWhereSeaIs) {
    if (run_command("command -v rsvg-convert >/dev/null").status != 0) GTEST_SKIP() << "no rsvg-convert";
    TempDir dir;
    const std::string svg = dir.file("nc.svg"), png = dir.file("nc.png");
    ASSERT_EQ(run_command(tool("coast --res l --kinds f:0 --box -85/-75/33/37 --svg -o " + svg)).status, 0);
    ASSERT_EQ(run_command("rsvg-convert -o " + png + " " + svg).status, 0);
    // Raleigh (-78.64, 35.78) is land; (-76.9, 33.5) is the Atlantic. The picture is
    // 1000 pixels for 10 degrees of longitude, 100 pixels a degree.
    const auto pixels = run_command(python_command() + " -c \"from PIL import Image; im=Image.open('" + png +
                                    "').convert('RGB'); print(im.getpixel((636,121)), im.getpixel((810,350)))\"");
    ASSERT_EQ(pixels.status, 0);
    EXPECT_EQ(pixels.output, "(242, 230, 196) (198, 220, 239)\n");
}

TEST(CoastTool, ErrorsAreOneLineNamingTheFileAndWriteNothing) {
    TempDir dir;
    const std::string out = dir.file("never.geojson");
    auto r = run_command(tool("coast --res f -o " + out) + " 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output,
              "vorpix: maps/vorpix/gshhs_f.b: no such shoreline file in the data directories (set "
              "VORPIX_DATA_PATH)\n");
    EXPECT_FALSE(std::filesystem::exists(out));

    // A truncated file names the file and where it breaks.
    const std::string root = dir.file("root");
    std::filesystem::create_directories(root + "/maps/vorpix");
    std::filesystem::resize_file(
        (std::filesystem::copy_file(world_c, root + "/maps/vorpix/gshhs_c.b"), root + "/maps/vorpix/gshhs_c.b"), 1000);
    r = run_command("VORPIX_DATA_PATH=" + root + " " + tool_command() + " coast --res c -o " + out + " 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1);
    EXPECT_NE(r.output.find(root + "/maps/vorpix/gshhs_c.b: polygon"), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(out));

    r = run_command(tool("coast --box 1/2/3") + " 2>&1");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("WEST/EAST/SOUTH/NORTH"), std::string::npos);
}

TEST(CoastTool, BoxTooFarOutForStepsOfATurnIsTheTurnItStandsIn) {
    const ShoreRoot root(fixture_path("gshhs/exact.b"));
    const std::string out = root.coast("--kinds f:1 --box 1e17/1e17/-90/90");
    EXPECT_EQ(rfc7946_problems(out), "");
    const auto r = exact_fill_check(root.shorelines(), "-180/180/-90/90", out, "f:1");
    EXPECT_EQ(r.status, 0) << r.output;
}

}  // namespace
