#include "netcdf.h"

#include "datafile.h"
#include "hostile_files.hpp"
#include "log_capture.hpp"
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

using namespace vorpix::test;

namespace {

using Bytes = std::vector<unsigned char>;

// Map objects live for the process, as clients keep them; holding them here
// keeps them reachable for the leak checker.
void *new_map() {
    static auto *maps = new std::vector<void *>;  // never destroyed: still reachable at exit
    void *map = nullptr;
    EXPECT_EQ(gmtmap_open(&map), 0);
    maps->push_back(map);
    return map;
}

struct Delivered {
    std::vector<float> lon, lat;
    std::string type;
    int level;
    int npts;
};

int select(void *map, const std::string &kinds, const std::string &res, double w, double e, double s, double n) {
    std::string k = kinds, r = res;
    return gmtmap_select(map, k.data(), r.data(), w, e, s, n);
}

std::vector<Delivered> deliver_all(void *map) {
    std::vector<Delivered> out;
    float *lon = nullptr, *lat = nullptr;
    int size = 0;
    char type[2] = "-";
    int level = -1, npts = 0;
    while (gmtmap_nextseg(map, &npts, &size, &lon, &lat, type, &level) == 1) {
        Delivered d{{}, {}, type, level, npts};
        if (npts) d.lon.assign(lon, lon + npts), d.lat.assign(lat, lat + npts);
        out.push_back(d);
    }
    std::free(lon);
    std::free(lat);
    return out;
}

// What identifies a segment of the synthetic file: where its first point
// lies (a point on a bin's north edge counts to the row above), its level
// (a segment without points keeps the one before) and its point count.
using Identity = std::tuple<int, int, int, int>;
std::vector<Identity> identities(const std::vector<Delivered> &segments) {
    std::vector<Identity> out;
    out.reserve(segments.size());
    for (const auto &s : segments)
        out.emplace_back(s.npts ? static_cast<int>(std::floor(s.lon[0])) : -1,
                         s.npts ? static_cast<int>(std::floor(s.lat[0])) : -1, s.level, s.npts);
    return out;
}

// border_good.nc: 36 by 18 bins of 10 degrees, segments listed in make_fixtures.py.
TEST(BorderSelect, DeliversTheSegmentsOfTheBinsTheBoxTouches) {
    struct Case {
        const char *name, *kinds;
        double w, e, s, n;
        std::vector<Identity> expected;
    };
    // clang-format off
    const Case cases[] = {
        {"AcrossZeroKeepsBinCornersFrom330Up", "p:7", -30, 30, 30, 40, {{0, 30, 1, 2}, {0, 30, 3, 3}, {20, 40, 1, 2}, {-1, -1, 1, 0}, {330, 30, 1, 2}}},
        {"MaskOneKeepsLevelOne", "p:1", -30, 30, 30, 40, {{0, 30, 1, 2}, {20, 40, 1, 2}, {330, 30, 1, 2}}},
        {"MaskZeroSelectsNothing", "p:0", -30, 30, 30, 40, {}},
        {"EastPast180AsGreaterNumber", "p:7", 170, 190, 30, 40, {{170, 30, 1, 2}, {180, 30, 2, 2}}},
        {"EastGivenAsSmallerNumberSelectsNothing", "p:7", 170, -170, 30, 40, {}},
        {"LatitudeRowsUpTo45", "p:1", 0, 10, 30, 45, {{0, 40, 1, 2}, {0, 30, 1, 2}}},
        {"LatitudeRowsUpTo50", "p:1", 0, 10, 30, 50, {{0, 40, 1, 2}, {0, 30, 1, 2}}},
        {"KindsInTheOrderNamed", "r:1 p:2", 0, 20, 60, 90, {{0, 80, 1, 3}, {10, 70, 2, 2}}},
        {"FiveWordsFillFourEntries", "p:1 p:1 p:1 p:1 p:1", 0, 10, 80, 90, {{0, 80, 1, 3}, {0, 80, 1, 3}, {0, 80, 1, 3}, {0, 80, 1, 3}}},
        {"OtherLettersAreIgnored", "x:1 P:1 q r", 0, 10, 80, 90, {}},
    };
    // clang-format on
    DataRoot data({{"binned_border_c.cdf", "netcdf/border_good.nc"}});
    data.add_fixture("binned_river_c.cdf", "netcdf/border_good.nc");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        void *map = new_map();
        EXPECT_EQ(select(map, c.kinds, "c", c.w, c.e, c.s, c.n), static_cast<int>(c.expected.size()));
        EXPECT_EQ(identities(deliver_all(map)), c.expected);
    }
}

