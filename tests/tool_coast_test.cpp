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

using namespace vorpix::test;

namespace {

std::string tool(const std::string &args) { return "VORPIX_DATA_PATH= " + tool_command() + " " + args; }

// A data directory whose crude shorelines are the given file.
class ShoreRoot {
public:
    explicit ShoreRoot(const std::string &shorelines) {
        std::filesystem::create_directories(dir_.file("maps/vorpix"));
        std::filesystem::create_symlink(shorelines, dir_.file("maps/vorpix/gshhs_c.b"));
    }
    // "vorpix coast --res c ARGS -o FILE" on this data, stopped after a minute; the file.
    std::string coast(const std::string &args) const {
        const std::string out = dir_.file("out.geojson");
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
    const char *means = nullptr;  // the box the oracle clips to, when not the same
};
void PrintTo(const ClipCase &c, std::ostream *out) { *out << c.name << " " << c.box << " " << c.kinds; }

class ExactClip : public testing::TestWithParam<ClipCase> {};

// Filled polygons equal GEOS's clip of the file's polygons to the box, moved
// by whole turns; outlines equal the clip of their boundaries; the GeoJSON
// passes the strict RFC 7946 check.
TEST_P(ExactClip, FillsAndOutlinesEqualTheExactClip) {
    const ClipCase &c = GetParam();
    const ShoreRoot root(c.shorelines);
    const std::string out = root.coast(std::string("--kinds '") + c.kinds + "' --box " + c.box);
    EXPECT_EQ(rfc7946_problems(out), "");
    std::istringstream kinds(c.kinds);
    for (std::string kind; kinds >> kind;) {
        const auto r = exact_fill_check(c.shorelines, c.means ? c.means : c.box, out, kind);
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
    if (run_command("command -v rsvg-convert >/dev/null").status != 0) GTEST_SKIP() << "no rsvg-convert";
    TempDir dir;
    const std::string svg = dir.file("nc.svg"), png = dir.file("nc.png");
    ASSERT_EQ(run_command(tool("coast --res l --kinds f:0 --box -85/-75/33/37 --svg -o " + svg)).status, 0);
    ASSERT_EQ(run_command("rsvg-convert -o " + png + " " + svg).status, 0);
    const auto pixels = run_command(python_command() + " -c \"from PIL import Image; im=Image.open('" + png +
                                    "').convert('RGB'); print(im.getpixel((636,121)), im.getpixel((810,350)))\"");
    ASSERT_EQ(pixels.status, 0);
    EXPECT_EQ(pixels.output, "(242, 230, 196) (198, 220, 239)\n");
}

// (A shoreline file cut short is a row of the tool's bad-input messages.)
TEST(CoastTool, MissingFileAndBadBoxAreOneLineAndWriteNothing) {
    TempDir dir;
    const std::string out = dir.file("never.geojson");
    auto r = run_command(tool("coast --res f -o " + out) + " 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output,
              "vorpix: maps/vorpix/gshhs_f.b: no such shoreline file in the data directories (set "
              "VORPIX_DATA_PATH)\n");
    EXPECT_FALSE(std::filesystem::exists(out));
    r = run_command(tool("coast --box 1/2/3") + " 2>&1");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("WEST/EAST/SOUTH/NORTH"), std::string::npos);
}

}  // namespace
