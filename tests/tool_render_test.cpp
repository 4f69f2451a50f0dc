// vorpix render, checked by looking at the pictures it makes.
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <string>

using vorpix::test::python_command;
using vorpix::test::run_command;
using vorpix::test::TempDir;
using vorpix::test::tool_command;

namespace {

// The RGB colours at pixels, as Pillow reads the PNG.
std::string colours_at(const std::string &png, const std::string &points) {
    const auto r = run_command(python_command() + " -c \"from PIL import Image; im=Image.open('" + png +
                               "').convert('RGB'); print([im.getpixel(p) for p in " + points + "])\"");
    EXPECT_EQ(r.status, 0);
    return r.output;
}

const std::string land = "(242, 230, 196)", sea = "(198, 220, 239)";

}  // namespace

TEST(RenderTool, PngHasLandAndSeaWhereTheyAre) {
    TempDir dir;
    const std::string png = dir.file("nc.png");
    const auto r = run_command("VORPIX_DATA_PATH= " + tool_command() +
                               " render --box -85/-75/33/37 --width 1000 --png --no-graticule -o " + png + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "") << "no progress when standard error is not a terminal";
    // 100 pixels a degree: Raleigh (-78.64, 35.78) and the Atlantic at (-76.9, 33.5).
    EXPECT_EQ(colours_at(png, "[(636,121),(810,350)]"), "[" + land + ", " + sea + "]\n");
}

TEST(RenderTool, SvgRendersTheSameMapWithAnIndependentRenderer) {
    if (run_command("command -v rsvg-convert >/dev/null").status != 0) GTEST_SKIP() << "no rsvg-convert";
    TempDir dir;
    const std::string svg = dir.file("nc.svg"), png = dir.file("nc.png");
    ASSERT_EQ(run_command("VORPIX_DATA_PATH= " + tool_command() + " render --box -85/-75/33/37 --width 1000 -o " + svg)
                  .status,
              0);
    ASSERT_EQ(run_command("rsvg-convert -o " + png + " " + svg).status, 0);
    EXPECT_EQ(colours_at(png, "[(636,121),(810,350)]"), "[" + land + ", " + sea + "]\n");
    const std::string text = vorpix::test::read_text(svg);
    EXPECT_NE(text.find(">land</text>"), std::string::npos) << "the legend names the land";
    EXPECT_NE(text.find(">80°W</text>"), std::string::npos) << "the graticule is labelled";
}

TEST(RenderTool, BordersAndRiversAreDrawnOverTheLand) {
    TempDir dir;
    const std::string png = dir.file("lines.png"), svg = dir.file("lines.svg");
    const std::string args = " render --box -130/-60/20/55 --width 800 --borders --rivers --no-graticule";
    ASSERT_EQ(run_command("VORPIX_DATA_PATH= " + tool_command() + args + " --png -o " + png).status, 0);
    ASSERT_EQ(run_command("VORPIX_DATA_PATH= " + tool_command() + args + " -o " + svg).status, 0);
    // Pixels of the border red and the river blue, counted by Pillow.
    const auto r = run_command(python_command() + " -c \"from PIL import Image; im=Image.open('" + png +
                               "').convert('RGB'); px=list(im.getdata()); "
                               "print(sum(r>130 and g<90 and b<90 for r,g,b in px) > 300, "
                               "sum(b>150 and r<110 and g<150 for r,g,b in px) > 300)\"");
    EXPECT_EQ(r.output, "True True\n");
    const std::string text = vorpix::test::read_text(svg);
    EXPECT_NE(text.find(">national borders</text>"), std::string::npos);
    EXPECT_NE(text.find(">rivers</text>"), std::string::npos);
}
