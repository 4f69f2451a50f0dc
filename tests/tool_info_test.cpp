// vorpix info on a file of each format: the listing that the library prints
// (tested whole with the library), or for shorelines one line per polygon
// header. What it cannot list is in the tool output tests' bad-input table.
#include "esri_writer.hpp"
#include "hostile_files.hpp"
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace vorpix::test;

namespace {

CommandResult info(const std::string &file) { return run_command(tool_command() + " info " + file + " 2>&1"); }

}  // namespace

TEST(InfoTool, ListsEveryFormatFromItsFirstLine) {
    struct Case {
        const char *file;
        std::string starts, contains, counted;
        size_t count;
    };
    const std::vector<Case> cases = {
        {"esri/nc.shp", "FileHdr:\n  magic=9994\n", "\n  shape_type=RecordPolygon\n", "\nRecord(", 100},
        {"esri/multipatch.shp", "FileHdr:\n  magic=9994\n", "\n    shape_type=RecordMultiPatch\n", "\nRecord(", 1},
        {"esri/nulls.shp", "FileHdr:\n  magic=9994\n", "\nRecord(2):\n", "\nRecord(", 3},
        {"esri/point.shp", "FileHdr:\n  magic=9994\n", "\nRecord(2):\n", "\nRecord(", 3},
        {"esri/cities.dbf", "DbaseFileHDR5:\n", "\nPorto       231800  41.42 \n", "DbaseFieldDescriptor5(", 3},
        {"dds/dxt1_32x8.dds", "Header:\n  dwSize=124\n", "\nmipmap[5] = 1x0\n", "\nmipmap[", 6},
        {"netcdf/example.nc", "numrecs  =  0\ndims_n   =  1\n", "\nvars[00].attrs[00].values.values[00]  =  2.500000\n",
         "\n", 22},
        {"gshhs/nc_c.b",
         "  offset       id   points level version        west        east      south      north         area\n",
         "\n       0        0        8     1       7 ", "\n", 1 + 103},
    };
    for (const Case &c : cases) {
        const auto r = info(fixture_path(c.file));
        EXPECT_EQ(r.status, 0) << c.file;
        EXPECT_EQ(r.output.rfind(c.starts, 0), 0u) << c.file << ":\n" << r.output.substr(0, 200);
        EXPECT_NE(r.output.find(c.contains), std::string::npos) << c.file;
        EXPECT_EQ(count_of(r.output, c.counted), c.count) << c.file;
    }
}

// A shapefile of half a million points, 14 MB, whose listing is 80 MB of
// text: listed a record at a time as it is read, it fits in an address space
// of 150 MB, which the listing of the file decoded whole, held whole, does not.
TEST(InfoTool, ListsHalfAMillionPointsWithinBoundedMemory) {
    MainFile f;
    for (std::uint32_t i = 0; i < 500000; ++i)
        f.record(static_cast<int>(i) + 1, 10, point_shape(i * 0.25, (i % 1000) * -0.5));
    const std::vector<unsigned char> b = f.finish(1);
    TempDir dir;
    const std::string path = dir.file("points.shp");
    write_file(path, b.data(), b.size());
    // The number of records listed, then the last ten lines.
    const auto r = run_command("(" + memory_capped(150) + tool_command() + " info " + path +
                               "; echo exit $?) 2>&1 | awk '/^Record\\(/ { n++ } { last[NR % 10] = $0 } "
                               "END { print n; for (i = NR - 9; i <= NR; i++) print last[i % 10] }'");
    EXPECT_EQ(r.output,
              "500000\n"
              "Record(499999):\n  offset=14000072\n  RecordHdr:\n    number=500000\n    length=10\n"
              "  RecordPoint(499999):\n    shape_type=RecordPoint\n    x=124999.750000\n    y=-499.500000\n"
              "exit 0\n");
}
