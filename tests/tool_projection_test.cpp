// "vorpix render --proj": maps in the projections atlases use, their land
// checked against another route (tests/support/projected_fills.py: GEOS
// clips, pyproj projects, Pillow fills), and the projections and boxes that
// cannot be drawn refused in one line.
#include "geojson_checks.hpp"
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

using namespace vorpix::test;

namespace {

class ProjectedMap : public testing::TestWithParam<const char *> {};

TEST_P(ProjectedMap, LandAgreesWithGeosPyprojAndPillow) {
    const auto r = run_command(support_script("projected_fills.py") + " " + tool_command() + " " + VORPIX_SOURCE_DIR +
                               "/maps/vorpix/gshhs_c.b " + GetParam() + " 400 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
}

// Antarctica closes along the pole in the polar maps and along the map's
// lower edge in the world maps; the world maps are cut half a turn from
// their centre, which mollweide/150 puts in the Weddell Sea.
INSTANTIATE_TEST_SUITE_P(Projections, ProjectedMap,
                         testing::Values("south-polar", "north-polar/40", "laea/10/52", "mollweide/150", "robinson",
                                         "equal-earth", "mercator", "utm/32"),
                         [](const testing::TestParamInfo<const char *> &info) {
                             std::string name;
                             for (const char *c = info.param; *c; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

// Antarctica drawn to its ice front with the grounding line over it: the
// line is the grounding line's own, not the coast again.
TEST(RenderProjections, BothAntarcticOutlinesOnOneMap) {
    const auto svg = [](const char *outline) {
        return run_command(tool_command() + " render --proj south-polar --res c --antarctica " + outline +
                           " --no-graticule -o - --svg 2>&1");
    };
    const auto both = svg("both"), ice_front = svg("ice-front");
    ASSERT_EQ(both.status, 0) << both.output;
    EXPECT_EQ(count_of(both.output, ">grounding line</text>"), 1u);
    EXPECT_EQ(count_of(ice_front.output, "grounding line"), 0u);
    // Without the grounding line, the two maps are the same.
    const size_t line = both.output.find("stroke=\"#2f5d8c\"");
    ASSERT_NE(line, std::string::npos);
    EXPECT_EQ(both.output.substr(0, both.output.rfind("<path", line)),
              ice_front.output.substr(0, both.output.rfind("<path", line)));
}

// A world map whose centre is not named is centred on its box, so that a
// box across 180 is drawn whole.
TEST(RenderProjections, WorldMapsCentreOnTheirBox) {
    const auto r = run_command(tool_command() +
                               " render --proj mollweide --box 150/-150/-40/40 --res c --svg -o - 2>&1");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(">180°</text>"), std::string::npos);
}

TEST(RenderProjections, WhatCannotBeDrawnIsAUsageError) {
    const struct {
        const char *arguments, *message;
    } cases[] = {
        {"--proj gnomonic", "--proj gnomonic: no such projection; known are lonlat, south-polar[/LAT]"},
        {"--proj mollweide/east", "--proj mollweide/east: \"east\" is not a number of degrees"},
        {"--proj utm/61", "--proj utm/61: a UTM zone is a number from 1 to 60, then n or s"},
        {"--proj laea/10", "--proj laea/10: laea takes 2 parameters after slashes"},
        {"--proj south-polar/90", "--proj south-polar/90: a polar map reaches out to a latitude below 89.5"},
        {"--proj mercator --box -10/10/-89/0", "a Mercator map reaches 85 degrees north and south at most"},
        {"--proj south-polar --box -180/180/-90/70", "a south-polar map reaches north to 60 degrees at most"},
        {"--proj mollweide/0 --box 170/200/-10/10",
         "the box runs across the meridian opposite the map's centre; centre the projection in it (for example "
         "mollweide/185)"},
        {"--proj laea/0/0 --box -180/180/-90/90", "the box holds the point opposite the map's centre"},
        {"--proj robinson --texture x.dds", "a texture is drawn on the plain longitude-latitude grid only"},
    };
    for (const auto &c : cases) {
        const auto r = run_command(tool_command() + " render " + c.arguments + " -o /dev/null 2>&1");
        EXPECT_EQ(r.status, 2) << c.arguments;
        EXPECT_EQ(r.output.rfind(std::string("vorpix render: ") + c.message, 0), 0u) << c.arguments << "\n" << r.output;
        EXPECT_EQ(count_of(r.output, "\n"), 1u) << r.output;
    }
}

}  // namespace
