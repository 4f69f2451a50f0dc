// The vorpix tool's shoreline commands, run as a user would on the sample data.
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using vorpix::test::python_command;
using vorpix::test::read_text;
using vorpix::test::run_command;
using vorpix::test::TempDir;
using vorpix::test::tool_command;

namespace {

std::string tool(const std::string &args) {
    return "VORPIX_DATA_PATH= " + tool_command() + " " + args;
}

}  // namespace

TEST(CoastTool, GeoJsonHasOneFeaturePerListedPolygon) {
    TempDir dir;
    const auto list = run_command(tool("coast --res c --box -85/-75/33/37 --list"));
    ASSERT_EQ(list.status, 0);
    const long rows = std::count(list.output.begin(), list.output.end(), '\n') - 1;
    EXPECT_GT(rows, 90);
    const std::string out = dir.file("nc.geojson");
    ASSERT_EQ(run_command(tool("coast --res c --box -85/-75/33/37 --ref 100/-35 -o " + out)).status, 0);
    // An independent JSON parser reads it back.
    const auto check = run_command(python_command() + " -c \"import json,sys; d=json.load(open('" + out +
                                   "')); f=d['features']; print(len(f), f[0]['properties']['type'], "
                                   "all(x['geometry']['type']=='Polygon' for x in f))\"");
    ASSERT_EQ(check.status, 0);
    EXPECT_EQ(check.output, std::to_string(rows) + " c True\n");
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
    const std::string sample = std::string(VORPIX_SOURCE_DIR) + "/maps/vorpix/gshhs_c.b";
    std::filesystem::resize_file(
        (std::filesystem::copy_file(sample, root + "/maps/vorpix/gshhs_c.b"), root + "/maps/vorpix/gshhs_c.b"),
        1000);
    r = run_command("VORPIX_DATA_PATH=" + root + " " + tool_command() + " coast --res c -o " + out + " 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1);
    EXPECT_NE(r.output.find(root + "/maps/vorpix/gshhs_c.b: polygon"), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(out));

    r = run_command(tool("coast --box 1/2/3") + " 2>&1");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("WEST/EAST/SOUTH/NORTH"), std::string::npos);
}

TEST(CoastTool, InfoListsEveryPolygonHeader) {
    const auto r = run_command(tool("info " + std::string(VORPIX_SOURCE_DIR) + "/maps/vorpix/gshhs_c.b"));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.output.substr(0, r.output.find('\n')),
              "  offset       id   points level version        west        east      south      north         area");
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1 + 103);
}
