#include "gshhsmap.h"

#include "datafile.h"
#include "byte_writer.hpp"
#include "log_capture.hpp"
#include "shoreline_writer.hpp"
#include "test_files.hpp"
#include "under_valgrind.hpp"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using vorpix::test::fixture_path;
using vorpix::test::LogCapture;
using vorpix::test::Polygon;
using vorpix::test::read_file;
using vorpix::test::ScopedEnv;
using vorpix::test::shoreline_file;
using vorpix::test::TempDir;
using vorpix::test::write_file;

namespace {

// A data root holding shoreline files under maps/vorpix/, searched first.
class ShorelineData {
public:
    // files: resolution letter -> fixture name (or raw bytes through add()).
    explicit ShorelineData(const std::map<char, std::string> &files = {}) : env_(VORPIX_DATA_PATH_ENV, dir_.path()) {
        for (const auto &[letter, name] : files) {
            const auto bytes = read_file(fixture_path("gshhs/" + name));
            add(letter, bytes);
        }
    }
    void add(char letter, const std::vector<unsigned char> &bytes) {
        write_file(path(letter), bytes.data(), bytes.size());
    }
    std::string path(char letter) const { return dir_.file(std::string("maps/vorpix/gshhs_") + letter + ".b"); }

private:
    TempDir dir_;
    ScopedEnv env_;
};

struct Delivered {
    int id;
    std::vector<std::pair<float, float>> points;
    std::string type;
    int level;
    int antipode;
};

// Opens a map, selects, and reads every segment.
class Shorelines {
public:
    Shorelines() { EXPECT_EQ(gshhsmap_open(&map_), 0); }
    ~Shorelines() {
        std::free(lon_);
        std::free(lat_);
        // Map objects live as long as the process; keep them reachable.
        kept().push_back(map_);
    }
    int select(const char *types, const char *resolution, double w, double e, double s, double n, double lonref = 0,
               double latref = 0) {
        std::string t = types, r = resolution;
        return gshhsmap_select(map_, t.data(), r.data(), w, e, s, n, lonref, latref);
    }
    std::vector<Delivered> read_all() {
        std::vector<Delivered> out;
        while (true) {
            const GSHHSHdr *hdr = gshhsmap_peek(map_);
            const int id = hdr ? hdr->id : -1;
            Delivered d{id, {}, "?", -1, -1};
            char type[4] = "?";
            int npts = 0;
            const int r = gshhsmap_nextseg(map_, &npts, &size_, &lon_, &lat_, type, &d.level, &d.antipode);
            if (r <= 0) {
                EXPECT_EQ(r, 0);
                break;
            }
            d.type = type;
            for (int i = 0; i < npts; ++i) d.points.emplace_back(lon_[i], lat_[i]);
            out.push_back(d);
        }
        return out;
    }
    std::vector<int> ids() {
        std::vector<int> out;
        for (const auto &d : read_all()) out.push_back(d.id);
        return out;
    }
    void *handle() { return map_; }
    static std::vector<void *> &kept() {
        static auto *maps = new std::vector<void *>;  // never destroyed
        return *maps;
    }
    int capacity() const { return size_; }

private:
    void *map_ = nullptr;
    int size_ = 0;
    float *lon_ = nullptr;
    float *lat_ = nullptr;
};

using Points = std::vector<std::pair<float, float>>;

}  // namespace

// ---------------------------------------------------------------------------
// Header decoding against the values the independent writer recorded.

