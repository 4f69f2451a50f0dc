// The bundled world shorelines (maps/vorpix/gshhs_[cli].b), read through the
// library: known land lies in land, known sea in no polygon, known lakes in
// lakes, at every bundled resolution; and each file agrees with the source
// numbers it was made from.
#include "gshhsmap.h"
#include "netcdf.h"

#include "test_files.hpp"
#include "under_valgrind.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

using vorpix::test::python_command;
using vorpix::test::read_file;
using vorpix::test::run_command;

namespace {

struct Polygon {
    GSHHSHdr hdr;
    std::vector<float> lon, lat;
};

std::int32_t be32(const unsigned char *p) {
    return static_cast<std::int32_t>(std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
                                     std::uint32_t{p[3]});
}

// Every polygon of a bundled file, walked with the header primitives.
const std::vector<Polygon> &world(char res) {
    static std::map<char, std::vector<Polygon>> cache;
    auto &polygons = cache[res];
    if (!polygons.empty()) return polygons;
    auto bytes = read_file(std::string(VORPIX_SOURCE_DIR) + "/maps/vorpix/gshhs_" + res + ".b");
    char *start = reinterpret_cast<char *>(bytes.data()), *stream = start;
    GSHHSHdr *hdr = nullptr;
    while (stream < start + bytes.size()) {
        EXPECT_EQ(gshhs_unstuff_hdr(&hdr, &stream), 0);
        Polygon &poly = polygons.emplace_back(Polygon{*hdr, {}, {}});
        const auto *p = reinterpret_cast<const unsigned char *>(stream);
        for (int i = 0; i < hdr->n; ++i, p += 8) {
            poly.lon.push_back(static_cast<float>(be32(p) * 1e-6));
            poly.lat.push_back(static_cast<float>(be32(p + 4) * 1e-6));
        }
        gshhs_skip_pts(hdr, &stream);
    }
    std::free(hdr);
    EXPECT_EQ(stream, start + bytes.size()) << "the last polygon ends with the file";
    return polygons;
}

// Levels of the polygons a selection can deliver (all but level 5) that hold the point.
std::vector<int> levels_holding(char res, float lon, float lat) {
    std::vector<int> levels;
    for (const auto &p : world(res)) {
        if (p.hdr.level == 5) continue;
        auto lons = p.lon, lats = p.lat;
        if (gshhsmap_inside_eo(lon, lat, p.hdr.n, lons.data(), lats.data())) levels.push_back(p.hdr.level);
    }
    std::sort(levels.begin(), levels.end());
    return levels;
}

// The same, through selection and delivery of the whole world: the point is
// made the antipode of the reference point, and each delivered polygon says
// whether it holds it.
std::vector<int> levels_delivered_holding(char res, double lon, double lat) {
    // Map objects are never released: one, kept reachable, serves every call.
    static void *map = nullptr;
    EXPECT_EQ(gshhsmap_open(&map), 0);
    char types[] = "f:0", resolution[] = {res, 0};
    EXPECT_GT(gshhsmap_select(map, types, resolution, -180, 180, -90, 90, lon + 180, -lat), 0);
    std::vector<int> levels;
    float *lons = nullptr, *lats = nullptr;
    int npts = 0, size = 0, level = 0, antipode = 0;
    char type[2];
    while (gshhsmap_nextseg(map, &npts, &size, &lons, &lats, type, &level, &antipode) == 1)
        if (antipode) levels.push_back(level);
    std::free(lons);
    std::free(lats);
    std::sort(levels.begin(), levels.end());
    return levels;
}

struct Place {
    const char *name;
    float lon, lat;
    std::vector<int> levels;  // of the polygons holding it: {1} land, {} sea, {1, 2} a lake
};

// clang-format off
const Place places[] = {
    {"Paris", 2.35f, 48.86f, {1}}, {"Nairobi", 36.82f, -1.29f, {1}}, {"Brasilia", -47.88f, -15.79f, {1}},
    {"Denver", -104.99f, 39.74f, {1}}, {"Novosibirsk", 82.93f, 55.03f, {1}}, {"Canberra", 149.13f, -35.28f, {1}},
    {"Chukotka west of the seam", 178.0f, 66.0f, {1}}, {"Chukotka east of the seam", -178.0f, 66.0f, {1}},
    {"Chukotka east of the seam, 0-360", 182.0f, 66.0f, {1}}, {"Viti Levu", 178.0f, -17.8f, {1}},
    {"South Pole at 0", 0.0f, -89.9f, {1}}, {"South Pole at 123E", 123.0f, -89.9f, {1}},
    {"South Pole at 60W", -60.0f, -89.9f, {1}}, {"South Pole at 180", 180.0f, -89.9f, {1}},
    {"mid-Pacific", -150.0f, 0.0f, {}}, {"mid-Atlantic", -30.0f, 30.0f, {}}, {"Indian Ocean", 80.0f, -20.0f, {}},
    {"Arctic Ocean", 0.0f, 88.0f, {}}, {"Arctic Ocean near the seam", 179.0f, 88.0f, {}},
    {"Southern Ocean", 0.0f, -60.0f, {}}, {"Lake Victoria", 33.0f, -1.0f, {1, 2}},
    {"Lake Superior", -87.5f, 47.6f, {1, 2}},
};
// clang-format on

// From the source files' N_polygons_in_file.
const std::map<char, size_t> source_polygons = {{'c', 1781}, {'l', 10717}, {'i', 41230}};

// Area on a sphere of the authalic radius, in km^2: the longitude steps times
// the mean sine of latitude along each edge, longitudes made continuous.
double area_km2(const Polygon &p) {
    const double r = 6371.0072, rad = M_PI / 180;
    double sum = 0, x = p.lon[0];
    for (int i = 0; i < p.hdr.n; ++i) {
        const int j = (i + 1) % p.hdr.n;
        double next = p.lon[j];
        while (next > x + 180) next -= 360;
        while (next < x - 180) next += 360;
        sum += (next - x) * rad * (std::sin(p.lat[i] * rad) + std::sin(p.lat[j] * rad)) / 2;
        x = next;
    }
    return std::fabs(sum) * r * r;
}

class WorldShorelines : public ::testing::TestWithParam<char> {};

}  // namespace

