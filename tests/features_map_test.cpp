// The feature layer's readers of the library's map files: shorelines
// (features::ShorelineReader) on files written here polygon by polygon, and
// borders and rivers (features::BorderReader) against scipy's reading of an
// ncgen-made border file (tests/fixtures/netcdf/border_oracle.py).
#include "byte_writer.hpp"
#include "feature_checks.hpp"
#include "test_files.hpp"
#include "under_valgrind.hpp"
#include "vorpix/map_readers.hpp"

#include "datafile.h"
#include "gshhsmap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace vorpix::test;
namespace features = vorpix::features;

namespace {

// One polygon of a shoreline file: its points in degrees (micro-degrees in
// the file), its extent taken from them unless given.
struct Shape {
    int id, level;
    std::vector<std::pair<double, double>> points;
    int container = -1;
};

std::int32_t micro(double degrees) { return static_cast<std::int32_t>(std::lround(degrees * 1e6)); }

// A version 7 file (44-byte headers) of the shapes, in order.
std::vector<unsigned char> shoreline_bytes(const std::vector<Shape> &shapes) {
    std::vector<unsigned char> out;
    for (const Shape &s : shapes) {
        double west = 1e9, east = -1e9, south = 1e9, north = -1e9;
        for (const auto &[lon, lat] : s.points) {
            west = std::min(west, lon), east = std::max(east, lon);
            south = std::min(south, lat), north = std::max(north, lat);
        }
        for (const std::int32_t v : {s.id, static_cast<std::int32_t>(s.points.size()), (7 << 8) | s.level, micro(west),
                                     micro(east), micro(south), micro(north), 10, 10, s.container, -1})
            put_be32(out, static_cast<std::uint32_t>(v));
        for (const auto &[lon, lat] : s.points)
            put_be32(out, static_cast<std::uint32_t>(micro(lon))),
                put_be32(out, static_cast<std::uint32_t>(micro(lat)));
    }
    return out;
}

std::vector<std::pair<double, double>> square(double west, double south, double size, bool clockwise = false) {
    if (clockwise) return {{west, south}, {west, south + size}, {west + size, south + size}, {west + size, south}};
    return {{west, south}, {west + size, south}, {west + size, south + size}, {west, south + size}};
}

// A ring round the south pole at a latitude, a point every 30 degrees.
std::vector<std::pair<double, double>> round_the_pole(double lat) {
    std::vector<std::pair<double, double>> ring;
    for (int lon = -180; lon < 180; lon += 30) ring.push_back({lon, lat});
    return ring;
}

// A shoreline file written into a directory of its own.
class ShoreFile {
public:
    explicit ShoreFile(const std::vector<Shape> &shapes) : ShoreFile(shoreline_bytes(shapes)) {}
    explicit ShoreFile(const std::vector<unsigned char> &bytes) : path_(dir_.file("shore.b")) {
        write_file(path_, bytes.data(), bytes.size());
    }
    const std::string &path() const { return path_; }

private:
    TempDir dir_;
    std::string path_;
};

features::ShorelineOptions options(const std::string &kinds, features::Box box = {-180, 180, -90, 90}) {
    features::ShorelineOptions o;
    o.kinds = kinds;
    o.box = box;
    return o;
}

// The area of a polygon geometry: exteriors less holes.
double area(const features::Geometry &g) {
    double sum = 0;
    for (std::size_t r = 0; r < g.run_count(); ++r) sum += area2(g, r) / 2;
    return sum;
}

// Lakes (2) and islands in them (3) come before and among the land (1) in
// the file, a pond (4) in the middle, some rings clockwise; one land square
// lies far east of the others.
const std::vector<Shape> nested = {
    {10, 2, square(1, 1, 2)},   {11, 1, square(0, 0, 10, true)},    {12, 4, square(1.5, 1.5, 0.5)},
    {13, 1, square(20, 20, 5)}, {14, 3, square(1.2, 1.2, 1, true)}, {15, 2, square(21, 21, 1)},
    {16, 1, square(100, 0, 5)},
};

struct OrderCase {
    const char *kinds;
    features::Box box;
    std::vector<int> ids;
    std::string kind_letters;  // of each feature
};

void PrintTo(const OrderCase &c, std::ostream *out) {
    *out << c.kinds << " " << c.box.west << "/" << c.box.east << "/" << c.box.south << "/" << c.box.north;
}

class ShorelineOrder : public testing::TestWithParam<OrderCase> {};

// Kind by kind in the order the words name them, then level by level, in
// file order within a level; levels and the box select.
TEST_P(ShorelineOrder, KindThenLevelThenFileOrder) {
    const OrderCase &c = GetParam();
    const ShoreFile file(nested);
    features::ShorelineReader reader(file.path(), options(c.kinds, c.box));
    std::vector<int> ids;
    std::string kinds;
    for (const auto &f : all_features(reader)) {
        ids.push_back(static_cast<int>(f.id));
        kinds += f.values[features::ShorelineReader::Kind].text;
        const long level = f.values[features::ShorelineReader::Level].integer;
        EXPECT_EQ(f.values[features::ShorelineReader::Id].integer, f.id);
        const std::string type = f.values[features::ShorelineReader::Type].text;
        if (kinds.back() == 'f') {
            EXPECT_EQ(type, level % 2 ? "l" : "w") << f.id;
            expect_rings_in_order(f.geometry, "polygon " + std::to_string(f.id));
            EXPECT_EQ(f.geometry.type, features::GeometryType::Polygon);
        } else {
            EXPECT_EQ(type, "c") << f.id;
            EXPECT_EQ(f.geometry.type, features::GeometryType::LineString);
        }
    }
    EXPECT_EQ(ids, c.ids) << c.kinds;
    EXPECT_EQ(kinds, c.kind_letters) << c.kinds;
}

const features::Box near_greenwich{0, 50, 0, 50};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Files, ShorelineOrder, testing::Values(
    OrderCase{"f:0", near_greenwich, {11, 13, 10, 15, 14, 12}, "ffffff"},
    OrderCase{"c:0 f:0", near_greenwich, {11, 13, 10, 15, 14, 12, 11, 13, 10, 15, 14, 12}, "ccccccffffff"},
    OrderCase{"f:2 c:1", near_greenwich, {10, 15, 11, 13}, "ffcc"},
    OrderCase{"f:5", near_greenwich, {11, 13, 14}, "fff"},            // levels 1 and 3
    OrderCase{"f:1", {-180, 180, -90, 90}, {11, 13, 16}, "fff"},
    OrderCase{"f:0", {19, 30, 19, 30}, {13, 15}, "ff"},               // the first land's lakes lie outside
    OrderCase{"c:0 f:0 c:1", {90, 110, -10, 10}, {16, 16}, "cf"},     // two words at most
    OrderCase{"p:7 r:1", near_greenwich, {}, ""}));