TEST(ShorelineHeader, EveryVersionDecodesAsTheWriterRecordedIt) {
    const auto bytes = read_file(fixture_path("gshhs/headers.b"));
    std::ifstream expected(fixture_path("gshhs/headers.txt"));
    std::string line;
    GSHHSHdr *hdr = nullptr;
    char *stream = reinterpret_cast<char *>(const_cast<unsigned char *>(bytes.data()));
    int polygons = 0;
    while (std::getline(expected, line)) {
        std::istringstream fields(line);
        long v[16];
        for (long &f : v) fields >> f;
        SCOPED_TRACE("polygon id " + std::to_string(v[0]));
        ASSERT_EQ(stream - reinterpret_cast<const char *>(bytes.data()), v[14]);
        ASSERT_EQ(gshhs_unstuff_hdr(&hdr, &stream), 0);
        EXPECT_EQ(stream - reinterpret_cast<const char *>(bytes.data()), v[14] + v[15]) << "header length";
        const long got[14] = {hdr->id,      hdr->n,         hdr->level,     hdr->west,      hdr->east,
                              hdr->south,   hdr->north,     hdr->area,      hdr->greenwich, hdr->source,
                              hdr->version, hdr->area_full, hdr->container, hdr->ancestor};
        for (int i = 0; i < 14; ++i) EXPECT_EQ(got[i], v[i]) << "field " << i;
        char *before = stream;
        EXPECT_EQ(gshhs_skip_pts(hdr, &stream), 0);
        EXPECT_EQ(stream - before, 8L * hdr->n);
        ++polygons;
    }
    EXPECT_EQ(polygons, 10);
    EXPECT_EQ(stream - reinterpret_cast<const char *>(bytes.data()), static_cast<long>(bytes.size()));
    std::free(hdr);
}

TEST(ShorelineHeader, ReusedRecordClearsFieldsTheNewVersionDoesNotFill) {
    const auto bytes = read_file(fixture_path("gshhs/headers.b"));
    // Polygon 1 is version 2 (greenwich 258, source -2); polygon 2 is version 7.
    GSHHSHdr record;
    GSHHSHdr *hdr = &record;
    char *stream = reinterpret_cast<char *>(const_cast<unsigned char *>(bytes.data()));
    ASSERT_EQ(gshhs_unstuff_hdr(&hdr, &stream), 0);
    EXPECT_EQ(hdr, &record);
    EXPECT_EQ(record.greenwich, 258);
    gshhs_skip_pts(hdr, &stream);
    ASSERT_EQ(gshhs_unstuff_hdr(&hdr, &stream), 0);
    EXPECT_EQ(record.version, 7);
    EXPECT_EQ(record.greenwich, 0);
    EXPECT_EQ(record.source, 0);
    EXPECT_EQ(record.container, 3);
}

TEST(ShorelineHeader, SizedDecodingRefusesHeadersAndPointsPastTheEnd) {
    const auto bytes = read_file(fixture_path("gshhs/headers.b"));
    const char *data = reinterpret_cast<const char *>(bytes.data());
    GSHHSHdr hdr;
    LogCapture log;
    long position = 0;
    EXPECT_EQ(gshhs_unstuff_hdr_sized(&hdr, data, 20, &position), -1);
    EXPECT_EQ(position, 0);
    EXPECT_EQ(log.text(), "gshhs_unstuff_hdr_sized: header at byte 0 needs at least 32 bytes, 20 remain.\n");
    log.clear();
    // Polygon 2 (at byte 68) is version 7: 44 bytes.
    position = 68;
    EXPECT_EQ(gshhs_unstuff_hdr_sized(&hdr, data, 68 + 40, &position), -1);
    EXPECT_EQ(log.text(), "gshhs_unstuff_hdr_sized: version 7 header at byte 68 needs 44 bytes, 40 remain.\n");
    log.clear();
    position = 0;
    ASSERT_EQ(gshhs_unstuff_hdr_sized(&hdr, data, 60, &position), 0);
    EXPECT_EQ(position, 36);
    EXPECT_EQ(gshhs_skip_pts_sized(&hdr, 60, &position), -1);
    EXPECT_EQ(log.text(), "gshhs_skip_pts_sized: 4 points at byte 36 need 32 bytes, 24 remain.\n");
    log.clear();
    hdr.n = -3;
    EXPECT_EQ(gshhs_skip_pts_sized(&hdr, 1000, &position), -1);
    EXPECT_EQ(log.text(), "gshhs_skip_pts_sized: negative point count -3 at byte 36.\n");
}

// ---------------------------------------------------------------------------
// Selection.