// Both by the even-odd test over the file's polygons and through selection
// and delivery of the whole world. The South Pole lies in Antarctica's
// grounding line (level 6, read as land), never in its ice front (level 5,
// never selected).
TEST_P(WorldShorelines, KnownPlacesLieInLandSeaOrLake) {
    for (const auto &place : places) {
        EXPECT_EQ(levels_holding(GetParam(), place.lon, place.lat), place.levels) << place.name;
        EXPECT_EQ(levels_delivered_holding(GetParam(), place.lon, place.lat), place.levels)
            << place.name << " delivered";
    }
}

TEST_P(WorldShorelines, EverySourcePolygonIsThereAndHeadersFitTheirPoints) {
    const auto &polygons = world(GetParam());
    ASSERT_EQ(polygons.size(), source_polygons.at(GetParam()));
    int id = 0;
    for (const auto &p : polygons) {
        SCOPED_TRACE(p.hdr.id);
        EXPECT_EQ(p.hdr.id, id++);
        EXPECT_GE(p.hdr.version, 4);
        EXPECT_TRUE(p.hdr.level >= 1 && p.hdr.level <= 5) << p.hdr.level;
        EXPECT_GE(p.hdr.n, 3);
        EXPECT_GT(p.hdr.area_full, 0);
        // The extent holds every point, longitudes made continuous, within
        // one frame from the stored west.
        double west = 1e9, east = -1e9, south = 1e9, north = -1e9, prev = p.lon[0];
        for (int i = 0; i < p.hdr.n; ++i) {
            double x = p.lon[i];
            while (x > prev + 180) x -= 360;
            while (x < prev - 180) x += 360;
            prev = x;
            west = std::min(west, x), east = std::max(east, x);
            south = std::min(south, double{p.lat[i]}), north = std::max(north, double{p.lat[i]});
        }
        const double shift = 360 * std::floor((p.hdr.west * 1e-6 - west) / 360 + 0.5);
        EXPECT_NEAR(p.hdr.west * 1e-6, west + shift, 1e-4);
        EXPECT_NEAR(p.hdr.east * 1e-6, east + shift, 1e-4);
        EXPECT_NEAR(p.hdr.south * 1e-6, south, 1e-4);
        EXPECT_NEAR(p.hdr.north * 1e-6, north, 1e-4);
    }
}

