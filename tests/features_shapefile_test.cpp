// The feature layer's shapefile reader through its own interface: records
// found through the .shx and by number, columns, tables alone, errors as
// data, and the typed values that the library decodes.
#include "byte_writer.hpp"
#include "feature_checks.hpp"
#include "test_files.hpp"

#include "vorpix/features.hpp"
#include "vorpix/geojson_writer.hpp"
#include "vorpix/reproject.hpp"

#include "arrays.h"
#include "esri.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using vorpix::features::Error;
using vorpix::features::ErrorCode;
using vorpix::features::Feature;
using vorpix::features::GeometryType;
using vorpix::features::Rectangle;
using vorpix::features::ShapefileOptions;
using vorpix::features::ShapefileReader;

namespace {

const auto esri = vorpix::test::esri_fixture;

using vorpix::test::all_features;
using vorpix::test::error_of;

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
    WithoutIndex() { vorpix::test::copy_with_sides(esri("nc"), dir.file("nc"), {".shp", ".dbf"}); }
};

}  // namespace

// Records padded past what their shapes need (each gains eight bytes, its
// content length and the .shx saying so) are found through the .shx, or
// without it by their content lengths: the features of the file unpadded.
TEST(ShapefileReader, PaddedRecordsReadAsTheUnpaddedFile) {
    const vorpix::test::TempDir dir;
    const auto shp = vorpix::test::read_file(esri("arc.shp"));
    std::vector<unsigned char> out(shp.begin(), shp.begin() + 100), index(out);
    const auto word = [&shp](size_t at) { return vorpix::test::big32(shp, at); };
    for (size_t at = 100; at < shp.size();) {
        const std::uint32_t words = word(at + 4);
        vorpix::test::put_be32(index, static_cast<std::uint32_t>(out.size() / 2));
        vorpix::test::put_be32(index, words + 4);
        vorpix::test::put_be32(out, word(at));
        vorpix::test::put_be32(out, words + 4);
        out.insert(out.end(), shp.begin() + static_cast<long>(at + 8),
                   shp.begin() + static_cast<long>(at + 8 + 2 * words));
        out.insert(out.end(), 8, 0);
        at += 8 + 2 * words;
    }
    vorpix::test::set_word(out, 24, out.size() / 2, 4, true);
    vorpix::test::set_word(index, 24, index.size() / 2, 4, true);
    vorpix::test::write_file(dir.file("padded.shp"), out.data(), out.size());
    vorpix::test::write_file(dir.file("padded.shx"), index.data(), index.size());
    ShapefileReader plain(esri("arc.shp"));
    const std::vector<Feature> expected = all_features(plain);
    ASSERT_EQ(expected.size(), 2u);
    for (const bool with_index : {true, false}) {
        if (!with_index) std::filesystem::remove(dir.file("padded.shx"));
        ShapefileReader padded(dir.file("padded.shp"));
        const std::vector<Feature> got = all_features(padded);
        ASSERT_EQ(got.size(), expected.size()) << with_index;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].geometry.x, expected[i].geometry.x) << with_index;
            EXPECT_EQ(got[i].geometry.y, expected[i].geometry.y) << with_index;
        }
    }
}