TEST(ShorelineSelect, ResolutionNamesPickTheirFiles) {
    // Only the high file exists; any other resolution finds nothing.
    ShorelineData data({{'h', "selection.b"}, {'i', "clipping.b"}});
    for (const char *name : {"h", "high"}) {
        Shorelines map;
        EXPECT_GT(map.select("c:0", name, -180, 180, -90, 90), 10) << name;
    }
    for (const char *name : {"x", "Full", "", "i"}) {
        Shorelines map;
        EXPECT_EQ(map.select("c:0", name, -180, 180, -90, 90), 4) << "'" << name << "' is intermediate";
    }
    Shorelines map;
    LogCapture log;
    EXPECT_EQ(map.select("c:0", "full", -180, 180, -90, 90), -1);
    ASSERT_EQ(log.entries().size(), 1u);
    EXPECT_EQ(log.entries()[0].flags, 0);
    EXPECT_EQ(log.entries()[0].message, "gshhs_select: datafile(maps/vorpix/gshhs_f.b) error.\n");
}

TEST(ShorelineSelect, LevelBitmapsAndTheLevelFiveRule) {
    ShorelineData data({{'c', "selection.b"}});
    // Ids 11..16 carry levels 1..6 (6 reads as 1) inside 0.2..0.7 degrees.
    const std::vector<std::pair<std::string, std::vector<int>>> cases = {
        {"c:0", {11, 12, 13, 14, 16}},
        {"c:5", {11, 13, 16}},
        {"c:1", {11, 16}},
        {"c:16", {}},
        {"c", {11, 12, 13, 14, 16}},
        {"f:2", {12}},
        {"x:1 c:8 f:1 c:2", {14, 11, 16}},  // two entries at most
    };
    for (const auto &[types, expected] : cases) {
        Shorelines map;
        map.select(types.c_str(), "c", 0.3, 0.6, 0.3, 0.6);
        auto ids = map.ids();
        // Probe 27 (290..365 degrees) wraps onto the box too; only the ladder counts here.
        ids.erase(std::remove(ids.begin(), ids.end(), 27), ids.end());
        EXPECT_EQ(ids, expected) << types;
    }
}

TEST(ShorelineSelect, TypesWithoutKindsLookUpNoFile) {
    // No file exists at all, so a lookup would fail.
    ShorelineData data;
    Shorelines map;
    LogCapture log;
    EXPECT_EQ(map.select("x:1 p:3", "f", 0, 10, 0, 10), 0);
    EXPECT_EQ(map.select("", "f", 0, 10, 0, 10), 0);
    EXPECT_TRUE(log.empty());
}

TEST(ShorelineSelect, LookupFailuresAreLoggedOnceWithTheirNames) {
    ShorelineData data({{'c', "selection.b"}});
    {
        Shorelines map;
        LogCapture log;
        EXPECT_EQ(gshhsmap_select(map.handle(), nullptr, const_cast<char *>("c"), 0, 10, 0, 10, 0, 0), -1);
        ASSERT_EQ(log.entries().size(), 1u);
        EXPECT_EQ(log.entries()[0].flags, 0);
        EXPECT_EQ(log.entries()[0].message, "gshhsmap_select: splitlist() error.\n");
    }
    // The file is found but cannot be opened (no descriptor is left): the message
    // names the resolved path, not the relative one.
    const std::string path = data.path('c');
    const auto select_without_descriptors = [&path] {
        Shorelines map;
        LogCapture log;
        const rlimit none{0, 0};
        setrlimit(RLIMIT_NOFILE, &none);
        const int n = map.select("c:0", "c", 0, 10, 0, 10);
        const bool ok = n == -1 && log.entries().size() == 1 && log.entries()[0].flags == 0 &&
                        log.entries()[0].message == "gshhsmap_select: mapfile(" + path + ") error.\n";
        std::_Exit(ok ? 0 : 1);
    };
    // valgrind needs descriptors of its own in the child.
    if (RUNNING_ON_VALGRIND) GTEST_SKIP() << "no descriptor limit under valgrind";
    EXPECT_EXIT(select_without_descriptors(), testing::ExitedWithCode(0), "");
}

