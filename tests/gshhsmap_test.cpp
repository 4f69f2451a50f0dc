#include "gshhsmap.h"

#include "datafile.h"
#include "log_capture.hpp"
#include "shoreline_writer.hpp"
#include "test_files.hpp"
#include "under_valgrind.hpp"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using vorpix::test::DataRoot;
using vorpix::test::fixture_path;
using vorpix::test::LogCapture;
using vorpix::test::one_message;
using vorpix::test::Polygon;
using vorpix::test::read_file;
using vorpix::test::shoreline_file;

namespace {

using Points = std::vector<std::pair<float, float>>;

// Whether the search finds a shoreline file of this resolution besides the
// test's own: one installed in a built-in data directory.
bool found_elsewhere(char letter) {
    char *path = datafile(nullptr, (std::string("maps/vorpix/gshhs_") + letter + ".b").c_str());
    std::free(path);
    return path != nullptr;
}

struct Delivered {
    int id;
    Points points;
    std::string type;
    int level, antipode;
};

// Opens a map, selects, and reads every segment.
class Shorelines {
public:
    Shorelines() { EXPECT_EQ(gshhsmap_open(&map_), 0); }
    ~Shorelines() {
        std::free(lon_);
        std::free(lat_);
        // Map objects live as long as the process; keep them reachable.
        static auto *kept = new (std::nothrow) std::vector<void *>;
        if (kept) kept->push_back(map_);
    }
    int select(std::string types, std::string resolution, double w, double e, double s, double n, double lonref = 0,
               double latref = 0) {
        return gshhsmap_select(map_, types.data(), resolution.data(), w, e, s, n, lonref, latref);
    }
    std::vector<Delivered> read_all() {
        std::vector<Delivered> out;
        while (true) {
            const GSHHSHdr *hdr = gshhsmap_peek(map_);
            Delivered d{hdr ? hdr->id : -1, {}, "?", -1, -1};
            char type[4] = "?";
            int npts = 0;
            const int r = gshhsmap_nextseg(map_, &npts, &size_, &lon_, &lat_, type, &d.level, &d.antipode);
            if (r <= 0) {
                EXPECT_EQ(r, 0);
                return out;
            }
            d.type = type;
            for (int i = 0; i < npts; ++i) d.points.emplace_back(lon_[i], lat_[i]);
            out.push_back(d);
        }
    }
    std::vector<int> ids() {
        std::vector<int> out;
        for (const auto &d : read_all()) out.push_back(d.id);
        return out;
    }
    void *handle() { return map_; }

private:
    void *map_ = nullptr;
    int size_ = 0;
    float *lon_ = nullptr, *lat_ = nullptr;
};

// The independent writer's record of headers.b, one row per polygon: id, n,
// level, west, east, south, north, area, greenwich, source, version,
// area_full, container, ancestor, then the header's offset and length.
std::vector<std::array<long, 16>> recorded_headers() {
    std::ifstream in(fixture_path("gshhs/headers.txt"));
    std::vector<std::array<long, 16>> rows;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        for (long &f : rows.emplace_back()) fields >> f;
    }
    return rows;
}

// Arguments that cannot be right fail with one message each, flags 0.
TEST(ShorelineArguments, EachRefusalIsOneMessage) {
    GSHHSHdr hdr{};
    long position = -1;
    const char data[8] = {};
    const std::pair<std::function<int()>, const char *> cases[] = {
        {[&] { return gshhs_unstuff_hdr_sized(&hdr, data, 8, &position); },
         "gshhs_unstuff_hdr_sized: invalid arguments.\n"},
        {[&] { return gshhs_skip_pts_sized(nullptr, 8, &position); }, "gshhs_skip_pts_sized: invalid arguments.\n"},
        {[&] { return gshhs_unstuff_pts_sized(&hdr, nullptr, 8, &position, nullptr, nullptr); },
         "gshhs_unstuff_pts_sized: invalid arguments.\n"},
        {[&] { return gshhsmap_use_data(nullptr, "c", data, -1); },
         "gshhsmap_use_data: -1 bytes cannot be a shoreline file.\n"},
    };
    for (const auto &c : cases) EXPECT_EQ(one_message([&c] { EXPECT_EQ(c.first(), -1); }), c.second);
}

}  // namespace