// Failures name the file, the place and the reason apart, and say what kind
// of failure they are.
TEST(ShapefileReader, ErrorsAreDataNotText) {
    const vorpix::test::TempDir dir;
    const auto whole = vorpix::test::read_file(esri("arc.shp"));
    struct Case {
        std::string path;
        size_t keep;  // bytes of arc.shp written there, or 0 for none
        ErrorCode code;
        const char *place, *reason;
    } cases[] = {
        {dir.file("missing.shp"), 0, ErrorCode::Io, "", "cannot open: No such file or directory"},
        {dir.file("short.shp"), 60, ErrorCode::Invalid, "header",
         "the file has 60 bytes, fewer than the 100 of a header"},
        {dir.file("cut.shp"), 300, ErrorCode::Invalid, "header",
         "file length 172 words (344 bytes) runs past the end of the file, which has 300 bytes"},
    };
    for (const Case &c : cases) {
        if (c.keep) vorpix::test::write_file(c.path, whole.data(), c.keep);
        const Error e = error_of([&] { ShapefileReader reader(c.path); });
        EXPECT_EQ(e.code(), c.code) << c.path;
        EXPECT_EQ(e.file(), c.path);
        EXPECT_EQ(e.place(), c.place);
        EXPECT_EQ(e.reason(), c.reason);
    }
    // A last record cut 4 bytes short, in a file whose length in the header
    // (170 words) agrees with the cut: refused when it is read.
    std::vector<unsigned char> cut(whole.begin(), whole.end() - 4);
    cut[27] = 170;
    const std::string path = dir.file("cut_record.shp");
    vorpix::test::write_file(path, cut.data(), cut.size());
    ShapefileReader reader(path);
    Feature f;
    ASSERT_TRUE(reader.next(f));
    const Error e = error_of([&] { reader.next(f); });
    EXPECT_EQ(e.code(), ErrorCode::Invalid);
    EXPECT_EQ(e.place(), "record 1");
    EXPECT_EQ(e.reason(),
              "content length 40 words (80 bytes) at byte 256 runs past the end of the file, which has 340 bytes");
}

// The library's typed values: numbers as integers when they are whole and
// fit, else reals; blanks, asterisks and what does not read as null; dates
// and logicals; text where it stands, trimmed, up to a zero byte.
TEST(DbaseValues, EachFieldTypeReadsAsItsKind) {
    struct Case {
        char type;
        const char *text;
        int kind;
        long long integer;
        double real;
        const char *value;
    } cases[] = {
        {'N', "   42", ESRI_VALUE_INTEGER, 42, 0, ""},
        {'N', "  -007", ESRI_VALUE_INTEGER, -7, 0, ""},
        {'N', "+5", ESRI_VALUE_INTEGER, 5, 0, ""},
        {'N', "99999999999999999999", ESRI_VALUE_REAL, 0, 1e20, ""},
        {'N', "1.50", ESRI_VALUE_REAL, 0, 1.5, ""},
        {'F', "-2.5e3", ESRI_VALUE_REAL, 0, -2500, ""},
        {'N', "******", ESRI_VALUE_NULL, 0, 0, ""},
        {'N', "      ", ESRI_VALUE_NULL, 0, 0, ""},
        {'N', "1,5", ESRI_VALUE_NULL, 0, 0, ""},
        {'N', "nan", ESRI_VALUE_NULL, 0, 0, ""},
        {'L', "T", ESRI_VALUE_LOGICAL, 1, 0, ""},
        {'L', "n", ESRI_VALUE_LOGICAL, 0, 0, ""},
        {'L', "y", ESRI_VALUE_LOGICAL, 1, 0, ""},
        {'L', "?", ESRI_VALUE_NULL, 0, 0, ""},
        {'D', "20240131", ESRI_VALUE_DATE, 20240131, 0, ""},
        {'D', "00000000", ESRI_VALUE_NULL, 0, 0, ""},
        {'D', "2024-1-3", ESRI_VALUE_NULL, 0, 0, ""},
        {'C', "  two words  ", ESRI_VALUE_TEXT, 0, 0, "two words"},
        {'C', "cut", ESRI_VALUE_TEXT, 0, 0, "cut"},  // stored as "cut\0off"
        {'M', "x", ESRI_VALUE_TEXT, 0, 0, "x"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(1, c.type) + " \"" + c.text + "\"");
        // One field of 20 bytes after the deletion flag.
        ESRIDBASEFIELDDESCRStr field{};
        std::strcpy(field.name, "F");
        field.type = c.type;
        field.length = 20;
        Tbl *descriptors = newtbl(0);
        settbl(descriptors, -1, &field);
        ESRIDBASEStr table{};
        table.field_descriptors = descriptors;
        unsigned char record[21];
        std::memset(record, ' ', sizeof record);
        std::memcpy(record + 1, c.text, std::min<size_t>(std::strlen(c.text), 20));
        if (std::strcmp(c.value, "cut") == 0) {
            const std::string cut("cut\0off", 7);
            std::copy(cut.begin(), cut.end(), record + 1);
        }
        ESRIDBASEVALUEStr v{};
        EXPECT_EQ(esri_get_dbase_values(&table, record, sizeof record, &v, 1), 0);
        freetbl(descriptors, nullptr);
        EXPECT_EQ(v.type, c.kind);
        if (c.kind == ESRI_VALUE_INTEGER || c.kind == ESRI_VALUE_LOGICAL || c.kind == ESRI_VALUE_DATE) {
            EXPECT_EQ(v.integer, c.integer);
        } else if (c.kind == ESRI_VALUE_REAL) {
            EXPECT_EQ(v.real, c.real);
        } else if (c.kind == ESRI_VALUE_TEXT) {
            EXPECT_EQ(std::string(reinterpret_cast<const char *>(v.text), static_cast<size_t>(v.length)), c.value);
        }
    }
    // The deletion flag, and a record shorter than its fields.
    ESRIDBASEStr empty{};
    const unsigned char deleted[] = {'*'};
    EXPECT_EQ(esri_get_dbase_values(&empty, deleted, 1, nullptr, 0), 1);
    EXPECT_EQ(esri_get_dbase_values(&empty, nullptr, -1, nullptr, 0), -1);
}