// clang-format on

// Kinds that name neither c nor f look for no file.
TEST(ShorelineReader, KindsOfNoShorelineReadNoFile) {
    features::ShorelineReader reader("/nonexistent/shore.b", options("p:7"));
    features::Feature f;
    EXPECT_FALSE(reader.next(f));
    EXPECT_EQ(reader.path(), "");
}

struct SeamCase {
    const char *name;
    std::vector<std::pair<double, double>> points;  // 175..185 by 0..10, stored as given
    bool rfc7946;
};

void PrintTo(const SeamCase &c, std::ostream *out) { *out << c.name; }

class ShorelineSeam : public testing::TestWithParam<SeamCase> {};

// A square across 180, stored continuously or on both sides of the seam,
// in a box given east below west: GeoJSON's form cuts it at the
// antimeridian into two halves within +-180; the box's own frame keeps it
// whole from 175 to 185. Outlines alike.
TEST_P(ShorelineSeam, BoxAcrossTheSeamKeepsBothSides) {
    const SeamCase &c = GetParam();
    const ShoreFile file({{20, 1, c.points}});
    for (const char *kinds : {"f:0", "c:0"}) {
        auto o = options(kinds, {170, -170, -5, 5});
        o.rfc7946 = c.rfc7946;
        features::ShorelineReader reader(file.path(), o);
        const auto all = all_features(reader);
        ASSERT_EQ(all.size(), 1u) << kinds;
        const features::Geometry &g = all[0].geometry;
        double west = 1e9, east = -1e9;
        for (std::size_t i = 0; i < g.x.size(); ++i) {
            west = std::min(west, g.x[i]), east = std::max(east, g.x[i]);
            EXPECT_TRUE(g.y[i] >= 0 && g.y[i] <= 5) << g.y[i];
        }
        if (c.rfc7946) {
            EXPECT_EQ(west, -180) << kinds;
            EXPECT_EQ(east, 180) << kinds;
            for (const double x : g.x) EXPECT_TRUE(x >= 175 || x <= -175) << x;
        } else {
            EXPECT_EQ(west, 175) << kinds;
            EXPECT_EQ(east, 185) << kinds;
        }
        if (kinds[0] == 'f') {
            EXPECT_EQ(g.type, c.rfc7946 ? features::GeometryType::MultiPolygon : features::GeometryType::Polygon);
            EXPECT_NEAR(area(g), 50, 1e-9);
            expect_rings_in_order(g, c.name);
        } else {
            // The outline inside the box: up the west side, down the east
            // side and along the south edge; the north edge lies outside.
            double length = 0;
            for (std::size_t r = 0; r < g.run_count(); ++r)
                for (std::size_t i = g.runs[r]; i + 1 < g.runs[r + 1]; ++i)
                    length += std::hypot(g.x[i + 1] - g.x[i], g.y[i + 1] - g.y[i]);
            EXPECT_NEAR(length, 20, 1e-9) << c.name;
        }
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Storings, ShorelineSeam, testing::Values(
    SeamCase{"ContinuousGeoJson", {{175, 0}, {185, 0}, {185, 10}, {175, 10}}, true},
    SeamCase{"BothSidesGeoJson", {{175, 0}, {-175, 0}, {-175, 10}, {175, 10}}, true},
    SeamCase{"ContinuousInTheFrame", {{175, 0}, {185, 0}, {185, 10}, {175, 10}}, false},
    SeamCase{"BothSidesInTheFrame", {{175, 0}, {-175, 0}, {-175, 10}, {175, 10}}, false}),
    [](const testing::TestParamInfo<SeamCase> &info) { return std::string(info.param.name); });
// clang-format on

// Antarctica: the ice front (level 5) is land by default, the grounding
// line (level 6, naming the ice front as its container) on request; an
// island that names no container is land either way. Each goes round the
// pole and is closed along it; GeoJSON's form splits the edge along the
// pole, half a turn or more, so that no reader takes it for one across the
// antimeridian.
TEST(ShorelineReader, AntarcticaAtItsIceFrontOrGroundingLine) {
    const ShoreFile file(
        {{30, 5, round_the_pole(-70)}, {31, 6, round_the_pole(-75), 30}, {32, 1, square(-60, -62, 1)}});
    const struct {
        features::AntarcticOutline outline;
        int continent;
        double area;  // from the pole to the outline's latitude, a whole turn
    } rows[] = {{features::AntarcticOutline::IceFront, 30, 20 * 360.0},
                {features::AntarcticOutline::GroundingLine, 31, 15 * 360.0}};
    for (const auto &row : rows) {
        auto o = options("f:0", {-180, 180, -90, -60});
        o.antarctica = row.outline;
        features::ShorelineReader reader(file.path(), o);
        const auto all = all_features(reader);
        ASSERT_EQ(all.size(), 2u);
        EXPECT_EQ(all[0].id, row.continent);
        EXPECT_EQ(all[1].id, 32);
        for (const auto &f : all) EXPECT_EQ(f.values[features::ShorelineReader::Level].integer, 1);
        const features::Geometry &g = all[0].geometry;
        EXPECT_NEAR(area(g), row.area, 1e-6);
        expect_rings_in_order(g, "the continent");
        bool at_pole = false;
        for (std::size_t i = 0; i + 1 < g.x.size(); ++i) {
            EXPECT_LT(std::fabs(g.x[i + 1] - g.x[i]), 180) << i;
            at_pole = at_pole || g.y[i] == -90;
        }
        EXPECT_TRUE(at_pole);
    }
}

// The antipode flag tests the whole polygon, not its part in the box.
TEST(ShorelineReader, AntipodeIsTestedAgainstTheWholePolygon) {
    const ShoreFile file({{40, 1, square(10, 10, 10)}});
    const struct {
        double lonref, latref;
        long antipode;
    } rows[] = {{-165, -15, 1}, {195, -15, 1}, {0, 0, 0}, {-165, 15, 0}};
    for (const auto &row : rows) {
        auto o = options("f:0 c:0", {0, 12, 0, 12});
        o.lonref = row.lonref, o.latref = row.latref;
        features::ShorelineReader reader(file.path(), o);
        const auto all = all_features(reader);
        ASSERT_EQ(all.size(), 2u);
        for (const auto &f : all)
            EXPECT_EQ(f.values[features::ShorelineReader::Antipode].integer, row.antipode)
                << row.lonref << "/" << row.latref;
    }
}

// A file cut short is refused where the reading reaches the cut, naming the
// polygon and the bytes where they lie in the file, though the file is read
// through a window.
TEST(ShorelineReader, CutFilesNameThePolygonAndItsBytes) {
    const auto whole = shoreline_bytes({{1, 1, square(0, 0, 1)}, {2, 1, square(2, 2, 1)}});
    ASSERT_EQ(whole.size(), 152u);  // two polygons of 44 + 4 * 8 bytes
    const struct {
        size_t cut;
        std::string message;
    } rows[] = {
        {136, ": polygon 1 at byte 76: 4 points at byte 120 need 32 bytes, 16 remain"},
        {96, ": polygon 1 at byte 76: header at byte 76 needs at least 32 bytes, 20 remain"},
        {116, ": polygon 1 at byte 76: version 7 header at byte 76 needs 44 bytes, 40 remain"},
    };
    for (const auto &row : rows) {
        const ShoreFile file(std::vector<unsigned char>(whole.begin(), whole.begin() + static_cast<long>(row.cut)));
        features::ShorelineReader reader(file.path(), options("f:0"));
        const auto e = error_of([&] {
            for (features::Feature f; reader.next(f);) EXPECT_EQ(f.id, 1) << row.cut;  // the polygon before the cut
        });
        EXPECT_EQ(e.what(), file.path() + row.message) << row.cut;
        EXPECT_EQ(e.file(), file.path());
        EXPECT_EQ(e.code(), features::ErrorCode::Invalid);
    }
}

// A resolution is found in the data directories as the library finds it,
// and the caller hears of the file before it is read; a resolution that is
// not installed gives the caller's message.
TEST(ShorelineReader, FilesAreFoundAndMissingOnesNamed) {
    std::vector<std::string> opened;
    auto o = options("f:1", {-10, 10, 40, 60});
    o.resolution = "crude";
    o.opened = [&opened](const std::string &path) { opened.push_back(path); };
    features::ShorelineReader reader(o);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], reader.path());
    EXPECT_EQ(reader.path().substr(reader.path().size() - 21), "maps/vorpix/gshhs_c.b");
    features::Feature f;
    EXPECT_TRUE(reader.next(f));

    char *full = datafile(nullptr, "maps/vorpix/gshhs_f.b");
    std::free(full);
    if (full) GTEST_SKIP() << "the full resolution is installed";
    o.resolution = "f";
    o.missing = [](const std::string &relative) { return "no " + relative; };
    const auto e = error_of([&] { features::ShorelineReader missing(o); });
    EXPECT_STREQ(e.what(), "no maps/vorpix/gshhs_f.b");
    EXPECT_EQ(e.code(), features::ErrorCode::Io);
}