TEST(ShorelineSelect, LongitudeFramesAcrossTheSeam) {
    ShorelineData data({{'c', "selection.b"}});
    // Probe ids and their stored extents: 21 170..175, 22 185..190, 23 -175..-170,
    // 24 350..355, 25 -10..-5, 26 100..110, 27 290..365, 28 20..30, 29 10..10.5,
    // 30 -30.5..-30, 31 540..545; all at latitude 0..0.5.
    struct Case {
        double west, east;
        std::set<int> expected;
    };
    const std::vector<Case> cases = {
        // Becomes 170..190: 540..545 comes down to 180..185, 290..365 goes to -70..5.
        {-190, -170, {21, 22, 23, 31}},
        {170, 190, {21, 22, 23, 31}},
        {170, -170, {21, 22, 23, 31}},  // east given as the smaller number
        {-10, 10, {11, 12, 13, 14, 16, 24, 25, 27, 29}},
        {100, 300, {26, 21, 22, 23, 31}},  // seam at 20: 290..365 ends past 360, moves to -70..5
        {30, 40, {28}},                    // touching at the east end counts
        {-30, -20, {30, 27}},              // touching at the west end counts
        {175, 185, {21, 22, 23, 31}},      // touching on both sides
        {180, 190, {22, 23, 31}},
        // Becomes 10..365 (seam at 7.5): the ladder at 0.2..0.7 goes up a turn, and its
        // east end past 360 brings it back, west of the box; 290..365 goes to -70..5.
        {10, 5, {21, 22, 23, 24, 25, 26, 28, 29, 30, 31}},
    };
    for (const auto &c : cases) {
        Shorelines map;
        map.select("c:0", "c", c.west, c.east, -1, 1);
        const auto got = map.ids();
        std::set<int> got_set(got.begin(), got.end());
        EXPECT_EQ(got_set, c.expected) << c.west << " to " << c.east;
    }
}

TEST(ShorelineSelect, LatitudeEdgesTouchAndFullCircleBoxes) {
    ShorelineData data({{'c', "selection.b"}});
    Shorelines map;
    map.select("c:0", "c", -1, 2, 39, 40);  // 41 starts at 40N
    EXPECT_EQ(map.ids(), std::vector<int>{41});
    map.select("c:0", "c", -1, 2, -40, -39);  // 42 ends at 40S
    EXPECT_EQ(map.ids(), std::vector<int>{42});
    map.select("c:0", "c", -1, 2, 59, 60);  // 43 starts just north of 60
    EXPECT_TRUE(map.ids().empty());
    // Any box 360 or more wide is the whole circle: all 20 polygons but level 5.
    EXPECT_EQ(map.select("c:0", "c", -180, 180, -90, 90), 19);
    EXPECT_EQ(map.select("c:0", "c", 33, 1000, -90, 90), 19);
}

TEST(ShorelineSelect, BothKindsSelectAPolygonTwiceInEntryOrder) {
    ShorelineData data({{'c', "selection.b"}});
    Shorelines map;
    EXPECT_EQ(map.select("f:1 c:2 c:1", "c", 0.3, 0.6, 0.3, 0.6), 4);
    const auto all = map.read_all();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].id, 11);
    EXPECT_EQ(all[0].type, "l");
    EXPECT_EQ(all[1].id, 16);
    EXPECT_EQ(all[2].id, 27);
    EXPECT_EQ(all[3].id, 12);
    EXPECT_EQ(all[3].type, "c");
}

TEST(ShorelineSelect, FileIsMappedOncePerObject) {
    ShorelineData data({{'c', "selection.b"}});
    Shorelines map;
    EXPECT_EQ(map.select("c:0 f:0", "c", -180, 180, -90, 90), 38);
    // Once mapped, the file is not looked up again: remove it.
    std::remove(data.path('c').c_str());
    EXPECT_EQ(map.select("c:0", "crude", -180, 180, -90, 90), 19);
    EXPECT_EQ(gshhsmap_reset(map.handle()), 19);
    // A fresh object must look the file up.
    ShorelineData high({{'h', "selection.b"}});
    Shorelines other;
    EXPECT_EQ(other.select("c:0", "h", -180, 180, -90, 90), 19);
    std::remove(high.path('h').c_str());
    Shorelines third;
    LogCapture log;
    EXPECT_EQ(third.select("c:0", "h", -180, 180, -90, 90), -1);
    EXPECT_EQ(other.select("c:0", "h", -180, 180, -90, 90), 19);
}

