// vorpix borders, run as a user would: on border files made by ncgen
// (tests/fixtures/netcdf/make_fixtures.py) and on the bundled files, whose GeoJSON must pass the strict RFC 7946 check.
#include "geojson_checks.hpp"
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace vorpix::test;

namespace {

// "vorpix ARGS" with its standard error, searching root (empty: only the
// source tree) for data.
CommandResult tool(const std::string &args, const std::string &root = "") {
    return run_command("VORPIX_DATA_PATH=" + root + " " + tool_command() + " " + args + " 2>&1");
}

size_t features(const std::string &geojson) { return count_of(geojson, "\"type\":\"Feature\""); }

}  // namespace

// Refusals reach the user as one whole line (the library's may hold any
// punctuation inside) that ends without a full stop.
TEST(BordersTool, WritesGeoJsonAndSvgAndRefusesInOneLine) {
    const DataRoot data({{"binned_border_c.cdf", "netcdf/border_good.nc"}});
    const auto borders = [&data](const std::string &args) { return tool("borders " + args, data.root()); };
    auto r = borders("--res c --box -30/30/30/40");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(features(r.output), 4u);  // the segment without points is left out
    EXPECT_NE(r.output.find("{\"kind\":\"border\",\"level\":3,\"type\":\"p\"}"), std::string::npos);
    EXPECT_NE(r.output.find("\"coordinates\":[[-30,30],"), std::string::npos) << r.output;

    // East given as the smaller number means across the 180-degree meridian
    // to the user, as it does for the picture's frame.
    const auto across = borders("--res c --box 170/-170/30/40");
    ASSERT_EQ(across.status, 0) << across.output;
    EXPECT_EQ(features(across.output), 2u);
    EXPECT_EQ(across.output, borders("--res c --box 170/190/30/40").output);

    r = borders("--res c --box -30/30/30/40 --svg");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.output.rfind("<svg", 0), 0u);
    EXPECT_NE(r.output.find("<path d=\"M"), std::string::npos);

    r = borders("--help");
    EXPECT_NE(r.output.find("usage: vorpix borders --box W/E/S/N"), std::string::npos) << r.output;

    if (tool("data").output.find("binned_river_h.cdf              not found") != std::string::npos) {
        r = borders("--rivers --res h --box 0/10/0/10");
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(r.output,
                  "vorpix: maps/vorpix/binned_river_h.cdf: the high-resolution rivers are not installed "
                  "(scripts/install-high-resolutions.sh installs them; VORPIX_DATA_PATH adds directories to "
                  "search)\n");
    }

    data.add_fixture("binned_border_l.cdf", "netcdf/border_zerobins.nc");
    r = borders("--res l --box 0/10/0/10");
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.output, "vorpix: " + data.path("binned_border_l.cdf") +
                            ": a file of 0 bins by 18 bins (648 in the file) cannot be binned; the counts must be "
                            "positive\n");
}

// The bundled files, the whole world and boxes across the seam, pass the
// strict check, with each feature's kind and type. (Where the lines are cut
// is the layer's, checked there.)
TEST(BordersGeoJson, BundledFilesPassTheStrictCheck) {
    TempDir dir;
    const std::string borders = dir.file("borders.geojson"), rivers = dir.file("rivers.geojson");
    ASSERT_EQ(tool("borders --res c --box -180/180/-90/90 -o " + borders).status, 0);
    ASSERT_EQ(tool("borders --rivers --res c --box 0/360/-90/90 -o " + rivers).status, 0);
    EXPECT_EQ(rfc7946_problems(borders), "");
    EXPECT_EQ(rfc7946_problems(rivers), "");
    const auto r = run_command(python_command() +
                               " -c \"import json; print(sorted(set((f['properties']['kind'], "
                               "f['properties']['type']) for p in ['" +
                               borders + "', '" + rivers + "'] for f in json.load(open(p))['features'])))\"");
    EXPECT_EQ(r.output, "[('border', 'p'), ('river', 'r')]\n");
    for (const char *kinds : {"p:7", "r:4095"}) {
        const std::string out = dir.file("seam.geojson");
        ASSERT_EQ(tool("borders --res l --kinds " + std::string(kinds) + " --box 160/200/-60/70 -o " + out).status, 0);
        EXPECT_GT(count_of(read_text(out), "\"type\":\"Feature\""), 10u) << kinds;
        EXPECT_EQ(rfc7946_problems(out), "") << kinds;
    }
}

// The river file's level 0 (double-lined rivers and river-lakes) has no bit
// of a mask of its own: it comes whenever every river level is asked for,
// and only then. scipy counts the file's level-0 segments.
TEST(BordersTool, RiverLevelZeroComesWithEveryRiverLevel) {
    const std::string file = std::string(VORPIX_SOURCE_DIR) + "/maps/vorpix/binned_river_l.cdf";
    const auto in_file = run_command(python_command() + " -c \"from scipy.io import netcdf_file; nc = netcdf_file('" +
                                     file +
                                     "', 'r', mmap=False); "
                                     "print(int((nc.variables['Hierarchial_level_of_a_segment'].data == 0).sum()))\"");
    ASSERT_EQ(in_file.status, 0) << in_file.output;
    const size_t level0 = std::stoul(in_file.output);
    ASSERT_GT(level0, 100u);
    const struct {
        const char *args;
        bool with_level0;
    } rows[] = {{"--rivers", true}, {"--kinds r:1023", true}, {"--kinds 'p:7 r:4095'", true}, {"--kinds r:511", false}};
    for (const auto &row : rows) {
        const auto r = tool(std::string("borders --res l --box -180/180/-90/90 ") + row.args);
        ASSERT_EQ(r.status, 0) << row.args;
        EXPECT_EQ(count_of(r.output, "\"level\":0,"), row.with_level0 ? level0 : 0u) << row.args;
    }
}
