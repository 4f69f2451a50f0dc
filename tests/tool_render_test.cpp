// vorpix render, checked by looking at the pictures it makes: Pillow reads
// the PNG, librsvg's rsvg-convert draws the SVG independently, and Python's
// XML parser reads the SVG's words.
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

using namespace vorpix::test;

namespace {

std::string probe_script() { return python_command() + " " + VORPIX_SOURCE_DIR "/tests/support/picture_probe.py"; }

// What a pixel shows, by its colour: the fills are opaque, so their inner
// pixels are exact up to a renderer's rounding.
std::string what_is_at(const std::string &rgb) {
    int r, g, b;
    if (std::sscanf(rgb.c_str(), "%d %d %d", &r, &g, &b) != 3) return "unreadable: " + rgb;
    auto near = [&](int R, int G, int B) {
        return std::abs(r - R) <= 3 && std::abs(g - G) <= 3 && std::abs(b - B) <= 3;
    };
    if (near(242, 230, 196)) return "land";
    if (near(198, 220, 239)) return "sea";
    return "other";
}

// Runs "vorpix render ARGS -o NAME" in dir, which must succeed quietly (no
// progress when standard error is not a terminal); the file's path.
std::string render(const TempDir &dir, const std::string &args, const std::string &name) {
    std::string out = dir.file(name);
    const auto r = run_command("VORPIX_DATA_PATH= " + tool_command() + " render " + args + " -o " + out + " 2>&1");
    EXPECT_EQ(r.status, 0) << args;
    EXPECT_EQ(r.output, "") << args;
    return out;
}

struct Spot {
    double lon, lat;
    const char *expected;  // "land", "sea", or "other" (a shape over the sea)
};

struct MapCase {
    const char *name;
    const char *box;                  // as given on the command line
    double west, east, south, north;  // the frame it means
    int width;
    std::string extra;  // more arguments
    std::vector<Spot> spots;
};

void PrintTo(const MapCase &c, std::ostream *os) { *os << c.name; }

class RenderedMap : public testing::TestWithParam<MapCase> {};

// The same spots in the PNG and in the SVG as rsvg-convert draws it.
TEST_P(RenderedMap, ShowsLandSeaAndShapesWhereTheyAre) {
    const MapCase &c = GetParam();
    TempDir dir;
    const std::string args = std::string("--no-graticule --box ") + c.box + " --width " + std::to_string(c.width) +
                             " " + c.extra;
    std::vector<std::string> pictures = {render(dir, args + " --png", "map.png")};
    const std::string svg = render(dir, args, "map.svg");
    if (have_program("rsvg-convert")) {
        pictures.push_back(dir.file("svg.png"));
        ASSERT_EQ(run_command("rsvg-convert -o " + pictures.back() + " " + svg).status, 0);
    }
    const int height = static_cast<int>(std::lround(c.width * (c.north - c.south) / (c.east - c.west)));
    std::string pixels;
    for (const auto &s : c.spots) {
        const int x = static_cast<int>((s.lon - c.west) / (c.east - c.west) * c.width);
        const int y = static_cast<int>((c.north - s.lat) / (c.north - c.south) * height);
        pixels += " " + std::to_string(x) + "," + std::to_string(y);
    }
    for (const std::string &picture : pictures) {
        const auto found = lines_of(run_command(probe_script() + " colours " + picture + pixels).output);
        ASSERT_EQ(found.size(), c.spots.size()) << picture;
        for (size_t i = 0; i < c.spots.size(); ++i)
            EXPECT_EQ(what_is_at(found[i]), c.spots[i].expected)
                << picture << " at " << c.spots[i].lon << "/" << c.spots[i].lat;
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Maps, RenderedMap, testing::Values(
    // The default: every continent, both sides of the seam, Greenwich, the South Pole.
    MapCase{"WholeWorld", "-180/180/-90/90", -180, 180, -90, 90, 1200, "",
            {{20, 20, "land"}, {-50, -10, "land"}, {100, 60, "land"}, {135, -25, "land"}, {-100, 40, "land"},
             {0.5, 10, "land"}, {-177, 66.6, "land"}, {179.5, -85, "land"}, {-179.5, -85, "land"}, {0, -89.9, "land"},
             {-150, 0, "sea"}, {-30, 30, "sea"}, {80, -30, "sea"}, {179.5, 0, "sea"}, {-179.5, 0, "sea"},
             {0, 89, "sea"}}},
    // Chukotka, the Bering Sea and Alaska in one frame running on across 180.
    MapCase{"AcrossTheSeam", "160/200/50/75", 160, 200, 50, 75, 800, "",
            {{170, 66, "land"}, {178, 68, "land"}, {196, 65.3, "land"}, {182, 58, "sea"}, {190, 62, "sea"}}},
    MapCase{"AcrossTheSeamGivenEastBelowWest", "160/-160/50/75", 160, 200, 50, 75, 800, "",
            {{170, 66, "land"}, {196, 65.3, "land"}, {182, 58, "sea"}}},
    MapCase{"AntarcticaAcrossTheSeam", "160/200/-90/-60", 160, 200, -90, -60, 400, "",
            {{180, -89.5, "land"}, {165, -85, "land"}, {195, -85, "land"}, {180, -62, "sea"}}},
    // Raleigh and the Atlantic.
    MapCase{"NorthCarolina", "-85/-75/33/37", -85, -75, 33, 37, 1000, "",
            {{-78.64, 35.78, "land"}, {-76.9, 33.5, "sea"}}},
    // Squares either side of 180 (one stored at -170..-165), the sea between and around them.
    MapCase{"ShapesOnBothSidesOfTheSeam", "160/200/30/50", 160, 200, 30, 50, 800,
            "--shapes " + fixture_path("render/seam_shapes.shp"),
            {{167.5, 42.5, "other"}, {192.5, 42.5, "other"}, {180, 42.5, "sea"}, {175, 35, "sea"}}},
    // A line stored from 175 to -175 runs the short way, across 180.
    MapCase{"LineAcrossTheSeam", "170/190/30/40", 170, 190, 30, 40, 400,
            "--shapes " + fixture_path("render/seam_line.shp"),
            {{177, 35, "other"}, {180, 35, "other"}, {183, 35, "other"}, {180, 37, "sea"}}}),
    [](const testing::TestParamInfo<MapCase> &info) { return std::string(info.param.name); });
// clang-format on

// The legend names every layer drawn, the shapes' layer among them, whose
// fill is one path of a ring or more per shape; graticule labels are written
// as people write degrees, from 180°W to 180°E, never 185°E or 210°E.
TEST(RenderTool, SvgNamesItsLayersAndLabelsDegreesAsPeopleWriteThem) {
    struct Case {
        std::string args;
        std::vector<std::string> present, absent;
    };
    // clang-format off
    const Case cases[] = {
        {"--box 160/200/50/75 --width 800 --borders --rivers",
         {"land", "lake", "rivers", "maritime borders", "165°E", "175°E", "180°", "175°W", "170°W", "160°W", "55°N",
          "70°N"},
         {"185", "190", "200"}},
        {"--width 1200", {"180°", "150°W", "0°", "30°E", "150°E", "60°S", "60°N", "land", "lake"}, {"210°E"}},
        {"--box -130/-60/20/55 --width 800 --borders --rivers --no-graticule",
         {"national borders", "internal borders", "rivers"}, {}},
        {"--no-coast --box -85/-75/33/37 --shapes " + fixture_path("esri/nc.shp"), {"shapes"}, {}},
    };
    // clang-format on
    for (const Case &c : cases) {
        TempDir dir;
        const std::string svg = render(dir, c.args, "map.svg");
        const auto r = run_command(probe_script() + " svg-texts " + svg);
        ASSERT_EQ(r.status, 0) << "the SVG parses: " << r.output;
        const auto words = lines_of(r.output);
        for (const std::string &word : c.present)
            EXPECT_NE(std::find(words.begin(), words.end(), word), words.end()) << c.args << ": " << word;
        for (const auto &w : words)
            for (const std::string &number : c.absent)
                EXPECT_EQ(w.find(number), std::string::npos) << c.args << ": " << w;
        if (c.args.find("--shapes") == std::string::npos) continue;
        const std::string text = read_text(svg);
        const size_t end = text.find("\" fill=\"#60b060\"");  // the shapes' fill
        ASSERT_NE(end, std::string::npos);
        EXPECT_GE(count_of(text.substr(text.rfind("<path d=\"", end), end), "M"), 100u) << "a ring per county";
    }
}

// Letters drawn with antialiasing leave many greys between the ink and the
// paper; coloured swatches and straight lines leave few. Without the lines,
// border red and river blue are only the legend's and the lakes' worth.
TEST(RenderTool, PngCarriesTheLegendGraticuleBordersAndRivers) {
    TempDir dir;
    const std::string png = render(dir, "--width 1000 --borders --rivers --png", "world.png");
    const std::string bare = render(dir, "--width 1000 --no-graticule --png", "bare.png");
    auto counts = [](const std::string &picture, const std::string &rect) {
        int dark = -1, greys = -1;
        std::sscanf(run_command(probe_script() + " text " + picture + " " + rect).output.c_str(), "%d %d", &dark,
                    &greys);
        return std::make_pair(dark, greys);
    };
    const auto legend = counts(png, "0 500 1000 532");  // every corner holds land: the legend is below
    EXPECT_GT(legend.first, 100) << "dark letters";
    EXPECT_GE(legend.second, 20) << "antialiased edges";
    const auto labels = counts(png, "0 482 1000 500");
    EXPECT_GT(labels.first, 50);
    EXPECT_GE(labels.second, 20);
    EXPECT_EQ(counts(bare, "0 482 1000 500").first, 0) << "no labels without the graticule";
    auto red_and_blue = [](const std::string &picture) {
        return run_command(python_command() + " -c \"from PIL import Image; px=list(Image.open('" + picture +
                           "').convert('RGB').getdata()); print(sum(r>130 and g<90 and b<90 for r,g,b in px) > 2000, "
                           "sum(b>150 and r<110 and g<150 for r,g,b in px) > 5000)\"")
            .output;
    };
    EXPECT_EQ(red_and_blue(png), "True True\n");
    EXPECT_EQ(red_and_blue(bare), "False False\n");
}

// The legend is what a picture draws over the same map drawn with --legend
// none. Placed by itself it hides no land: on the whole world, whose corners
// all hold land, it goes below the map; on the tour's box it takes the sea in
// a corner. A corner asked for takes it whatever lies there. PNG and SVG
// alike. Without legend and graticule no letters are drawn at all, and a
// place that is none of these is a usage error.
TEST(RenderTool, LegendHidesNoLandUnlessPlacedThere) {
    const struct {
        std::string args;
        const char *legend, *where;  // below, inside or either
        bool over_land;
    } rows[] = {
        {"--width 1000 --borders", "auto", "below", false},
        {"--box -90/-70/30/40 --line-res l --borders --rivers --width 900", "auto", "inside", false},
        {"--box -10/30/35/60 --width 1000", "auto", "either", false},  // the Baltic states, Hebrides, Aegean
        {"--box -180/180/-90/-60", "auto", "either", false},
        {"--width 1000 --borders", "top-right", "inside", true},  // Siberia
        {"--box -90/-70/30/40 --width 900", "below", "below", false},
    };
    const bool rsvg = have_program("rsvg-convert");
    for (const auto &row : rows) {
        TempDir dir;
        const std::string args = row.args + " --legend ";
        std::vector<std::pair<std::string, std::string>> pairs = {
            {render(dir, args + row.legend + " --png", "map.png"), render(dir, args + "none --png", "base.png")}};
        if (rsvg) {
            for (const char *name : {"map", "base"}) {
                const std::string svg = render(dir, args + (name[0] == 'm' ? row.legend : "none"),
                                               name + std::string(".svg"));
                ASSERT_EQ(run_command("rsvg-convert -o " + dir.file(name + std::string("-svg.png")) + " " + svg).status,
                          0);
            }
            pairs.emplace_back(dir.file("map-svg.png"), dir.file("base-svg.png"));
        }
        for (const auto &[picture, base] : pairs) {
            const auto r = run_command(probe_script() + " hidden " + picture + " " + base + " 242,230,196");
            long changed = -1, land = -1, below = -1;
            ASSERT_EQ(std::sscanf(r.output.c_str(), "%ld %ld %ld", &changed, &land, &below), 3) << r.output;
            const std::string where = std::string(row.where);
            EXPECT_GT(changed + below, 0) << row.args << " " << picture << ": a legend is drawn";
            EXPECT_TRUE(where == "either" || (below > 0) == (where == "below"))
                << row.args << " " << picture << ": " << below << " rows below the map";
            EXPECT_EQ(land > 0, row.over_land) << row.args << " " << picture << ": " << land << " land pixels hidden";
        }
    }
    TempDir dir;
    for (const auto &[legend, letters] : {std::pair{"none", false}, std::pair{"auto", true}}) {
        const std::string png = render(
            dir, "--box -90/-70/30/40 --width 400 --no-graticule --png --legend " + std::string(legend), "bare.png");
        EXPECT_EQ(std::atoi(run_command(probe_script() + " text " + png).output.c_str()) > 50, letters) << legend;
    }
    const auto bad = run_command("VORPIX_DATA_PATH= " + tool_command() + " render --legend middle -o " +
                                 dir.file("no") + " 2>&1");
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.output,
              "vorpix render: --legend is auto, none, top-left, top-right, bottom-left, bottom-right or below, not "
              "\"middle\" (see 'vorpix render --help')\n");
}

// A shapefile in UTM metres (its .prj) is drawn in longitude and latitude
// (where the layer puts them, checked against ogr2ogr by the shapes
// command's test): its legend entry is there when shapes lie in the box,
// and only then.
TEST(RenderTool, ProjectedShapesHaveALegendEntryWhenInTheBox) {
    TempDir dir;
    const std::string utm = fixture_path("esri/utm.shp");
    for (const auto &[box, shown] : {std::pair{"-85/-75/33/37", true}, std::pair{"-10/10/40/50", false}}) {
        const std::string svg = render(dir, std::string("--no-coast --box ") + box + " --shapes " + utm, "legend.svg");
        const auto words = lines_of(run_command(probe_script() + " svg-texts " + svg).output);
        EXPECT_EQ(std::find(words.begin(), words.end(), "shapes") != words.end(), shown) << box;
    }
}

// Shapes whose numbers are NaN or infinite (written by pyshp), and a line
// PROJ cannot take back from its projection, are left out of the picture
// with one warning each naming the file and the record, and nothing else
// on standard error (under the sanitizers, no report of an overflow). The
// picture holds no "nan" or "inf" and no point off its own area: no stray
// line runs to a corner.
TEST(RenderTool, ShapesWhoseNumbersAreNotFiniteAreLeftOutWithAWarning) {
    const struct {
        const char *name;
        std::vector<int> left_out;
        const char *why;
        bool without_prj;
    } cases[] = {
        {"nonfinite_lines", {1, 2, 3}, "coordinates that are not finite numbers", false},
        {"nonfinite_points", {1, 2, 3}, "coordinates that are not finite numbers", false},
        {"nonfinite_areas", {1}, "coordinates that are not finite numbers", true},
        {"unprojectable", {1}, "points that PROJ cannot transform to longitude and latitude", false},
    };
    TempDir dir;
    for (const auto &c : cases) {
        const std::string shp = fixture_path(std::string("esri/") + c.name + ".shp");
        std::string warnings;
        for (const int recno : c.left_out)
            warnings += "vorpix: warning: " + shp + ": record " + std::to_string(recno) + ": " + c.why +
                        "; it is not drawn\n";
        if (c.without_prj)
            warnings += "vorpix: warning: " + shp +
                        ": the coordinates are not longitudes and latitudes and no .prj says what they are; they "
                        "are drawn as if they were\n";
        for (const char *format : {"", " --png"}) {
            const std::string out = dir.file(std::string(c.name) + (*format ? ".png" : ".svg"));
            const auto r = run_command("VORPIX_DATA_PATH= " + tool_command() +
                                       " render --no-coast --no-graticule --legend none --box -20/40/-20/40 "
                                       "--width 300 --shapes " +
                                       shp + format + " -o " + out + " 2>&1");
            EXPECT_EQ(r.status, 0) << c.name << format;
            EXPECT_EQ(r.output, warnings) << c.name << format;
        }
        // Every point drawn lies in the picture, give or take a pixel.
        std::istringstream points(
            run_command(probe_script() + " svg-points " + dir.file(std::string(c.name) + ".svg")).output);
        size_t count = 0;
        std::string finite;
        double x0, x1, y0, y1;
        ASSERT_TRUE(points >> count >> finite >> x0 >> x1 >> y0 >> y1) << c.name;
        EXPECT_GT(count, 4u) << c.name;
        EXPECT_EQ(finite, "True") << c.name;
        EXPECT_TRUE(x0 >= -1 && x1 <= 301 && y0 >= -1 && y1 <= 301)
            << c.name << ": " << x0 << " " << x1 << " " << y0 << " " << y1;
    }
    // A ring that winds round the globe is refused, naming file and record.
    const std::string winding = fixture_path("esri/winding.shp");
    const auto r = run_command(tool_command() + " render --no-coast --shapes " + winding + " -o " +
                               dir.file("winding.svg") + " 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output,
              "vorpix: " + winding + ": record 1: a ring that runs over 3 turns of longitude is not a polygon\n");
}

}  // namespace

// A picture too big to draw is refused before anything is drawn: a width
// that makes it so, or a box so narrow that its height runs to billions.
TEST(RenderTool, PicturesBeyondTheirPixelLimitAreUsageErrors) {
    TempDir dir;
    const std::string out = dir.file("never.png");
    const struct {
        const char *args, *size;
    } rows[] = {{"--width 20000", "20000 x 10000"},
                {"--box 0/1e-7/0/10 --width 16", "16 x 1600000000"},
                {"--box 0/1e-12/0/10", "1200 x 12000000000000"}};
    for (const auto &row : rows) {
        const auto r = run_command(tool_command() + " render --png " + row.args + " -o " + out + " 2>&1");
        EXPECT_EQ(r.status, 2) << row.args;
        EXPECT_EQ(r.output, std::string("vorpix render: the box and width make a picture of ") + row.size +
                                " pixels; at most 50000000 are drawn (see 'vorpix render --help')\n")
            << row.args;
        EXPECT_FALSE(std::filesystem::exists(out)) << row.args;
    }
}