TEST(ShorelineSelect, SegmentArrayGrowsPastTwoThousand) {
    ShorelineData data({{'l', "many.b"}});
    Shorelines map;
    ASSERT_EQ(map.select("c:0", "l", -180, 180, -90, 90), 4500);
    const auto ids = map.ids();
    ASSERT_EQ(ids.size(), 4500u);
    for (int i = 0; i < 4500; ++i) ASSERT_EQ(ids[i], i);
    // Reopening keeps the array; a second select reuses it.
    void *handle = map.handle();
    EXPECT_EQ(gshhsmap_open(&handle), 0);
    EXPECT_EQ(handle, map.handle());
    // Longitudes i/100 mod 50 and latitudes i mod 80 - 40 meet 0..10 x 0..10 133 times.
    EXPECT_EQ(map.select("c:0", "l", 0, 10, 0, 10), 133);
}

TEST(ShorelineSelect, TruncatedFileNeverReadsPastTheMapping) {
    auto bytes = read_file(fixture_path("gshhs/headers.b"));
    // Record boundaries, from the writer's table.
    std::set<size_t> boundaries;
    std::ifstream expected(fixture_path("gshhs/headers.txt"));
    std::string line;
    while (std::getline(expected, line))
        boundaries.insert(std::stoul(line.substr(line.find_last_of(' ', line.rfind(' ') - 1) + 1)));
    boundaries.insert(bytes.size());
    for (size_t cut = 0; cut < bytes.size(); ++cut) {  // an empty file selects nothing
        const std::vector<unsigned char> part(bytes.begin(), bytes.begin() + static_cast<long>(cut));
        ShorelineData data;
        data.add('c', part);
        {
            // The same bytes as an exact-size heap block, so the sanitizer sees any
            // overread that a mapped page would hide.
            Shorelines heap;
            LogCapture quiet;
            gshhsmap_use_data(heap.handle(), "c", reinterpret_cast<const char *>(part.data()),
                              static_cast<long>(part.size()));
            heap.select("c:0", "c", -180, 180, -90, 90);
            heap.read_all();
        }
        Shorelines map;
        LogCapture log;
        const int n = map.select("c:0", "c", -180, 180, -90, 90);
        if (boundaries.count(cut)) {
            EXPECT_GE(n, 0) << "cut at a record boundary " << cut;
            EXPECT_TRUE(log.empty());
        } else {
            ASSERT_EQ(n, -1) << "cut " << cut;
            ASSERT_EQ(log.entries().size(), 2u);
            EXPECT_NE(log.entries()[1].message.find(data.path('c')), std::string::npos);
            EXPECT_NE(log.entries()[1].message.find("truncated or corrupt file"), std::string::npos);
        }
        map.read_all();  // whatever was selected reads from inside the mapping
    }
}

TEST(ShorelineSelect, NegativePointCountFailsTheSelectionButKeepsEarlierSegments) {
    auto bytes = read_file(fixture_path("gshhs/headers.b"));
    // Polygon 2 starts at byte 68; its count is bytes 72..75.
    bytes[72] = 0xff, bytes[73] = 0xff, bytes[74] = 0xff, bytes[75] = 0xfe;
    ShorelineData data;
    data.add('c', bytes);
    Shorelines map;
    LogCapture log;
    EXPECT_EQ(map.select("c:0", "c", -180, 180, -90, 90), -1);
    EXPECT_EQ(log.entries()[0].message, "gshhs_skip_pts_sized: negative point count -2 at byte 112.\n");
    EXPECT_EQ(log.entries()[1].message,
              "gshhsmap_select: " + data.path('c') + ": polygon 1 (id 2) at byte 68: truncated or corrupt file.\n");
    EXPECT_EQ(gshhsmap_reset(map.handle()), 1);
    EXPECT_EQ(map.ids(), std::vector<int>{1});
}

// ---------------------------------------------------------------------------
// The even-odd test.