// The peak of the process's resident memory, in kilobytes.
long peak_resident_kb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

// The whole world's intermediate land and water, read and dropped feature
// by feature, needs the largest polygon, not the file (5 MB) nor every
// feature (over 60 MB when they were held to be sorted by level).
TEST(ShorelineReader, MemoryHoldsAFeatureNotTheWorld) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's quarantine keeps freed memory resident";
#endif
    if (RUNNING_ON_VALGRIND) GTEST_SKIP() << "valgrind's own memory counts as the process's";
    auto o = options("f:0 c:0");
    o.resolution = "i";
    const long before = peak_resident_kb();
    features::ShorelineReader reader(o);
    long count = 0;
    for (features::Feature f; reader.next(f);) ++count;
    EXPECT_GT(count, 30000);
    EXPECT_LT(peak_resident_kb() - before, 24000);
}

// ---------------------------------------------------------------------------
// Borders and rivers

features::BorderOptions border_options(const std::string &kinds, features::Box box, bool rfc7946 = true) {
    features::BorderOptions o;
    o.resolution = "c";
    o.kinds = kinds;
    o.box = box;
    o.rfc7946 = rfc7946;
    return o;
}

// Segments wholly inside their box come as the library's selection takes
// them (bin by bin, the segments of a bin in order) and its delivery gives
// them, judged by scipy's reading of the file: level, point count and end
// points, longitudes from 330 on moved a turn west. Segments without points
// are left out. Ids count the features.
TEST(BorderReader, SegmentsComeInTheSelectionsOrder) {
    const std::string file = fixture_path("netcdf/border_good.nc");
    const DataRoot root({{"binned_border_c.cdf", "netcdf/border_good.nc"}});
    const auto oracle = run_command(python_command() + " -c \"import sys; sys.argv = ['', '" + file +
                                    "', '1']; sys.path.insert(0, '" + fixture_path("netcdf") + "'); exec(open('" +
                                    fixture_path("netcdf/border_oracle.py") + "').read())\"");
    ASSERT_EQ(oracle.status, 0) << oracle.output;
    std::istringstream lines(oracle.output);
    std::string word;
    double w, e, s, n;
    int mask, count;
    ASSERT_TRUE(lines >> word >> mask >> w >> e >> s >> n >> count) << oracle.output;
    ASSERT_EQ(mask, 7);
    features::BorderReader reader(
        border_options("p:7", {w, e, s, n}));  // bins of 10 degrees: every segment lies in the box
    long id = 0;
    for (int k = 0; k < count; ++k) {
        double lon0, lat0;
        int level, points;
        float first_lon, first_lat, last_lon, last_lat;
        ASSERT_TRUE(lines >> lon0 >> lat0 >> level >> points >> first_lon >> first_lat >> last_lon >> last_lat);
        if (points == 0) continue;
        features::Feature f;
        ASSERT_TRUE(reader.next(f)) << "segment " << k;
        EXPECT_EQ(f.id, id++);
        EXPECT_EQ(f.values[features::BorderReader::Kind].text, "border");
        EXPECT_EQ(f.values[features::BorderReader::Type].text, "p");
        EXPECT_EQ(f.values[features::BorderReader::Level].integer, level) << k;
        const features::Geometry &g = f.geometry;
        ASSERT_EQ(g.type, features::GeometryType::LineString) << k;
        ASSERT_EQ(g.x.size(), static_cast<size_t>(points)) << k;
        auto west_of_180 = [](float lon) { return lon > 180 ? double(lon) - 360 : double(lon); };
        EXPECT_EQ(g.x.front(), west_of_180(first_lon)) << k;
        EXPECT_EQ(g.y.front(), first_lat) << k;
        EXPECT_EQ(g.x.back(), west_of_180(last_lon)) << k;
        EXPECT_EQ(g.y.back(), last_lat) << k;
    }
    features::Feature f;
    EXPECT_FALSE(reader.next(f));
    EXPECT_GT(id, 3);
}