// The source's simplified outlines cross themselves in a few places and
// shrink a few islets to lines; as bundled, GEOS finds every polygon valid,
// Antarctica's closed along the pole included.
TEST_P(WorldShorelines, EveryPolygonIsValid) {
    const auto r = run_command(python_command() + " " + VORPIX_SOURCE_DIR + "/tests/support/shoreline_outlines.py " +
                               VORPIX_SOURCE_DIR + "/maps/vorpix/gshhs_" + GetParam() + ".b 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "checked " + std::to_string(source_polygons.at(GetParam())) + " invalid 0\n");
}

// The stored areas (tenths of km^2) are the source's numbers; the outlines
// rebuilt from pieces must enclose as much. Antarctica's two outlines, the ice
// front and the grounding line, run from 0 east to 360 and enclose theirs
// only when closed along the pole.
TEST_P(WorldShorelines, OutlinesEncloseTheAreasTheSourceGives) {
    // Crude outlines cut more corners than the sphere-against-ellipsoid difference.
    const double within = GetParam() == 'c' ? 0.06 : 0.02;
    int checked = 0;
    for (const auto &p : world(GetParam())) {
        if (p.hdr.area < 200000 || p.hdr.n < 10) continue;  // 20000 km^2 and up, drawn with some care
        ++checked;
        EXPECT_NEAR(area_km2(p) / (p.hdr.area / 10.0), 1.0, within) << "polygon " << p.hdr.id;
    }
    EXPECT_GT(checked, 50);
    // Eurasia's full-resolution area, as the source file gives it: 50654050.6945 km^2.
    EXPECT_EQ(world(GetParam())[0].hdr.area_full, 506540507);
}

INSTANTIATE_TEST_SUITE_P(Bundled, WorldShorelines, ::testing::Values('c', 'l', 'i'),
                         [](const auto &info) { return std::string(1, info.param); });

namespace {

// Resident memory in bytes.
long resident() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, rss = 0;
    statm >> pages >> rss;
    return rss * sysconf(_SC_PAGESIZE);
}

}  // namespace

// A long-running client that makes a map object for each request and closes
// it: 50 rounds of the whole world at intermediate resolution, shorelines and
// rivers, hold each file once (every object reads its files afresh) and
// nothing of the objects closed.
TEST(LongRunningClient, HoldsEachFileOnceAndNothingOfClosedObjects) {
    if (RUNNING_ON_VALGRIND) GTEST_SKIP() << "resident memory means little under valgrind";
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer keeps freed memory aside";
#endif
    const auto round = [] {
        void *shore = nullptr, *rivers = nullptr;
        char kinds[] = "f:0 c:0", res[] = "i", river_kinds[] = "r:4095", river_res[] = "l";
        ASSERT_EQ(gshhsmap_open(&shore), 0);
        ASSERT_GT(gshhsmap_select(shore, kinds, res, -180, 180, -90, 90, 0, 0), 80000);
        ASSERT_EQ(gmtmap_open(&rivers), 0);
        ASSERT_GT(gmtmap_select(rivers, river_kinds, river_res, -180, 180, -90, 90), 20000);
        EXPECT_EQ(gshhsmap_close(shore), 0);
        EXPECT_EQ(gmtmap_close(rivers), 0);
    };
    // The first rounds settle the allocator's pools; the next ones must add
    // nothing (one more copy of the shoreline file alone is 5 MB).
    for (int i = 0; i < 25; ++i) round();
    const long settled = resident();
    for (int i = 0; i < 50; ++i) round();
    EXPECT_LT(resident() - settled, 1L << 20);
    EXPECT_EQ(gshhsmap_close(nullptr), 0);
    EXPECT_EQ(gmtmap_close(nullptr), 0);
}