TEST(ShorelineInside, UnitSquareEdgesAndShiftedCopies) {
    struct Case {
        float lon, lat;
        int expected;
    };
    const std::vector<Case> cases = {{0.5f, 0.5f, 1}, {1.5f, 0.5f, 0}, {0.5f, 2, 0}, {0.5f, -1, 0},
                                     {0, 0.5f, 1},    {1, 0.5f, 0},    {0.5f, 1, 1}, {0.5f, 0, 0}};
    float lon[4] = {0, 1, 1, 0}, lat[4] = {0, 0, 1, 1};
    float lon360[4] = {360, 361, 361, 360};
    for (const auto &c : cases) {
        EXPECT_EQ(gshhsmap_inside_eo(c.lon, c.lat, 4, lon, lat), c.expected) << c.lon << "," << c.lat;
        EXPECT_EQ(gshhsmap_inside_eo(c.lon, c.lat, 4, lon360, lat), c.expected) << "shifted " << c.lon;
        EXPECT_EQ(gshhsmap_inside_eo(c.lon + 360, c.lat, 4, lon, lat), c.expected) << "test +360 " << c.lon;
    }
    EXPECT_EQ(gshhsmap_inside_eo(0.5f, 0.5f, 0, nullptr, nullptr), 0);
    EXPECT_EQ(gshhsmap_inside_eo(0, 0, 1, lon, lat), 0);
}

TEST(ShorelineInside, PolygonsAcrossTheSeam) {
    float sq_lon[4] = {179, 181, 181, 179}, sq_lat[4] = {0, 0, 1, 1};
    EXPECT_EQ(gshhsmap_inside_eo(-179.5f, 0.5f, 4, sq_lon, sq_lat), 1);
    float lon[6] = {90, 0, 0, 90, 179.5f, 181.5f}, lat[6] = {-10, -10, 10, 10, 10, -10};
    EXPECT_EQ(gshhsmap_inside_eo(180.2f, 0, 6, lon, lat), 1);
    EXPECT_EQ(gshhsmap_inside_eo(-179.8f, 0, 6, lon, lat), 1);
    EXPECT_EQ(gshhsmap_inside_eo(200, 0, 6, lon, lat), 0);
    EXPECT_EQ(gshhsmap_inside_eo(-45, 0, 6, lon, lat), 0);
    EXPECT_EQ(gshhsmap_inside_eo(45, 0, 6, lon, lat), 1);
}

TEST(ShorelineInside, AgreesWithThePlanarReferenceUnderShiftsRotationAndReversal) {
    std::ifstream in(fixture_path("gshhs/eo_cases.txt"));
    std::string line;
    int cases = 0;
    unsigned seed = 7;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        int n;
        fields >> n;
        std::vector<float> lon(n), lat(n);
        for (auto &v : lon) fields >> v;
        for (auto &v : lat) fields >> v;
        float tlon, tlat;
        int expected;
        fields >> tlon >> tlat >> expected;
        SCOPED_TRACE("case " + std::to_string(cases));
        ASSERT_EQ(gshhsmap_inside_eo(tlon, tlat, n, lon.data(), lat.data()), expected);
        // A turn on any vertex, or on the test point, changes nothing.
        std::vector<float> shifted = lon;
        for (auto &v : shifted) v += next() % 2 ? 360.0f : 0.0f;
        EXPECT_EQ(gshhsmap_inside_eo(tlon, tlat, n, shifted.data(), lat.data()), expected);
        EXPECT_EQ(gshhsmap_inside_eo(tlon + 360, tlat, n, shifted.data(), lat.data()), expected);
        EXPECT_EQ(gshhsmap_inside_eo(tlon - 360, tlat, n, lon.data(), lat.data()), expected);
        const int k = static_cast<int>(next() % n);
        std::vector<float> rlon(n), rlat(n), vlon(n), vlat(n);
        for (int i = 0; i < n; ++i) {
            rlon[i] = lon[(i + k) % n], rlat[i] = lat[(i + k) % n];
            vlon[i] = lon[n - 1 - i], vlat[i] = lat[n - 1 - i];
        }
        EXPECT_EQ(gshhsmap_inside_eo(tlon, tlat, n, rlon.data(), rlat.data()), expected);
        EXPECT_EQ(gshhsmap_inside_eo(tlon, tlat, n, vlon.data(), vlat.data()), expected);
        ++cases;
    }
    EXPECT_EQ(cases, 400);
}

// ---------------------------------------------------------------------------
// Delivery and clipping.