// A box given with its east edge below its west one runs across 180: the
// same lines as the box given from 170 to 190, cut at the antimeridian into
// +-180 for GeoJSON, or in the box's own frame.
TEST(BorderReader, BoxAcrossTheSeamClipsToTheBox) {
    const DataRoot root({{"binned_border_c.cdf", "netcdf/border_good.nc"}});
    for (const bool rfc7946 : {true, false}) {
        size_t counts[2] = {0, 0};
        const features::Box boxes[2] = {{170, -170, 30, 40}, {170, 190, 30, 40}};
        for (int b = 0; b < 2; ++b) {
            features::BorderReader reader(border_options("p:7", boxes[b], rfc7946));
            for (features::Feature f; reader.next(f); ++counts[b])
                for (size_t i = 0; i < f.geometry.x.size(); ++i) {
                    const double lon = f.geometry.x[i], lat = f.geometry.y[i];
                    if (rfc7946) EXPECT_TRUE((lon >= 170 && lon <= 180) || (lon >= -180 && lon <= -170)) << lon;
                    else EXPECT_TRUE(lon >= 170 && lon <= 190) << lon;
                    EXPECT_TRUE(lat >= 30 && lat <= 40) << lat;
                }
        }
        EXPECT_EQ(counts[0], 2u) << rfc7946;
        EXPECT_EQ(counts[1], counts[0]) << rfc7946;
    }
}

