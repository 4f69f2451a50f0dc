// The geometry under every map command: exact clips of polygons with holes
// and of lines, judged by GEOS (tests/support/compare_clips.py).
#include "cli.hpp"
#include "canvas.hpp"
#include "geo_output.hpp"
#include "geojson_checks.hpp"
#include "test_files.hpp"
#include "vorpix/clip.hpp"
#include "vorpix/geojson_writer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <regex>
#include <sstream>
#include <string>

using namespace vorpix::test;
namespace geo = vorpix::geo;

namespace {

// A polygon's rings, "((x y, ...), ...)", and a clip's polygons as a
// MULTIPOLYGON, in WKT for compare_clips.py.
std::string wkt(const geo::Polygon &polygon) {
    std::ostringstream out;
    out.precision(17);
    for (size_t r = 0; r < polygon.size(); ++r)
        for (size_t i = 0; i <= polygon[r].size(); ++i) {
            const geo::Point &p = polygon[r][i % polygon[r].size()];
            out << (i ? ", " : r ? "), (" : "((") << p.lon << ' ' << p.lat;
        }
    return out.str() + "))";
}

std::string wkt(const std::vector<geo::Polygon> &parts) {
    std::string out;
    for (const auto &part : parts) out += (out.empty() ? "MULTIPOLYGON (" : ", ") + wkt(part);
    return parts.empty() ? "MULTIPOLYGON EMPTY" : out + ")";
}

geo::Ring square(double west, double south, double size) {
    return {{west, south}, {west + size, south}, {west + size, south + size}, {west, south + size}};
}

geo::Ring reversed(geo::Ring ring) { return {ring.rbegin(), ring.rend()}; }

TEST(Geometry, PolygonsWithHolesClipExactlyAndValid) {
    // A square with three holes, given either way round; one with a notch
    // and a hole; one whose hole touches its corner; one with a hole in the
    // middle. The boxes hold them, cut them, lie in holes and along edges.
    const geo::Polygon framed = {square(0, 0, 10), square(2, 2, 2), square(6, 2, 2), square(2, 6, 2)};
    const geo::Polygon notched = {{{0, 0}, {10, 0}, {10, 10}, {6, 10}, {6, 4}, {4, 4}, {4, 10}, {0, 10}},
                                  {{1, 1}, {1, 3}, {3, 3}, {3, 1}}};
    const geo::Polygon polygons[] = {framed,
                                     {reversed(framed[0]), reversed(framed[1]), framed[2], reversed(framed[3])},
                                     notched,
                                     {square(0, 0, 10), {{5, 5}, {10, 10}, {5, 8}}},
                                     {square(0, 0, 10), {{3, 3}, {7, 3}, {7, 7}, {3, 7}}}};
    const geo::Frame boxes[] = {{-1, 11, -1, 11}, {3, 7, 3, 7},   {1, 9, 1, 5},   {2, 8, 2.5, 3.5},
                                {5, 6, 5, 6},     {4, 6, 0, 10},  {-5, 3, -5, 3}, {3, 5, 3, 5},
                                {2, 4, 2, 4},     {0, 10, 0, 10}, {6, 12, 4, 8},  {4.5, 5.5, 8, 12}};
    TempDir dir;
    const std::string cases = dir.file("cases.txt");
    FILE *out = std::fopen(cases.c_str(), "w");
    ASSERT_NE(out, nullptr);
    for (const auto &polygon : polygons)
        for (const auto &f : boxes) {
            const auto clip = geo::clip_polygon(polygon, f);
            std::fprintf(out, "%.17g %.17g %.17g %.17g;%s;%s\n", f.west, f.south, f.east, f.north,
                         ("POLYGON " + wkt(polygon)).c_str(), wkt(clip).c_str());
        }
    std::fclose(out);
    const auto r = run_command(support_script("compare_clips.py") + " " + cases + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "60 cases\n");
}

// Holes side by side with an edge in common, and a hole against part of an
// edge of its exterior: invalid as GEOS reads them, yet files hold them.
// Clipped, they come out as the polygon they mean (one hole where two met,
// a notch where a hole met the exterior), which GEOS judges.
TEST(Geometry, RingsSharingAnEdgeClipAsTheRingTheyMake) {
    const geo::Polygon given[] = {{square(0, 0, 10), square(2, 2, 2), reversed(square(4, 2, 2))},
                                  {square(0, 0, 10), square(0, 2, 2)}};
    const geo::Polygon meant[] = {{square(0, 0, 10), {{2, 2}, {6, 2}, {6, 4}, {2, 4}}},
                                  {{{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 4}, {2, 4}, {2, 2}, {0, 2}}}};
    TempDir dir;
    const std::string cases = dir.file("cases.txt");
    FILE *out = std::fopen(cases.c_str(), "w");
    ASSERT_NE(out, nullptr);
    for (size_t i = 0; i < 2; ++i)
        for (const geo::Frame &f : {geo::Frame{-1, 11, -1, 11}, geo::Frame{1, 9, 1, 9}, geo::Frame{3, 7, 0, 5}})
            std::fprintf(out, "%.17g %.17g %.17g %.17g;%s;%s\n", f.west, f.south, f.east, f.north,
                         ("POLYGON " + wkt(meant[i])).c_str(), wkt(geo::clip_polygon(given[i], f)).c_str());
    std::fclose(out);
    const auto r = run_command(support_script("compare_clips.py") + " " + cases + " 2>&1");
    EXPECT_EQ(r.output, "6 cases\n");
}

// Rings as touching_holes.py writes them: "x y x y ...|x y ...".
geo::Polygon rings_of(const std::string &text) {
    geo::Polygon rings;
    std::istringstream in(text);
    for (std::string ring; std::getline(in, ring, '|');) {
        std::istringstream numbers(ring);
        rings.emplace_back();
        for (geo::Point p; numbers >> p.lon >> p.lat;) rings.back().push_back(p);
    }
    return rings;
}

geo::Polygon shifted(geo::Polygon polygon, double by) {
    for (auto &ring : polygon)
        for (auto &p : ring) p.lon += by;
    return polygon;
}

// Holes that touch their exterior or each other at a point: at a vertex of
// both, a vertex of one in the middle of an edge of the other, across 180
// too. Where the box cuts such a polygon, pieces of the exterior and of the
// holes join into rings that must still be simple, and a region the cut
// pinches into pieces must come out as separate polygons. The polygons
// (valid by GEOS) and boxes come from a seeded generator, on a binary grid
// where touches are exact, and in decimal tenths, where a touch point lies
// a hair off the other ring and the clip's rounded cuts must not cross it.
class HolesTouching : public ::testing::TestWithParam<const char *> {};

TEST_P(HolesTouching, ClipValid) {
    const auto generated = run_command(support_script("touching_holes.py") + " " + GetParam() + " 2>&1");
    ASSERT_EQ(generated.status, 0) << generated.output;
    TempDir dir;
    const std::string cases = dir.file("cases.txt");
    FILE *out = std::fopen(cases.c_str(), "w");
    ASSERT_NE(out, nullptr);
    size_t turned = 0;  // rings the wrong way round: exteriors go counter-clockwise, holes clockwise
    auto write = [out, &turned](const geo::Frame &f, const geo::Polygon &source,
                                const std::vector<geo::Polygon> &clip) {
        for (const geo::Polygon &part : clip)
            for (size_t r = 0; r < part.size(); ++r) turned += (geo::signed_area2(part[r]) > 0) != (r == 0);
        std::fprintf(out, "%.17g %.17g %.17g %.17g;%s;%s\n", f.west, f.south, f.east, f.north,
                     ("POLYGON " + wkt(source)).c_str(), wkt(clip).c_str());
    };
    size_t count = 0;
    for (const std::string &line : lines_of(generated.output)) {
        std::string field[4];
        std::istringstream fields(line);
        for (auto &f : field) std::getline(fields, f, ';');
        geo::Frame f{};
        std::istringstream(field[1]) >> f.west >> f.south >> f.east >> f.north;
        const geo::Polygon source = rings_of(field[2]), input = rings_of(field[3]);
        if (field[0] == "plain") {
            write(f, source, geo::clip_polygon(input, f));
            ++count;
            continue;
        }
        // GeoJSON's clip comes in two pieces, west and east of 180, the
        // east one moved a turn west; each is judged on its own.
        std::vector<geo::Polygon> west, east;
        for (auto &part : geo::clip_polygon_rfc7946(input, f)) {
            double most = -1e9;
            for (const auto &p : part[0]) most = p.lon > most ? p.lon : most;
            (most > (f.west + f.east - 360) / 2 ? west : east).push_back(std::move(part));
        }
        write({f.west, 180, f.south, f.north}, source, west);
        write({-180, f.east - 360, f.south, f.north}, shifted(source, -360), east);
        count += 2;
    }
    std::fclose(out);
    ASSERT_GT(count, 500u);
    EXPECT_EQ(turned, 0u);
    const auto r = run_command(support_script("compare_clips.py") + " " + cases + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, std::to_string(count) + " cases\n");
}

INSTANTIATE_TEST_SUITE_P(Geometry, HolesTouching, ::testing::Values("1 200", "8 200 tenths"), [](const auto &info) {
    return std::string(info.param).find("tenths") != std::string::npos ? "Tenths" : "Sixteenths";
});

// A ring inside the frame, clear of its edges, is its own clip without the
// full clip's work, moved by whole turns into the frame if need be; it
// comes out as the full clip gives the same ring a turn away in a frame
// that its corners touch: points that repeat their predecessor dropped, no
// closing point, counter-clockwise. Rings across or on an edge, or with an
// edge of half a turn or more, take the full clip.
TEST(Geometry, RingsInsideTheFrameComeOutAsTheFullClipGivesThem) {
    const geo::Ring star = {{-165, 10}, {-160, 12}, {-160, 12}, {-163, 14}, {-165, 20}, {-167, 14}, {-170, 12}};
    std::vector<geo::Polygon> given = {{star}, {reversed(star)}, {star}};
    given[2][0].push_back(star[0]);
    given[2][0].push_back(star[0]);
    std::rotate(given[1][0].begin(), given[1][0].begin() + 2, given[1][0].end());
    for (const geo::Polygon &polygon : given) {
        const auto own = geo::clip_polygon(polygon, geo::frame_of(-175, -155, 0, 30));
        const auto moved = geo::clip_polygon(polygon, geo::frame_of(180, -150, 0, 30));
        const auto full = geo::clip_polygon(polygon, geo::frame_of(190, -160, 10, 20));
        ASSERT_EQ(own.size(), 1u);
        ASSERT_EQ(moved.size(), 1u);
        ASSERT_EQ(moved[0].size(), 1u);
        EXPECT_TRUE(std::equal(
            own[0][0].begin(), own[0][0].end(), moved[0][0].begin(), moved[0][0].end(),
            [](const geo::Point &p, const geo::Point &q) { return p.lon + 360 == q.lon && p.lat == q.lat; }));
        ASSERT_EQ(full.size(), 1u);
        ASSERT_EQ(own[0].size(), 1u);
        ASSERT_EQ(full[0].size(), 1u);
        ASSERT_EQ(own[0][0].size(), 6u);
        EXPECT_GT(geo::signed_area2(own[0][0]), 0);
        // The full clip's ring may start elsewhere.
        const auto &a = own[0][0], &b = full[0][0];
        const auto start = std::find_if(b.begin(), b.end(), [&](const geo::Point &p) {
            return std::fabs(p.lon - 360 - a[0].lon) < 1e-9 && p.lat == a[0].lat;
        });
        ASSERT_NE(start, b.end());
        for (size_t i = 0; i < a.size(); ++i) {
            const geo::Point &q = b[(static_cast<size_t>(start - b.begin()) + i) % b.size()];
            EXPECT_NEAR(a[i].lon, q.lon - 360, 1e-9) << i;
            EXPECT_EQ(a[i].lat, q.lat) << i;
        }
        const auto rfc = geo::clip_polygon_rfc7946(polygon, geo::frame_of(-175, -155, 0, 30));
        ASSERT_EQ(rfc.size(), 1u);
        ASSERT_EQ(rfc[0].size(), 1u);
        EXPECT_TRUE(
            std::equal(a.begin(), a.end(), rfc[0][0].begin(), rfc[0][0].end(),
                       [](const geo::Point &p, const geo::Point &q) { return p.lon == q.lon && p.lat == q.lat; }));
    }
    // On the frame's edge, or with an edge of half a turn (which the short
    // way takes round the other side): the full clip.
    const geo::Polygon touching = {{{-170, 0}, {-160, 0}, {-165, 10}}};
    EXPECT_EQ(geo::clip_polygon(touching, geo::frame_of(-175, -155, 0, 30)).size(), 1u);
    const geo::Polygon wide = {{{-100, 10}, {100, 10}, {0, 20}}};
    bool cut = false;
    for (const auto &part : geo::clip_polygon(wide, geo::frame_of(-180, 180, 0, 30)))
        for (const geo::Point &p : part[0]) cut = cut || std::fabs(p.lon) == 180;
    EXPECT_TRUE(cut);
}

// The same for lines: one inside the frame, clear of its edges, comes out
// as the full clip gives it in a frame that its ends and corners touch,
// with repeated points dropped, whole turns away or not.
TEST(Geometry, LinesInsideTheFrameComeOutAsTheFullClipGivesThem) {
    const geo::Line line = {{-165, 10}, {-160, 12}, {-160, 12}, {-163, 14}, {-165, 20}, {-170, 12}};
    const auto own = geo::clip_line(line, geo::frame_of(-175, -155, 0, 30));
    const auto moved = geo::clip_line(line, geo::frame_of(180, -150, 0, 30));
    const auto full = geo::clip_line(line, geo::frame_of(190, -160, 10, 20));
    const auto rfc = geo::clip_line_rfc7946(line, geo::frame_of(-175, -155, 0, 30));
    for (const auto *clip : {&own, &moved, &full, &rfc}) {
        ASSERT_EQ(clip->size(), 1u);
        ASSERT_EQ(clip->front().size(), 5u);
    }
    auto turned = [](double by) {
        return [by](const geo::Point &p, const geo::Point &q) { return p.lon + by == q.lon && p.lat == q.lat; };
    };
    const geo::Line &a = own[0];
    EXPECT_TRUE(std::equal(a.begin(), a.end(), moved[0].begin(), turned(360)));
    EXPECT_TRUE(std::equal(a.begin(), a.end(), full[0].begin(), turned(360)));
    EXPECT_TRUE(std::equal(a.begin(), a.end(), rfc[0].begin(), turned(0)));
    EXPECT_EQ(a[1].lon, -160);
    EXPECT_EQ(a[2].lon, -163);
}

TEST(Geometry, FramesRunEastFromTheWestEdge) {
    const struct {
        double west, east, want_east;
    } cases[] = {{-180, 180, 180}, {160, 200, 200}, {170, -170, 190}, {10, 10, 370}, {0, 720, 360}, {10, -710, 370}};
    for (const auto &c : cases) {
        const geo::Frame f = geo::frame_of(c.west, c.east, -10, 10);
        EXPECT_EQ(f.west, c.west);
        EXPECT_EQ(f.east, c.want_east) << c.west << "/" << c.east;
    }
    // Longitudes too far out for steps of a turn keep their place in it.
    for (const double far : {1e17, -4e18, 1e300}) {
        const geo::Frame f = geo::frame_of(far, far, -10, 10);
        EXPECT_LT(std::fabs(f.west), 360) << far;
        EXPECT_EQ(f.east, f.west + 360) << far;
        const geo::Frame g = geo::frame_of(far, -far, -10, 10);
        EXPECT_GT(g.east, g.west) << far;
        EXPECT_LE(g.east, g.west + 360) << far;
    }
}

TEST(Geometry, CoordinatesTooFarOutToBeGeographyEndQuickly) {
    const geo::Frame world = geo::frame_of(-180, 180, -90, 90);
    const geo::Polygon far = {{{-1e300, 0}, {1e300, 1}, {1e300, 2}}};
    EXPECT_TRUE(geo::clip_polygon(far, world).empty());
    EXPECT_TRUE(geo::clip_line({{1e300, 0}, {1e299, 1}}, world).empty());
}

// A line may wind round the globe many times: it is clipped turn by turn
// as it goes, once, each part where it lies. A ring that winds is no
// polygon, and is refused in one line.
TEST(Geometry, WindingLinesClipOnceAndWindingRingsAreRefused) {
    geo::Line winding;  // east along the equator, 999 turns in steps of 10 degrees
    for (int i = 0; i <= 999 * 36; ++i) winding.push_back({std::remainder(10.0 * i, 360), 0});
    const auto parts = geo::clip_line(winding, geo::frame_of(15, 45, -1, 1));
    ASSERT_EQ(parts.size(), 999u);
    for (const auto &part : parts) {
        ASSERT_EQ(part.size(), 5u);  // 15, 20, 30, 40, 45
        EXPECT_EQ(part.front().lon, 15);
        EXPECT_EQ(part.back().lon, 45);
    }
    // In the world's frame: 0 to 180, 998 whole turns from -180 to 180, then -180 to 0.
    EXPECT_EQ(geo::clip_line(winding, geo::frame_of(-180, 180, -1, 1)).size(), 1000u);

    geo::Ring strip;  // 999 turns east along 0N, and back along 1N
    for (int i = 0; i <= 999 * 36; ++i) strip.push_back({std::remainder(10.0 * i, 360), 0});
    for (int i = 999 * 36; i >= 0; --i) strip.push_back({std::remainder(10.0 * i, 360), 1});
    try {
        geo::clip_polygon({strip}, geo::frame_of(-180, 180, -90, 90));
        FAIL() << "a winding ring was clipped";
    } catch (const vorpix::cli::InputError &e) {
        EXPECT_STREQ(e.what(), "a ring that runs over 999 turns of longitude is not a polygon");
    }
}

}  // namespace