TEST(ShorelineDeliver, RunsOutsideTheBoxBecomePointsOnItsEdges) {
    ShorelineData data({{'c', "clipping.b"}});
    Shorelines map;
    ASSERT_EQ(map.select("c:0", "c", 10, 20, 10, 20), 4);
    const auto all = map.read_all();
    const std::vector<Points> expected = {
        {{15, 15}, {5, 5}, {10, 10}, {10, 10}, {14, 14}},
        {{15, 15}, {5, 5}, {10, 10}, {7, 3}, {16, 16}},
        {{15, 5}, {17, 5}, {15, 15}},
        {{15, 15}, {15, 5}, {15, 10}, {20, 10}, {20, 10}, {15, 15}},
    };
    ASSERT_EQ(all.size(), expected.size());
    for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i].points, expected[i]) << "polygon " << all[i].id;
}

TEST(ShorelineDeliver, WestTestUsesLongitudesFrom0To360) {
    ShorelineData data({{'c', "special.b"}});
    Shorelines map;
    // Full circle: -10 counts as inside and stays -10 beside 100, nearer the centre.
    map.select("c:0", "c", 0, 360, -90, 90);
    auto all = map.read_all();
    ASSERT_GE(all.size(), 1u);
    EXPECT_EQ(all[0].id, 201);
    EXPECT_EQ(all[0].points, (Points{{-10, 0}, {100, 0}, {100, 5}}));
    // Box -30..30: -40 is in the box by the west test; 40 lies east and moves to 30.
    map.select("c:0", "c", -30, 30, -10, 10);
    all = map.read_all();
    ASSERT_EQ(all[0].id, 201);
    EXPECT_EQ(all[1].id, 202);
    EXPECT_EQ(all[1].points, (Points{{0, 0}, {-40, 0}, {40, 0}, {30, 0}, {30, 0}, {0, 5}}));
}

TEST(ShorelineDeliver, SeamIsCrossedContinuouslyInTheBoxFrame) {
    ShorelineData data({{'c', "special.b"}});
    // 170..190, the same given west of the seam, and a box whose frame runs
    // from 30 to 390 (160..260): each keeps the polygon at 180.
    const std::pair<double, double> boxes[] = {{170, 190}, {-190, -170}, {-200, -100}};
    for (const auto &[west, east] : boxes) {
        Shorelines map;
        map.select("c:0", "c", west, east, -5, 5);
        const auto all = map.read_all();
        ASSERT_EQ(all.size(), 1u) << west;
        EXPECT_EQ(all[0].points, (Points{{179.5f, 0}, {180.5f, 0}, {180.5f, 1}})) << west;
    }
}

TEST(ShorelineDeliver, PolygonWindingManyTurnsStaysContinuous) {
    // Point i lies at 170 * min(i, 300 - i) degrees once made continuous: 70 turns
    // east and back. Point 18 (3060) is the first to sit on the frame's centre 180,
    // so the offset is -2880; of the two passes through 0..360 only the crossing
    // points and their neighbours are kept.
    ShorelineData data({{'c', "winding.b"}});
    Shorelines map;
    ASSERT_EQ(map.select("c:0", "c", -180, 180, -90, 90), 1);
    const auto all = map.read_all();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].points, (Points{{-2880, 0},
                                     {-500, 0},
                                     {-330, 0},
                                     {-160, 0},
                                     {10, 0},
                                     {180, 0},
                                     {350, 0},
                                     {520, 0},
                                     {360, 0},
                                     {520, 0},
                                     {350, 0},
                                     {180, 0},
                                     {10, 0},
                                     {-160, 0},
                                     {-330, 0},
                                     {-500, 0},
                                     {0, 0}}));
}

TEST(ShorelineDeliver, TypeLettersLevelsAndEmptyPolygons) {
    ShorelineData data({{'c', "special.b"}});
    Shorelines map;
    map.select("f:0", "c", 0, 1, 0, 1);
    const auto all = map.read_all();
    std::map<int, Delivered> by_id;
    for (const auto &d : all) by_id[d.id] = d;
    EXPECT_EQ(by_id[204].type, "w");
    EXPECT_EQ(by_id[204].level, 2);
    EXPECT_EQ(by_id[205].type, "l");
    EXPECT_EQ(by_id[205].level, 3);
    // The empty polygon leaves the outputs as they were ("?" and -1 here).
    EXPECT_TRUE(by_id[206].points.empty());
    EXPECT_EQ(by_id[206].type, "?");
    EXPECT_EQ(by_id[206].level, -1);
    map.select("c:0", "c", 0, 1, 0, 1);
    for (const auto &d : map.read_all())
        if (!d.points.empty()) {
            EXPECT_EQ(d.type, "c");
        }
}