// The caller hears of each file the selection read; a file that does not
// bind, or is not installed, is one line naming it.
TEST(BorderReader, FilesAreNamedWhenReadAndWhenRefused) {
    const DataRoot root({{"binned_border_c.cdf", "netcdf/border_good.nc"}});
    std::vector<std::string> opened;
    auto o = border_options("p:7", {-30, 30, 30, 40});
    o.opened = [&opened](const std::string &path) { opened.push_back(path); };
    features::BorderReader reader(o);
    EXPECT_EQ(opened, std::vector<std::string>{root.path("binned_border_c.cdf")});
    {
        // A resolution of no letter the library knows is the intermediate one.
        const DataRoot intermediate({{"binned_border_i.cdf", "netcdf/border_good.nc"}});
        opened.clear();
        o.resolution = "x";
        features::BorderReader any(o);
        EXPECT_EQ(opened, std::vector<std::string>{intermediate.path("binned_border_i.cdf")});
    }

    const DataRoot zero({{"binned_border_l.cdf", "netcdf/border_zerobins.nc"}});
    o.resolution = "l";
    EXPECT_EQ(std::string(error_of([&] { features::BorderReader refused(o); }).what()),
              zero.path("binned_border_l.cdf") +
                  ": a file of 0 bins by 18 bins (648 in the file) cannot be binned; the counts must be positive");

    char *full = datafile(nullptr, "maps/vorpix/binned_river_f.cdf");
    std::free(full);
    if (full) GTEST_SKIP() << "the full-resolution rivers are installed";
    o.kinds = "r:1";
    o.resolution = "f";
    o.missing = [](const std::string &relative) { return "no " + relative; };
    const auto e = error_of([&] { features::BorderReader missing(o); });
    EXPECT_STREQ(e.what(), "no maps/vorpix/binned_river_f.cdf");
    EXPECT_EQ(e.code(), features::ErrorCode::Io);
}

