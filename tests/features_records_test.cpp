// What the shapefile reader tells of a file beside its features, for the
// Python module: going on from a record by number (seek), the main file's
// header, the .prj's text whatever the transform option, and a rectangle in
// the file's own coordinates.
#include "test_files.hpp"

#include "vorpix/features.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

using vorpix::features::Error;
using vorpix::features::Feature;
using vorpix::features::Rectangle;
using vorpix::features::ShapefileOptions;
using vorpix::features::ShapefileReader;

namespace {

const auto esri = vorpix::test::esri_fixture;

std::vector<long> ids(ShapefileReader &reader) {
    std::vector<long> out;
    Feature f;
    while (reader.next(f)) out.push_back(f.id);
    return out;
}

std::vector<long> range(long from, long to) {
    std::vector<long> out;
    for (long i = from; i < to; ++i) out.push_back(i);
    return out;
}

// nc.shp and nc.dbf copied without their .shx, so that records are found
// one after another.
struct WithoutIndex {
    vorpix::test::TempDir dir;
    std::string shp = dir.file("nc.shp");
    WithoutIndex() {
        std::filesystem::copy_file(esri("nc.shp"), shp);
        std::filesystem::copy_file(esri("nc.dbf"), dir.file("nc.dbf"));
    }
};

}  // namespace

// seek goes on from a record, by the .shx or by walking the headers, the
// same records and geometries as reading them all; ahead of or behind the
// place it stands; beyond the end it ends.
TEST(ShapefileSeek, GoesOnFromARecordWithOrWithoutTheIndex) {
    WithoutIndex copy;
    for (const std::string &path : {esri("nc.shp"), copy.shp}) {
        SCOPED_TRACE(path);
        ShapefileReader all(path);
        std::vector<Feature> every;
        for (Feature f; all.next(f);) every.push_back(f);
        ASSERT_EQ(every.size(), 100u);

        ShapefileReader reader(path);
        reader.seek(97);
        EXPECT_EQ(ids(reader), range(97, 100));
        reader.seek(40);  // behind where it stands
        Feature f;
        ASSERT_TRUE(reader.next(f));
        EXPECT_EQ(f.id, 40);
        EXPECT_EQ(f.geometry.x, every[40].geometry.x);
        EXPECT_EQ(f.values[4].text, every[40].values[4].text);
        reader.seek(60);  // ahead
        ASSERT_TRUE(reader.next(f));
        EXPECT_EQ(f.id, 60);
        EXPECT_EQ(f.geometry.y, every[60].geometry.y);
        reader.seek(100);
        EXPECT_FALSE(reader.next(f));
        reader.seek(1000);
        EXPECT_FALSE(reader.next(f));
        reader.seek(-5);
        EXPECT_EQ(ids(reader), range(0, 100));
    }
}

TEST(ShapefileSeek, TablesAloneGoOnFromARow) {
    ShapefileReader reader(esri("cities.dbf"));
    const long count = reader.record_count();
    ASSERT_GT(count, 2);
    reader.seek(count - 2);
    EXPECT_EQ(ids(reader), range(count - 2, count));
}

// The header as shapelib's shpdump lists it (tests/fixtures/esri/*.shpdump):
// shape type and extent.
TEST(ShapefileHeader, IsTheMainFilesHeader) {
    ShapefileReader reader(esri("arcz.shp"));
    EXPECT_EQ(reader.header().shape_type, 13);
    const std::string dump = vorpix::test::read_text(esri("arcz.shpdump"));
    char bounds[512];
    const auto &h = reader.header();
    std::snprintf(bounds, sizeof bounds,
                  "File Bounds: (%.15g,%.15g,%.15g,%.15g)\n         to  (%.15g,%.15g,%.15g,%.15g)", h.xmin, h.ymin,
                  h.zmin, h.mmin, h.xmax, h.ymax, h.zmax, h.mmax);
    EXPECT_NE(dump.find(bounds), std::string::npos) << bounds << "\n" << dump.substr(0, 300);
    ShapefileReader table(esri("cities.dbf"));
    EXPECT_EQ(table.header().shape_type, -1);
}

// The .prj's text as it stands, with or without the transform; none without
// a .prj or for a table alone.
TEST(ShapefileCoordinateSystem, IsThePrjText) {
    const std::string prj = vorpix::test::read_text(esri("utm.prj"));
    ShapefileOptions plain;
    plain.transform = false;
    EXPECT_EQ(ShapefileReader(esri("utm.shp"), plain).coordinate_system(), prj);
    EXPECT_EQ(ShapefileReader(esri("utm.shp")).coordinate_system(), prj);
    EXPECT_EQ(ShapefileReader(esri("nc.shp")).coordinate_system(), "");
    EXPECT_EQ(ShapefileReader(esri("cities.dbf")).coordinate_system(), "");
}

// A rectangle in metres selects the features that meet it, with no turns
// of longitude: each kept feature has a point in it or an edge across it,
// or the rectangle lies inside it; the others have none of these.
TEST(ShapefileRectangle, SelectsInTheFilesOwnCoordinates) {
    ShapefileOptions options;
    options.transform = false;
    options.rfc7946 = false;
    ShapefileReader all(esri("utm.shp"), options);
    std::vector<Feature> every;
    for (Feature f; all.next(f);) every.push_back(f);
    const Rectangle r{600000, 3850000, 700000, 3950000};
    options.rectangle = r;
    ShapefileReader some(esri("utm.shp"), options);
    const std::vector<long> kept = ids(some);
    ASSERT_FALSE(kept.empty());
    ASSERT_LT(kept.size(), every.size());
    for (const Feature &f : every) {
        const auto &g = f.geometry;
        bool point_in = false;
        double west = INFINITY, east = -INFINITY, south = INFINITY, north = -INFINITY;
        for (size_t i = 0; i < g.x.size(); ++i) {
            point_in = point_in || (g.x[i] >= r.xmin && g.x[i] <= r.xmax && g.y[i] >= r.ymin && g.y[i] <= r.ymax);
            west = std::min(west, g.x[i]), east = std::max(east, g.x[i]);
            south = std::min(south, g.y[i]), north = std::max(north, g.y[i]);
        }
        const bool extent_meets = west <= r.xmax && east >= r.xmin && south <= r.ymax && north >= r.ymin;
        const bool is_kept = std::find(kept.begin(), kept.end(), f.id) != kept.end();
        if (point_in) {
            EXPECT_TRUE(is_kept) << f.id;
        }
        if (!extent_meets) {
            EXPECT_FALSE(is_kept) << f.id;
        }
    }
    // Records read by number ignore it, as they ignore the box.
    Feature f;
    ASSERT_TRUE(some.read(0, f));
    EXPECT_EQ(f.geometry.x, every[0].geometry.x);
}
