// vorpix info on a file of each format: the listing that the library prints
// (tested whole with the library), or for shorelines one line per polygon
// header. What it cannot list is in the tool output tests' bad-input table.
#include "test_files.hpp"

#include <gtest/gtest.h>

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