// One record serves every polygon: a version that does not fill a field (the
// version 7 after the version 2 with greenwich 258 and source -2) clears it.
TEST(ShorelineHeader, EveryVersionDecodesAsTheWriterRecordedItIntoOneReusedRecord) {
    const auto bytes = read_file(fixture_path("gshhs/headers.b"));
    const char *start = reinterpret_cast<const char *>(bytes.data());
    char *stream = const_cast<char *>(start);
    GSHHSHdr *hdr = nullptr, *first = nullptr;
    const auto rows = recorded_headers();
    ASSERT_EQ(rows.size(), 10u);
    for (const auto &v : rows) {
        SCOPED_TRACE("polygon id " + std::to_string(v[0]));
        ASSERT_EQ(stream - start, v[14]);
        ASSERT_EQ(gshhs_unstuff_hdr(&hdr, &stream), 0);
        if (!first) first = hdr;
        EXPECT_EQ(hdr, first) << "the record is reused";
        EXPECT_EQ(stream - start, v[14] + v[15]) << "header length";
        const long got[14] = {hdr->id,      hdr->n,         hdr->level,     hdr->west,      hdr->east,
                              hdr->south,   hdr->north,     hdr->area,      hdr->greenwich, hdr->source,
                              hdr->version, hdr->area_full, hdr->container, hdr->ancestor};
        for (int i = 0; i < 14; ++i) EXPECT_EQ(got[i], v[i]) << "field " << i;
        char *before = stream;
        EXPECT_EQ(gshhs_skip_pts(hdr, &stream), 0);
        EXPECT_EQ(stream - before, 8L * hdr->n);
    }
    EXPECT_EQ(stream - start, static_cast<long>(bytes.size()));
    std::free(hdr);
}

TEST(ShorelineHeader, SizedDecodingRefusesHeadersAndPointsPastTheEnd) {
    const auto bytes = read_file(fixture_path("gshhs/headers.b"));
    const char *data = reinterpret_cast<const char *>(bytes.data());
    GSHHSHdr hdr;
    long position = 0;
    const auto logged = [](auto decode) {
        LogCapture log;
        EXPECT_EQ(decode(), -1);
        return log.text();
    };
    EXPECT_EQ(logged([&] { return gshhs_unstuff_hdr_sized(&hdr, data, 20, &position); }),
              "gshhs_unstuff_hdr_sized: header at byte 0 needs at least 32 bytes, 20 remain.\n");
    EXPECT_EQ(position, 0);
    position = 68;  // polygon 2, version 7: 44 bytes
    EXPECT_EQ(logged([&] { return gshhs_unstuff_hdr_sized(&hdr, data, 68 + 40, &position); }),
              "gshhs_unstuff_hdr_sized: version 7 header at byte 68 needs 44 bytes, 40 remain.\n");
    position = 0;
    ASSERT_EQ(gshhs_unstuff_hdr_sized(&hdr, data, 60, &position), 0);
    EXPECT_EQ(position, 36);
    EXPECT_EQ(logged([&] { return gshhs_skip_pts_sized(&hdr, 60, &position); }),
              "gshhs_skip_pts_sized: 4 points at byte 36 need 32 bytes, 24 remain.\n");
    // The points themselves: cut short alike, else within the extent that
    // the writer recorded (0 to 1 degree each way), ending at the next header.
    double lon[4], lat[4];
    EXPECT_EQ(logged([&] { return gshhs_unstuff_pts_sized(&hdr, data, 60, &position, lon, lat); }),
              "gshhs_unstuff_pts_sized: 4 points at byte 36 need 32 bytes, 24 remain.\n");
    ASSERT_EQ(gshhs_unstuff_pts_sized(&hdr, data, static_cast<long>(bytes.size()), &position, lon, lat), 0);
    EXPECT_EQ(position, 68);
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(lon[i] >= 0 && lon[i] <= 1 && lat[i] >= 0 && lat[i] <= 1) << lon[i] << " " << lat[i];
        EXPECT_TRUE(lon[i] == 0 || lon[i] == 1) << "corners of the unit square, to the micro-degree";
    }
    // No points need no arrays.
    hdr.n = 0;
    EXPECT_EQ(gshhs_unstuff_pts_sized(&hdr, data, static_cast<long>(bytes.size()), &position, nullptr, nullptr), 0);
    EXPECT_EQ(position, 68);
    position = 36;
    hdr.n = -3;
    EXPECT_EQ(logged([&] { return gshhs_skip_pts_sized(&hdr, 1000, &position); }),
              "gshhs_skip_pts_sized: negative point count -3 at byte 36.\n");
    EXPECT_EQ(logged([&] { return gshhs_unstuff_pts_sized(&hdr, data, 1000, &position, lon, lat); }),
              "gshhs_unstuff_pts_sized: negative point count -3 at byte 36.\n");
}