// The layer walks the files with the library's header and point primitives
// rather than its selection (which leaves out the ice front and reduces the
// points); so the two must agree on which polygons each kind and level
// takes. On the bundled files, with Antarctica's grounding line (the outline
// the selection draws), the layer's polygons are the selection's, at the same
// levels: all of them over the whole world, and no others in smaller boxes,
// where the layer may leave out a polygon whose extent meets the box and
// whose shape does not.
TEST(ShorelineReader, SelectsAsTheLibrarySelects) {
    using Taken = std::set<std::pair<int, int>>;  // (id, level)
    const std::vector<features::Box> boxes = {{-180, 180, -90, 90}, {-20, 45, 30, 72}, {160, -150, -60, 10}};
    for (const char res : {'c', 'l'}) {
        const std::string path = std::string(VORPIX_SOURCE_DIR) + "/maps/vorpix/gshhs_" + res + ".b";
        const std::vector<unsigned char> bytes = read_file(path);
        void *map = nullptr;
        ASSERT_EQ(gshhsmap_open(&map), 0);
        std::string resolution(1, res);
        ASSERT_EQ(gshhsmap_use_data(map, resolution.c_str(), reinterpret_cast<const char *>(bytes.data()),
                                    static_cast<long>(bytes.size())),
                  0);
        for (const char *kinds : {"f:0", "f:1", "f:2", "f:12", "c:5", "c:0"})
            for (const features::Box &box : boxes) {
                const std::string what = resolution + " " + kinds + " box " + std::to_string(box.west) + "/" +
                                         std::to_string(box.east) + "/" + std::to_string(box.south);
                std::string types = kinds;
                ASSERT_GE(gshhsmap_select(map, types.data(), resolution.data(), box.west, box.east, box.south,
                                          box.north, 0, 0),
                          0)
                    << what;
                Taken library;
                for (const GSHHSHdr *hdr; (hdr = gshhsmap_peek(map)) != nullptr;) {
                    const int id = hdr->id;
                    int npts = 0, size = 0, level = 0, antipode = 0;
                    float *lon = nullptr, *lat = nullptr;
                    char type[2];  // the segment's type letter, as a string
                    ASSERT_EQ(gshhsmap_nextseg(map, &npts, &size, &lon, &lat, type, &level, &antipode), 1) << what;
                    std::free(lon);
                    std::free(lat);
                    library.insert({id, level});
                }
                features::ShorelineOptions o = options(kinds, box);
                o.antarctica = features::AntarcticOutline::GroundingLine;
                features::ShorelineReader reader(path, o);
                Taken layer;
                for (const features::Feature &f : all_features(reader))
                    layer.insert({static_cast<int>(f.id), static_cast<int>(f.values[2].integer)});
                if (&box == &boxes.front()) {
                    EXPECT_FALSE(layer.empty()) << what;
                    EXPECT_EQ(layer, library) << what;
                } else {
                    EXPECT_TRUE(std::includes(library.begin(), library.end(), layer.begin(), layer.end())) << what;
                }
            }
        gshhsmap_close(map);
    }
}

}  // namespace