TEST(ShorelineDeliver, AntipodeOfTheReferencePoint) {
    ShorelineData data({{'c', "special.b"}});
    Shorelines map;
    // Reference (180.5, -0.5): antipode (0.5, 0.5) lies inside the unit squares 204 and 205.
    map.select("c:0", "c", -10, 10, -10, 10, 180.5, -0.5);
    for (const auto &d : map.read_all()) {
        if (d.id == 204 || d.id == 205) {
            EXPECT_EQ(d.antipode, 1) << d.id;
        } else if (d.id == 201) {
            EXPECT_EQ(d.antipode, 0) << d.id;
        }
    }
}

TEST(ShorelineDeliver, OutputArraysGrowFromOneHundredByDoubling) {
    ShorelineData data({{'c', "special.b"}});
    Shorelines map;
    map.select("c:0", "c", -1, 1, -1, 1);
    std::map<int, size_t> sizes;
    for (const auto &d : map.read_all()) sizes[d.id] = d.points.size();
    EXPECT_EQ(sizes[207], 150u);
    EXPECT_EQ(sizes[208], 450u);
    EXPECT_EQ(map.capacity(), 800);

    // 150 points alone leave a capacity of 200.
    map.select("c:0", "c", -1, 1, -1, 1);
    void *h = map.handle();
    int npts = 0, size = 0, level = 0, anti = 0;
    float *lon = nullptr, *lat = nullptr;
    char type[2];
    while (gshhsmap_peek(h)->id != 207) gshhsmap_nextseg(h, &npts, &size, &lon, &lat, type, &level, &anti);
    ASSERT_EQ(gshhsmap_nextseg(h, &npts, &size, &lon, &lat, type, &level, &anti), 1);
    EXPECT_EQ(size, 200);
    // Arrays with no capacity are taken as new ones rather than doubled forever.
    size = 0;
    ASSERT_EQ(gshhsmap_nextseg(h, &npts, &size, &lon, &lat, type, &level, &anti), 1);
    EXPECT_EQ(npts, 450);
    EXPECT_EQ(size, 800);
    // So are arrays with a negative capacity.
    gshhsmap_reset(h);
    while (gshhsmap_peek(h)->id != 207) gshhsmap_nextseg(h, &npts, &size, &lon, &lat, type, &level, &anti);
    size = -5;
    ASSERT_EQ(gshhsmap_nextseg(h, &npts, &size, &lon, &lat, type, &level, &anti), 1);
    EXPECT_EQ(npts, 150);
    EXPECT_EQ(size, 200);
    std::free(lon);
    std::free(lat);
}

TEST(ShorelineDeliver, EquallyNearPointsLeaveTheWrapOfTheFirst) {
    // 170 and -170 (360 + -170 = 190 in the frame) are exactly 10 from the
    // centre 180 of the whole world's frame: the first of the two decides.
    std::vector<std::int32_t> lons = {100, 170, 120, 60, 0, -60, -120, -170, -120, -60};
    Polygon first, second;
    for (int i = 0; i < 40; ++i) {
        const std::int32_t x = i < static_cast<int>(lons.size()) ? lons[static_cast<size_t>(i)] : -60 + 10 * (i % 3);
        first.emplace_back(x * 1000000, (i % 7) * 1000000);
    }
    // The same with the nearer point first, and the tie later in the polygon.
    for (int i = 0; i < 70; ++i) {
        const std::int32_t x = i == 40 ? -170 : i == 50 ? 170 : i < 40 ? -100 - (i % 3) : (i < 50 ? -120 : 120);
        second.emplace_back(x * 1000000, -(i % 5) * 1000000);
    }
    ShorelineData data;
    data.add('c', shoreline_file({first, second}));
    Shorelines map;
    ASSERT_EQ(map.select("c:0", "c", -180, 180, -90, 90), 2);
    // The first polygon keeps its longitudes (170 came first); the second is turned once (-170 came first).
    const auto all = map.read_all();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].points[0].first, 100.0f);
    EXPECT_EQ(all[1].points[0].first, 260.0f);
}