TEST(ShorelineSelect, ResolutionNamesPickTheirFiles) {
    // selection.b as the high file (19 polygons for c:0), clipping.b (4) as the
    // intermediate one, which any unknown name picks; no full file.
    DataRoot data({{"gshhs_h.b", "gshhs/selection.b"}, {"gshhs_i.b", "gshhs/clipping.b"}});
    // clang-format off
    const std::pair<const char *, int> cases[] = {
        {"h", 19}, {"high", 19}, {"x", 4}, {"Full", 4}, {"", 4}, {"i", 4}, {"full", -1}};
    // clang-format on
    for (const auto &[name, expected] : cases) {
        if (expected < 0 && found_elsewhere('f')) continue;  // installed with the high resolutions
        Shorelines map;
        LogCapture log;
        EXPECT_EQ(map.select("c:0", name, -180, 180, -90, 90), expected) << "'" << name << "'";
        if (expected < 0) {
            ASSERT_EQ(log.entries().size(), 1u);
            EXPECT_EQ(log.entries()[0].flags, 0);
            EXPECT_EQ(log.entries()[0].message, "gshhs_select: datafile(maps/vorpix/gshhs_f.b) error.\n");
        }
    }
}

// Each delivered polygon as its id and type letter, in delivery order.
TEST(ShorelineSelect, LevelBitmapsTheLevelFiveRuleAndBothKindsInEntryOrder) {
    DataRoot data({{"gshhs_c.b", "gshhs/selection.b"}});
    // Ids 11..16 carry levels 1..6 (6 reads as 1) inside 0.2..0.7 degrees; probe
    // 27 (290..365 degrees, level 1) wraps onto the box too.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"c:0", "11c 12c 13c 14c 16c 27c"},
        {"c:5", "11c 13c 16c 27c"},
        {"c:1", "11c 16c 27c"},
        {"c:16", ""},
        {"c", "11c 12c 13c 14c 16c 27c"},
        {"f:2", "12w"},
        {"x:1 c:8 f:1 c:2", "14c 11l 16l 27l"},  // two entries at most
        {"f:1 c:2 c:1", "11l 16l 27l 12c"},      // a polygon of both kinds comes twice
    };
    for (const auto &[types, expected] : cases) {
        Shorelines map;
        const int selected = map.select(types, "c", 0.3, 0.6, 0.3, 0.6);
        std::string got;
        for (const auto &d : map.read_all()) got += (got.empty() ? "" : " ") + std::to_string(d.id) + d.type;
        EXPECT_EQ(got, expected) << types;
        EXPECT_EQ(selected, static_cast<int>(std::count(got.begin(), got.end(), ' ')) + !got.empty()) << types;
    }
}