// Kinds that name no file load none; the resolution is read from its first
// letter, intermediate for any other; a file is read once per map.
TEST(BorderSelect, FilesByKindAndResolutionReadOnce) {
    DataRoot data;
    void *map = new_map();
    LogCapture log;
    EXPECT_EQ(select(map, "", "c", 0, 10, 0, 10), 0);
    EXPECT_EQ(select(map, "c:1 x", "c", 0, 10, 0, 10), 0);
    EXPECT_TRUE(log.empty());
    // scripts/install-high-resolutions.sh may have put the real file in the
    // source tree, which a build searches after VORPIX_DATA_PATH.
    char *installed = datafile(nullptr, "maps/vorpix/binned_border_i.cdf");
    if (!installed) {
        EXPECT_EQ(select(map, "p:1", "i", 0, 10, 0, 10), -1);
        EXPECT_EQ(log.text(), "gmtmap_select: datafile(maps/vorpix/binned_border_i.cdf) error.\n");
    }
    std::free(installed);
    data.add_fixture("binned_border_i.cdf", "netcdf/border_good.nc");
    for (const char *res : {"C", "", "intermediate", "x"}) EXPECT_EQ(select(map, "p:1", res, 0, 10, 80, 90), 1) << res;
    ASSERT_EQ(select(map, "p:7", "i", -180, 180, -90, 90), 14);
    std::filesystem::remove(data.path("binned_border_i.cdf"));
    EXPECT_EQ(select(map, "p:7", "i", -180, 180, -90, 90), 14);
    EXPECT_EQ(deliver_all(map).size(), 14u);
}

TEST(BorderBinding, RefusesTheFileWithItsMessage) {
    const std::string bind = "gmtmap_process_border_hdr: ", variable = bind + "netcdf \"";
    // clang-format off
    const std::pair<const char *, std::string> cases[] = {
        {"border_missing.nc", bind + "Cannot find \"N_bins_in_file\" variable in netcdf header.\n"},
        {"border_record.nc", variable + "Id_of_first_segment_in_a_bin\" variable is a record variable, must be a non-record variable (fixed).\n"},
        {"border_dimname.nc", variable + "N_points_for_a_segment\" variable dim = \"Dimension_of_points\", must be \"Dimension_of_segment_arrays\".\n"},
        {"border_type.nc", variable + "Hierarchial_level_of_a_segment\" variable type = 4, must be 3.\n"},
        {"border_twodims.nc", variable + "N_bins_in_180_degree_latitude_range\" variable ndims = 2, must be 1.\n"},
        {"border_zerobins.nc", bind + "a file of 0 bins by 18 bins (648 in the file) cannot be binned; the counts must be positive.\n"},
    };
    // clang-format on
    for (const auto &[fixture, message] : cases) {
        SCOPED_TRACE(fixture);
        DataRoot data({{"binned_border_c.cdf", std::string("netcdf/") + fixture}});
        void *map = new_map();
        {
            LogCapture log;
            EXPECT_EQ(select(map, "p:1", "c", -180, 180, -90, 90), -1);
            char *path = datafile(nullptr, "maps/vorpix/binned_border_c.cdf");
            const std::string failed = "0gmtmap_select: gmtmap_process_border_hdr(" + std::string(path) + ") error.\n";
            std::free(path);
            std::vector<std::string> got;
            for (const auto &e : log.entries()) got.push_back(std::to_string(e.flags) + e.message);
            EXPECT_EQ(got, std::vector<std::string>({"0" + message, failed}));
        }
        // A failed load is tried again by the next selection.
        data.add_fixture("binned_border_c.cdf", "netcdf/border_good.nc");
        EXPECT_EQ(select(map, "p:1", "c", 0, 10, 80, 90), 1);
    }
}

TEST(BorderBinding, FieldsBoundBeforeAMissingVariableStay) {
    const Bytes bytes = read_file(fixture_path("netcdf/border_missing.nc"));
    NETCDFMapBorder map{};
    ASSERT_EQ(netcdf_unstuff_header_sized(bytes.data(), static_cast<long>(bytes.size()), &map.hdr), 0);
    LogCapture log;
    EXPECT_EQ(gmtmap_process_border_hdr(&map), -1);
    EXPECT_EQ(map.nbinlon, 36);
    EXPECT_EQ(map.nbinlat, 18);
    EXPECT_EQ(map.nbin, 0);
    netcdf_clear_header(map.hdr);
    std::free(map.hdr);
}