namespace {

// The text lower-cased, so that "NaN" and "Inf" are found as well.
std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The largest magnitude among the numbers in a text.
double largest_number(const std::string &text) {
    static const std::regex number(R"(-?[0-9]+(\.[0-9]+)?(e[-+]?[0-9]+)?)");
    double largest = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), number); it != std::sregex_iterator(); ++it)
        largest = std::max(largest, std::fabs(std::stod(it->str())));
    return largest;
}

}  // namespace

// Whatever points reach them, the canvases write neither "nan" nor "inf"
// nor numbers that overflowed on their way to text (the SVG's tenths of a
// pixel are integers), and cairo draws them without harm: points that are
// not numbers are left out, points too far out are brought in (to a million
// pixels, so that no step from one point to the next is over two million).
TEST(Canvas, PointsThatAreNotNumbersOrTooFarOutAreNeverWritten) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const std::vector<vorpix::cli::PixelPath> paths = {
        {{10, 10}, {nan, nan}, {90, 90}},
        {{nan, 5}, {5, nan}},
        {{0, 0}, {1e300, -1e300}, {inf, -inf}, {-1.7e308, 50}},
        {{20, 20}, {1e19, 30}, {40, 40}},
    };
    for (const bool closed : {false, true}) {
        const auto svg = vorpix::cli::svg_canvas(100, 100);
        svg->path(paths, closed, {0xff00ff00u, 0xff0000ffu, 1, 0});
        const std::string text = lower(svg->finish());
        EXPECT_EQ(text.find("nan"), std::string::npos) << text;
        EXPECT_EQ(text.find("inf"), std::string::npos) << text;
        EXPECT_LE(largest_number(text), 2e6) << text;
        EXPECT_NE(text.find("m10 10l80 80"), std::string::npos) << text;

        const auto png = vorpix::cli::png_canvas(100, 100);
        png->path(paths, closed, {0xff00ff00u, 0xff0000ffu, 1, 0});
        EXPECT_EQ(png->finish().substr(1, 3), "PNG");
    }
}