TEST(ShorelineSelect, LookupFailuresAreLoggedOnceWithTheirNames) {
    DataRoot data({{"gshhs_c.b", "gshhs/selection.b"}});
    {
        Shorelines map;
        LogCapture log;
        // Types without kinds look up no file (there is no full one).
        EXPECT_EQ(map.select("x:1 p:3", "f", 0, 10, 0, 10), 0);
        EXPECT_EQ(map.select("", "f", 0, 10, 0, 10), 0);
        EXPECT_TRUE(log.empty());
        EXPECT_EQ(one_message([&] {
                      EXPECT_EQ(gshhsmap_select(map.handle(), nullptr, const_cast<char *>("c"), 0, 10, 0, 10, 0, 0),
                                -1);
                  }),
                  "gshhsmap_select: splitlist() error.\n");
    }
    // The file is found but cannot be opened (no descriptor is left): the message
    // names the resolved path, not the relative one.
    const std::string path = data.path("gshhs_c.b");
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

TEST(ShorelineSelect, BoxEdgesTouchAndLongitudeFramesCrossTheSeam) {
    DataRoot data({{"gshhs_c.b", "gshhs/selection.b"}});
    // Probe ids and their stored extents: 21 170..175, 22 185..190, 23 -175..-170,
    // 24 350..355, 25 -10..-5, 26 100..110, 27 290..365, 28 20..30, 29 10..10.5,
    // 30 -30.5..-30, 31 540..545; all at latitude 0..0.5. 41 starts at 40N, 42
    // ends at 40S, 43 starts just north of 60.
    struct Case {
        double west, east, south, north;
        std::set<int> expected;
    };
    // clang-format off
    const Case cases[] = {
        // Becomes 170..190: 540..545 comes down to 180..185, 290..365 goes to -70..5.
        {-190, -170, -1, 1, {21, 22, 23, 31}},
        {170, 190, -1, 1, {21, 22, 23, 31}},
        {170, -170, -1, 1, {21, 22, 23, 31}},  // east given as the smaller number
        {-10, 10, -1, 1, {11, 12, 13, 14, 16, 24, 25, 27, 29}},
        {100, 300, -1, 1, {26, 21, 22, 23, 31}},  // seam at 20: 290..365 ends past 360, moves to -70..5
        {30, 40, -1, 1, {28}},                    // touching at the east end counts
        {-30, -20, -1, 1, {30, 27}},              // touching at the west end counts
        {175, 185, -1, 1, {21, 22, 23, 31}},      // touching on both sides
        {180, 190, -1, 1, {22, 23, 31}},
        // Becomes 10..365 (seam at 7.5): the ladder at 0.2..0.7 goes up a turn, and its
        // east end past 360 brings it back, west of the box; 290..365 goes to -70..5.
        {10, 5, -1, 1, {21, 22, 23, 24, 25, 26, 28, 29, 30, 31}},
        {-1, 2, 39, 40, {41}},
        {-1, 2, -40, -39, {42}},
        {-1, 2, 59, 60, {}},
    };
    // clang-format on
    for (const auto &c : cases) {
        Shorelines map;
        map.select("c:0", "c", c.west, c.east, c.south, c.north);
        const auto got = map.ids();
        EXPECT_EQ(std::set<int>(got.begin(), got.end()), c.expected) << c.west << "/" << c.east << "/" << c.south;
    }
    // Any box 360 or more wide is the whole circle: all 20 polygons but level 5.
    Shorelines map;
    EXPECT_EQ(map.select("c:0", "c", -180, 180, -90, 90), 19);
    EXPECT_EQ(map.select("c:0", "c", 33, 1000, -90, 90), 19);
}

TEST(ShorelineSelect, FileIsMappedOncePerObject) {
    DataRoot data({{"gshhs_c.b", "gshhs/selection.b"}});
    Shorelines map;
    EXPECT_EQ(map.select("c:0 f:0", "c", -180, 180, -90, 90), 38);
    // Once mapped, the file is not looked up again: remove it.
    std::remove(data.path("gshhs_c.b").c_str());
    EXPECT_EQ(map.select("c:0", "crude", -180, 180, -90, 90), 19);
    EXPECT_EQ(gshhsmap_reset(map.handle()), 19);
    // Opened again, the object stays the same.
    void *handle = map.handle();
    EXPECT_EQ(gshhsmap_open(&handle), 0);
    EXPECT_EQ(handle, map.handle());
    EXPECT_EQ(map.select("c:0", "c", -180, 180, -90, 90), 19);
    // A fresh object must look the file up.
    DataRoot high({{"gshhs_h.b", "gshhs/selection.b"}});
    Shorelines other;
    EXPECT_EQ(other.select("c:0", "h", -180, 180, -90, 90), 19);
    std::remove(high.path("gshhs_h.b").c_str());
    Shorelines third;
    LogCapture log;
    if (!found_elsewhere('h')) EXPECT_EQ(third.select("c:0", "h", -180, 180, -90, 90), -1);
    else EXPECT_NE(third.select("c:0", "h", -180, 180, -90, 90), 19) << "the installed file, not the removed one";
    EXPECT_EQ(other.select("c:0", "h", -180, 180, -90, 90), 19);
}

TEST(ShorelineSelect, TruncatedFileNeverReadsPastTheMapping) {
    const auto bytes = read_file(fixture_path("gshhs/headers.b"));
    std::set<long> boundaries = {static_cast<long>(bytes.size())};
    for (const auto &row : recorded_headers()) boundaries.insert(row[14]);
    DataRoot data;
    vorpix::test::for_each_cut(bytes, 0, false, [&](const unsigned char *part, size_t cut) {
        {
            // The bytes as an exact-size heap block, so that the sanitizer sees any
            // overread that a mapped page would hide.
            Shorelines heap;
            LogCapture quiet;
            gshhsmap_use_data(heap.handle(), "c", reinterpret_cast<const char *>(part), static_cast<long>(cut));
            heap.select("c:0", "c", -180, 180, -90, 90);
            heap.read_all();
        }
        data.add("gshhs_c.b", std::vector<unsigned char>(part, part + cut));
        Shorelines map;
        LogCapture log;
        const int n = map.select("c:0", "c", -180, 180, -90, 90);
        if (boundaries.count(static_cast<long>(cut))) {  // an empty file selects nothing
            EXPECT_GE(n, 0) << "cut at a record boundary " << cut;
            EXPECT_TRUE(log.empty());
        } else {
            ASSERT_EQ(n, -1) << "cut " << cut;
            ASSERT_EQ(log.entries().size(), 2u);
            EXPECT_NE(log.entries()[1].message.find(data.path("gshhs_c.b")), std::string::npos);
            EXPECT_NE(log.entries()[1].message.find("truncated or corrupt file"), std::string::npos);
        }
        map.read_all();  // whatever was selected reads from inside the mapping
    });
}

TEST(ShorelineSelect, NegativePointCountFailsTheSelectionButKeepsEarlierSegments) {
    auto bytes = read_file(fixture_path("gshhs/headers.b"));
    // Polygon 2 starts at byte 68; its count is bytes 72..75.
    bytes[72] = 0xff, bytes[73] = 0xff, bytes[74] = 0xff, bytes[75] = 0xfe;
    DataRoot data;
    data.add("gshhs_c.b", bytes);
    Shorelines map;
    LogCapture log;
    EXPECT_EQ(map.select("c:0", "c", -180, 180, -90, 90), -1);
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{"gshhs_skip_pts_sized: negative point count -2 at byte 112.\n",
                                        "gshhsmap_select: " + data.path("gshhs_c.b") +
                                            ": polygon 1 (id 2) at byte 68: truncated or corrupt file.\n"}));
    EXPECT_EQ(gshhsmap_reset(map.handle()), 1);
    EXPECT_EQ(map.ids(), std::vector<int>{1});
}