// A feature sequence is one Feature per line after a record separator; a
// collection's box runs across 180 when its features do.
TEST(GeoJsonWriter, SequencesAndBoxesAcross180) {
    std::string text;
    vorpix::features::GeoJsonWriter sequence([&](const char *d, size_t n) { text.append(d, n); }, {.sequence = true});
    Feature f;
    f.id = 3;
    f.geometry.type = GeometryType::LineString;
    f.geometry.x = {170, 179.5};
    f.geometry.y = {-1, 1};
    f.geometry.runs = {0, 2};
    sequence.write(f, {});
    sequence.finish();
    EXPECT_EQ(text,
              "\x1e{\"type\":\"Feature\",\"id\":3,\"bbox\":[170,-1,179.5,1],\"properties\":{},\"geometry\":{"
              "\"type\":\"LineString\",\"coordinates\":[[170,-1],[179.5,1]]}}\n");

    vorpix::features::LonLatBox box;
    const double east[] = {170, 180}, west[] = {-180, -170}, lat[] = {0, 10};
    box.add(east, lat, 2);
    box.add(west, lat, 2);
    std::string json;
    box.json(json);
    EXPECT_EQ(json, "[170,0,-170,10]");
}

// Text holding every control character, DEL, quotes and backslashes is a
// JSON string that Python's json module, strict about control characters,
// reads back as it was.
TEST(GeoJsonWriter, StringsOfEveryControlCharacterReadBackAsTheyWere) {
    std::string text = "\"quoted\" back\\slash / \xc3\xa9 ";
    for (char c = 1; c < 0x20; ++c) text += c;
    text += '\x7f';
    std::string json;
    vorpix::features::json_string(text, json);
    vorpix::test::TempDir dir;
    vorpix::test::write_file(dir.file("s.json"), json.data(), json.size());
    vorpix::test::write_file(dir.file("s.txt"), text.data(), text.size());
    const auto r = vorpix::test::run_command(
        vorpix::test::python_command() +
        " -c \"import json, sys; read = lambda p: open(p, 'rb').read().decode('utf-8'); "
        "print(json.loads(read(sys.argv[1])) == read(sys.argv[2]))\" " +
        dir.file("s.json") + " " + dir.file("s.txt") + " 2>&1");
    EXPECT_EQ(r.output, "True\n") << json;
}