// Every prefix of a border file is refused before anything is selected from it.
TEST(BorderBinding, EveryTruncatedFileIsRefused) {
    const Bytes bytes = read_file(fixture_path("netcdf/border_good.nc"));
    void *map = new_map();
    for_each_cut(bytes, 0, false, [&](const unsigned char *prefix, size_t n) {
        LogCapture log;
        ASSERT_EQ(gmtmap_use_data(map, 'p', "c", n ? prefix : nullptr, static_cast<long>(n)), -1) << n;
        ASSERT_FALSE(log.empty());
    });
    ASSERT_EQ(gmtmap_use_data(map, 'p', "c", bytes.data(), static_cast<long>(bytes.size())), 0);
    EXPECT_EQ(select(map, "p:7", "c", -180, 180, -90, 90), 14);
}

// The oracle files were written by border_oracle.py from the committed
// crude samples with scipy's reader: each case's box and segment count, then
// each segment's bin corner, level, point count and first and last point.
TEST(RealBorders, CrudeBordersAndRiversMatchTheIndependentDecoder) {
    for (const auto &[oracle, letter] : {std::pair{"border_c_expected.txt", 'p'}, {"river_c_expected.txt", 'r'}}) {
        std::ifstream in(fixture_path(std::string("netcdf/") + oracle));
        ASSERT_TRUE(in);
        void *map = new_map();
        std::string word;
        unsigned mask;
        double w, e, s, n;
        size_t count, cases = 0;
        for (; in >> word >> mask >> w >> e >> s >> n >> count; ++cases) {
            ASSERT_EQ(word, "case");
            SCOPED_TRACE(std::string(oracle) + " case " + std::to_string(cases));
            ASSERT_EQ(select(map, std::string(1, letter) + ":" + std::to_string(mask), "c", w, e, s, n),
                      static_cast<int>(count));
            const auto segs = deliver_all(map);
            ASSERT_EQ(segs.size(), count);
            for (size_t i = 0; i < count; ++i) {
                double lon0, lat0;
                int level, npts;
                std::string f[4];
                ASSERT_TRUE(in >> lon0 >> lat0 >> level >> npts >> f[0] >> f[1] >> f[2] >> f[3]);
                const Delivered &d = segs[i];
                ASSERT_EQ(d.level, level) << i;
                ASSERT_EQ(d.npts, npts) << i;
                ASSERT_EQ(d.type, std::string(1, letter));
                if (!npts) continue;
                ASSERT_EQ(d.lon[0], std::strtof(f[0].c_str(), nullptr)) << i;
                ASSERT_EQ(d.lat[0], std::strtof(f[1].c_str(), nullptr)) << i;
                ASSERT_EQ(d.lon[npts - 1], std::strtof(f[2].c_str(), nullptr)) << i;
                ASSERT_EQ(d.lat[npts - 1], std::strtof(f[3].c_str(), nullptr)) << i;
                ASSERT_GE(d.lon[0], lon0);
            }
        }
        EXPECT_TRUE(in.eof());
        EXPECT_GT(cases, 0u);
    }
}

// Real binned files list each bin's segments, and each segment's points,
// after those before it; files whose ranges are shared would select
// billions of segments or points from a few hundred kilobytes, and are
// refused when bound. Points outside the file fail the selection.
TEST(HostileBorders, SharedRangesAndPointsOutsideAreRefusedInOneLine) {
    const std::string bind = "gmtmap_process_border_hdr: ";
    // clang-format off
    const std::tuple<std::string, bool, std::string> cases[] = {
        {hostile_file("border_shared_segments.cdf"), false, bind + "bin 1: segments 0 to 29999 overlap or precede those of an earlier bin, which end at 29999.\n"},
        {hostile_file("border_shared_points.cdf"), false, bind + "segment 1: points 0 to 65534 overlap or precede those of an earlier segment, which end at 65534.\n"},
        {fixture_path("netcdf/border_farpoints.nc"), true, "gmtmap_select: border_c.cdf: segment 0 of bin 0: points 27 to 29 lie outside the 28 points of the file.\n"},
    };
    // clang-format on
    for (const auto &[file, binds, message] : cases) {
        SCOPED_TRACE(file);
        const Bytes bytes = read_file(file);
        void *map = new_map();
        LogCapture log;
        EXPECT_EQ(gmtmap_use_data(map, 'p', "c", bytes.data(), static_cast<long>(bytes.size())), binds ? 0 : -1);
        if (binds) {
            EXPECT_EQ(select(map, "p:1", "c", -180, 180, -90, 90), -1);
            EXPECT_EQ(deliver_all(map).size(), 0u);
        }
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(binds ? log.text() : log.entries()[0].message, message);
    }
}

}  // namespace