TEST(ShorelineInside, UnitSquareEdgesAndShiftedCopies) {
    struct Case {
        float lon, lat;
        int expected;
    };
    const Case cases[] = {{0.5f, 0.5f, 1}, {1.5f, 0.5f, 0}, {0.5f, 2, 0}, {0.5f, -1, 0},
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

TEST(ShorelineInside, AgreesWithThePlanarReferenceUnderShiftsRotationAndReversal) {
    std::ifstream in(fixture_path("gshhs/eo_cases.txt"));
    int cases = 0;
    unsigned seed = 7;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
    for (std::string line; std::getline(in, line); ++cases) {
        std::istringstream fields(line);
        int n, expected;
        fields >> n;
        std::vector<float> lon(n), lat(n);
        for (auto &v : lon) fields >> v;
        for (auto &v : lat) fields >> v;
        float tlon, tlat;
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
    }
    EXPECT_EQ(cases, 400);
}

// The points of one polygon delivered for a box, and the number selected
// where it matters.
TEST(ShorelineDeliver, PointsContinuousInTheBoxFrameWithRunsOutsideOnItsEdges) {
    struct Case {
        const char *file;
        double west, east, south, north;
        int selected;
        int id;
        Points points;
    };
    // Point i of 301 lies at 170 * min(i, 300 - i) degrees once made continuous: 70
    // turns east and back. Point 18 (3060) is the first to sit on the frame's centre
    // 180, so the offset is -2880; of the two passes through 0..360 only the
    // crossing points and their neighbours are kept.
    Points winding;
    for (float x : {-2880, -500, -330, -160, 10, 180, 350, 520, 360, 520, 350, 180, 10, -160, -330, -500, 0})
        winding.emplace_back(x, 0);
    // clang-format off
    const Case cases[] = {
        {"clipping.b", 10, 20, 10, 20, 4, 101, {{15, 15}, {5, 5}, {10, 10}, {10, 10}, {14, 14}}},
        {"clipping.b", 10, 20, 10, 20, 4, 102, {{15, 15}, {5, 5}, {10, 10}, {7, 3}, {16, 16}}},
        {"clipping.b", 10, 20, 10, 20, 4, 103, {{15, 5}, {17, 5}, {15, 15}}},
        {"clipping.b", 10, 20, 10, 20, 4, 104, {{15, 15}, {15, 5}, {15, 10}, {20, 10}, {20, 10}, {15, 15}}},
        // The west test takes longitudes from 0 to 360. Full circle: -10 counts as
        // inside and stays -10 beside 100, nearer the centre.
        {"special.b", 0, 360, -90, 90, 8, 201, {{-10, 0}, {100, 0}, {100, 5}}},
        // Box -30..30: -40 is in the box by the west test; 40 lies east and moves to 30.
        {"special.b", -30, 30, -10, 10, 8, 202, {{0, 0}, {-40, 0}, {40, 0}, {30, 0}, {30, 0}, {0, 5}}},
        // The seam is crossed continuously: 170..190, the same given west of the seam,
        // and a box whose frame runs from 30 to 390 (160..260).
        {"special.b", 170, 190, -5, 5, 1, 203, {{179.5f, 0}, {180.5f, 0}, {180.5f, 1}}},
        {"special.b", -190, -170, -5, 5, 1, 203, {{179.5f, 0}, {180.5f, 0}, {180.5f, 1}}},
        {"special.b", -200, -100, -5, 5, 1, 203, {{179.5f, 0}, {180.5f, 0}, {180.5f, 1}}},
        {"winding.b", -180, 180, -90, 90, 1, 301, winding},
    };
    // clang-format on
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.file) + " polygon " + std::to_string(c.id) + " in " + std::to_string(c.west) + "/" +
                     std::to_string(c.east));
        DataRoot data({{"gshhs_c.b", std::string("gshhs/") + c.file}});
        Shorelines map;
        const int selected = map.select("c:0", "c", c.west, c.east, c.south, c.north);
        EXPECT_EQ(selected, c.selected);
        const auto all = map.read_all();
        const auto it = std::find_if(all.begin(), all.end(), [&](const Delivered &d) { return d.id == c.id; });
        ASSERT_NE(it, all.end());
        EXPECT_EQ(it->points, c.points);
    }
}