// What the reader tells of a file beside its features, for the Python
// module: going on from a record by number (seek), the main file's header
// and a rectangle in the file's own coordinates. (The module's own tests
// hold its columns, tables alone and .prj to what GDAL reads.)
// seek goes on from a record, by the .shx or by walking the headers, the
// same records and geometries as reading them all; ahead of or behind the
// place it stands; beyond the end it ends.
TEST(ShapefileSeek, GoesOnFromARecordWithOrWithoutTheIndex) {
    WithoutIndex copy;
    for (const std::string &path : {esri("nc.shp"), copy.shp}) {
        SCOPED_TRACE(path);
        ShapefileReader whole(path);
        const std::vector<Feature> every = all_features(whole);
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

// A table alone goes on from a row too; its rows have no geometry, so a box
// leaves them all out.
TEST(ShapefileSeek, TablesAloneGoOnFromARowAndABoxLeavesThemOut) {
    ShapefileReader reader(esri("cities.dbf"));
    const long count = reader.record_count();
    ASSERT_GT(count, 2);
    reader.seek(count - 2);
    EXPECT_EQ(ids(reader), range(count - 2, count));
    ShapefileOptions boxed;
    boxed.box = vorpix::features::Box{-180, 180, -90, 90};
    ShapefileReader none(esri("cities.dbf"), boxed);
    EXPECT_TRUE(all_features(none).empty());
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

// A rectangle in metres selects the features that meet it, with no turns
// of longitude: each kept feature has a point in it or an edge across it,
// or the rectangle lies inside it; the others have none of these.
TEST(ShapefileRectangle, SelectsInTheFilesOwnCoordinates) {
    ShapefileOptions options;
    options.transform = false;
    options.rfc7946 = false;
    ShapefileReader whole(esri("utm.shp"), options);
    const std::vector<Feature> every = all_features(whole);
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

// Where one operation serves the whole extent of a file, PROJ is asked for
// it alone, and it moves every point as PROJ's choice per point does; where
// none does, the choice stays per point. A datum named "D_unknown", which
// the reader passes to PROJ as "unknown", moves points as the text written.
TEST(ShapefileCoordinateSystem, OperationsChosenForTheExtentMovePointsAsPerPoint) {
    using vorpix::features::Extent;
    using vorpix::features::ToLonLat;
    const std::string nad27 =
        "GEOGCS[\"GCS_North_American_1927\",DATUM[\"D_North_American_1927\",SPHEROID["
        "\"Clarke_1866\",6378206.4,294.9786982]],PRIMEM[\"Greenwich\",0],UNIT[\"Degree\","
        "0.017453292519943295]]";
    const auto moved = [](const ToLonLat &t, std::vector<double> xy) {
        t.apply(xy.data(), xy.data() + 1, 2, xy.size() / 2);
        return xy;
    };
    const ToLonLat per_point(nad27, "nad27.prj");
    const Extent carolina{-84.3, 33.9, -75.5, 36.6};
    const ToLonLat once(nad27, "nad27.prj", &carolina);
    ASSERT_TRUE(per_point.per_point());
    ASSERT_FALSE(once.per_point());
    std::vector<double> grid;
    for (double x = carolina.xmin; x <= carolina.xmax; x += 0.55)
        for (double y = carolina.ymin; y <= carolina.ymax; y += 0.3) grid.insert(grid.end(), {x, y});
    EXPECT_EQ(moved(once, grid), moved(per_point, grid));
    EXPECT_NE(moved(once, grid), grid);
    const Extent continent{-170, 20, -50, 75};
    EXPECT_TRUE(ToLonLat(nad27, "nad27.prj", &continent).per_point());

    vorpix::test::TempDir dir;
    vorpix::test::copy_with_sides(esri("utm"), dir.file("utm"));
    std::string prj = vorpix::test::read_text(esri("utm.prj"));
    prj.replace(prj.find("D_WGS_1984"), 10, "D_unknown");
    vorpix::test::write_file(dir.file("utm.prj"), prj.data(), prj.size());
    ShapefileOptions stored;
    stored.transform = false;
    stored.rfc7946 = false;
    ShapefileReader as_stored(dir.file("utm.shp"), stored), as_lonlat(dir.file("utm.shp"));
    const ToLonLat written(prj, "utm.prj");
    Feature a, b;
    ASSERT_TRUE(as_stored.next(a) && as_lonlat.next(b));
    std::vector<double> xy;
    for (size_t i = 0; i < a.geometry.x.size(); ++i) xy.insert(xy.end(), {a.geometry.x[i], a.geometry.y[i]});
    xy = moved(written, xy);
    ASSERT_EQ(b.geometry.x.size() * 2, xy.size());
    for (size_t i = 0; i < b.geometry.x.size(); ++i) {
        EXPECT_EQ(b.geometry.x[i], xy[2 * i]);
        EXPECT_EQ(b.geometry.y[i], xy[2 * i + 1]);
    }
}