// The GeoJSON and SVG writers of the shapes command: a box holds only
// finite numbers, degrees beyond a float's range or too large to round
// to a billionth are written as they are, and a picture of the largest
// doubles has a size and places that are numbers.
TEST(Canvas, GeoJsonAndSvgWritersNeverWriteNumbersThatAreNotFinite) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        const char *text;
    } degrees[] = {{0.5, "0.5"},  {1e300, "1e+300"}, {-3e38, "-3e+38"}, {1e16 + 2, "10000000000000002"},
                   {nan, "null"}, {inf, "null"},     {-inf, "null"}};
    for (const auto &d : degrees) {
        std::string text;
        vorpix::features::json_degrees(d.value, text);
        EXPECT_EQ(text, d.text) << d.value;
    }

    vorpix::features::LonLatBox box;
    const double lons[] = {nan, 1, inf, 3, 2}, lats[] = {0, 2, 3, -inf, 4};
    box.add(lons, lats, 5);
    box.add(&nan, &nan, 1);
    std::string box_text;
    box.json(box_text, vorpix::features::json_degrees);
    EXPECT_EQ(box_text, "[1,2,2,4]");

    const double big = 1.7e308;
    vorpix::cli::SvgMap map(vorpix::cli::Box{-big, big, -big, big}, 1000);
    const double lon[] = {-big, 0, big, nan}, lat[] = {-big, 0, big, 0};
    map.element(map.path_data(lon, lat, 4, true));
    const std::string text = lower(map.finish());
    EXPECT_EQ(text.find("nan"), std::string::npos) << text;
    EXPECT_EQ(text.find("inf"), std::string::npos) << text;
    EXPECT_NE(text.find("m0.00 1000.00l500.00 500.00l1000.00 0.00z"), std::string::npos) << text;
}