TEST(ShorelineDeliver, TypeLettersLevelsAntipodesAndEmptyPolygons) {
    DataRoot data({{"gshhs_c.b", "gshhs/special.b"}});
    Shorelines map;
    map.select("f:0", "c", 0, 1, 0, 1);
    std::map<int, Delivered> by_id;
    for (const auto &d : map.read_all()) by_id[d.id] = d;
    // Type letter and level; the empty polygon leaves the outputs as they were ("?" and -1 here).
    const auto type_level = [&](int id) { return by_id[id].type + std::to_string(by_id[id].level); };
    EXPECT_EQ(type_level(204), "w2");
    EXPECT_EQ(type_level(205), "l3");
    EXPECT_TRUE(by_id[206].points.empty());
    EXPECT_EQ(type_level(206), "?-1");
    // Reference (180.5, -0.5): antipode (0.5, 0.5) lies inside the unit squares 204 and 205.
    map.select("c:0", "c", -10, 10, -10, 10, 180.5, -0.5);
    std::map<int, int> antipodes;
    for (const auto &d : map.read_all()) {
        EXPECT_TRUE(d.points.empty() || d.type == "c") << d.id;
        antipodes[d.id] = d.antipode;
    }
    EXPECT_EQ((std::vector{antipodes[201], antipodes[204], antipodes[205]}), (std::vector{0, 1, 1}));
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
    DataRoot data;
    data.add("gshhs_c.b", shoreline_file({first, second}));
    Shorelines map;
    ASSERT_EQ(map.select("c:0", "c", -180, 180, -90, 90), 2);
    // The first polygon keeps its longitudes (170 came first); the second is turned once (-170 came first).
    const auto all = map.read_all();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].points[0].first, 100.0f);
    EXPECT_EQ(all[1].points[0].first, 260.0f);
}
