// vorpix info, shapes, index and fetch on shapefiles, run as a user would,
// with pyshp, rsvg-convert and the sqlite3 client as independent readers.
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

using vorpix::test::fixture_path;
using vorpix::test::python_command;
using vorpix::test::read_file;
using vorpix::test::run_command;
using vorpix::test::TempDir;
using vorpix::test::tool_command;
using vorpix::test::write_file;

namespace {

std::string esri(const std::string &name) { return fixture_path("esri/" + name); }

size_t count_of(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

bool have_pyshp() {
    return run_command(python_command() + " -c 'import shapefile' 2>/dev/null").status == 0;
}

}  // namespace

TEST(ShapesTool, InfoListsEveryRecordOfShapefilesAndTables) {
    for (const auto &[file, records] : std::vector<std::pair<std::string, size_t>>{
             {"nc.shp", 100}, {"multipatch.shp", 1}, {"nulls.shp", 3}, {"point.shp", 3}}) {
        const auto r = run_command(tool_command() + " info " + esri(file));
        ASSERT_EQ(r.status, 0) << file;
        EXPECT_EQ(r.output.rfind("FileHdr:\n  magic=9994\n", 0), 0u);
        EXPECT_EQ(count_of(r.output, "\nRecord("), records) << file;
    }
    const auto table = run_command(tool_command() + " info " + esri("cities.dbf"));
    ASSERT_EQ(table.status, 0);
    EXPECT_EQ(count_of(table.output, "DbaseFieldDescriptor5("), 3u);
    EXPECT_NE(table.output.find("\nPorto       231800  41.42 \n"), std::string::npos);
}

// pyshp reads the same shapefile and table; every feature must agree with it.
TEST(ShapesTool, GeoJsonAgreesWithPyshpOnEveryShapeAndAttribute) {
    if (!have_pyshp()) GTEST_SKIP() << "no pyshp";
    TempDir dir;
    for (const char *name : {"nc", "arc", "multipoint", "polygonz", "areas", "cities_points"}) {
        std::string shp = esri(std::string(name) + ".shp");
        if (std::string(name) == "cities_points") {
            // The point file with the cities table beside it.
            std::filesystem::copy_file(esri("point.shp"), dir.file("cities_points.shp"));
            std::filesystem::copy_file(esri("cities.dbf"), dir.file("cities_points.dbf"));
            shp = dir.file("cities_points.shp");
        }
        const std::string out = dir.file(std::string(name) + ".geojson");
        ASSERT_EQ(run_command(tool_command() + " shapes " + shp + " -o " + out).status, 0) << name;
        const std::string script =
            "import json, shapefile\n"
            "d = json.load(open('" + out + "'))\n"
            "r = shapefile.Reader('" + shp + "')\n"
            "names = [f[0] for f in r.fields[1:]]\n"
            "kinds = {f[0]: f[1] for f in r.fields[1:]}\n"
            "assert len(d['features']) == len(r), (len(d['features']), len(r))\n"
            "def flat(g):\n"
            "    t, c = g['type'], g['coordinates']\n"
            "    if t == 'Point': return [c]\n"
            "    if t in ('MultiPoint', 'LineString'): return c\n"
            "    if t in ('MultiLineString', 'Polygon'): return [p for part in c for p in part]\n"
            "    return [p for poly in c for ring in poly for p in ring]\n"
            "for i, f in enumerate(d['features']):\n"
            "    s = r.shape(i)\n"
            "    assert [list(p) for p in s.points] == flat(f['geometry']), i\n"
            "    if not r.dbf: continue\n"
            "    rec = r.record(i)\n"
            "    for n in names:\n"
            "        if kinds[n] == 'C': assert f['properties'][n] == rec[n], (n, rec[n])\n"
            "        if kinds[n] == 'N' and rec[n] is not None: assert abs(f['properties'][n] - rec[n]) <= 1e-9 * max(1, abs(rec[n])), n\n"
            "print('ok', len(r))\n";
        write_file(dir.file("check.py"), script.data(), script.size());
        const auto check = run_command(python_command() + " " + dir.file("check.py") + " 2>&1");
        EXPECT_EQ(check.status, 0) << name << ": " << check.output;
        EXPECT_EQ(check.output.rfind("ok ", 0), 0u) << check.output;
    }
}

// Clockwise rings start polygons, counter-clockwise ones are their holes
// (written by GDAL from a multipolygon with a hole).
TEST(ShapesTool, HolesStayWithThePolygonTheyFollow) {
    TempDir dir;
    const std::string out = dir.file("areas.geojson");
    ASSERT_EQ(run_command(tool_command() + " shapes " + esri("areas.shp") + " -o " + out).status, 0);
    const auto r = run_command(python_command() + " -c \"import json; f=json.load(open('" + out +
                               "'))['features']; g=f[0]['geometry']; print(g['type'], [len(p) for p in "
                               "g['coordinates']], f[1]['geometry']['type'], sorted(f[0]['properties']))\"");
    EXPECT_EQ(r.output, "MultiPolygon [2, 1] Polygon ['area', 'count', 'name', 'record']\n");
}

TEST(ShapesTool, SvgFillsPolygonsAndLeavesTheirHolesOpen) {
    if (run_command("command -v rsvg-convert >/dev/null").status != 0) GTEST_SKIP() << "no rsvg-convert";
    TempDir dir;
    const std::string svg = dir.file("p.svg"), png = dir.file("p.png");
    ASSERT_EQ(run_command(tool_command() + " shapes --svg " + esri("polygon.shp") + " -o " + svg).status, 0);
    ASSERT_EQ(run_command("rsvg-convert -o " + png + " " + svg).status, 0);
    // The file spans 0 to 21 both ways, with a 2% margin: 1000 pixels for
    // 21.84 degrees. (1, 1) lies in the square, (5, 5) in its hole, (15, 5)
    // outside everything.
    const auto pixels = run_command(python_command() + " -c \"from PIL import Image; im=Image.open('" + png +
                                    "').convert('RGB'); print(im.getpixel((65,935)), im.getpixel((248,752)), "
                                    "im.getpixel((706,752)))\"");
    ASSERT_EQ(pixels.status, 0);
    EXPECT_EQ(pixels.output, "(217, 199, 160) (244, 241, 232) (244, 241, 232)\n");
}

TEST(ShapesTool, BadFilesAreOneLineNamingTheFileAndWriteNothing) {
    TempDir dir;
    const auto whole = read_file(esri("arc.shp"));
    const std::string cut = dir.file("cut.shp"), out = dir.file("never.geojson");
    write_file(cut, whole.data(), 300);
    auto r = run_command(tool_command() + " shapes " + cut + " -o " + out + " 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "vorpix: " + cut + ": header: file length 172 words (344 bytes) runs past the data, which has 300\n");
    EXPECT_FALSE(std::filesystem::exists(out));
    r = run_command(tool_command() + " info " + esri("arcz_nom.shp") + " 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("record 0 at byte 100: RecordPolyLineZ mmin"), std::string::npos);
}

TEST(ShapesTool, RenderDrawsTheShapeLayer) {
    TempDir dir;
    const std::string svg = dir.file("r.svg");
    ASSERT_EQ(run_command("VORPIX_DATA_PATH= " + tool_command() + " render --no-coast --box -85/-75/33/37 --shapes " +
                          esri("nc.shp") + " -o " + svg).status, 0);
    const std::string text = vorpix::test::read_text(svg);
    EXPECT_GE(count_of(text, "fill=\"#e0a040\""), 100u);  // a county or more per shape
    EXPECT_NE(text.find(">shapes</text>"), std::string::npos);
}

// The whole road: index shapefiles, then fetch the shapes the rows name.
TEST(ShapesTool, IndexedShapesFetchBackAsTheyAreInTheFile) {
    if (run_command("command -v sqlite3 >/dev/null").status != 0) GTEST_SKIP() << "no sqlite3 client";
    TempDir dir;
    const std::string db = dir.file("shapes.db");
    auto r = run_command(tool_command() + " index " + db + " " + esri("nc.shp") + " " + esri("point.shp"));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.output, db + ": 2 files, 103 shapes in table shapes\n");
    r = run_command("sqlite3 " + db + " \"SELECT fileid, offset, recno FROM shapes WHERE rowid IN (1, 2, 101);\"");
    EXPECT_EQ(r.output, "1|100|0\n1|588|1\n2|100|0\n");
    const std::string all = dir.file("all.geojson"), direct = dir.file("direct.geojson");
    ASSERT_EQ(run_command(tool_command() + " fetch " + db + " -o " + all).status, 0);
    ASSERT_EQ(run_command(tool_command() + " shapes --no-dbf " + esri("nc.shp") + " -o " + direct).status, 0);
    const auto same = run_command(python_command() + " -c \"import json; a=json.load(open('" + all +
                                  "'))['features']; d=json.load(open('" + direct + "'))['features']; "
                                  "print(len(a), all(x['geometry']==y['geometry'] for x,y in zip(a,d)), "
                                  "a[100]['geometry'])\"");
    EXPECT_EQ(same.output, "103 True {'type': 'Point', 'coordinates': [1.5, 2.25]}\n");
    // Only the rows whose box meets the query box.
    r = run_command(tool_command() + " fetch " + db + " --box -1/2/-1/3");
    EXPECT_EQ(count_of(r.output, "\"type\":\"Feature\""), 2u);  // (1.5, 2.25) and (0, 0)
    r = run_command(tool_command() + " fetch " + db + " 101 --list");
    EXPECT_EQ(r.output, "Record(101):\n  offset=100\n  RecordHdr:\n    number=1\n    length=10\n  RecordPoint(101):\n"
                        "    shape_type=RecordPoint\n    x=1.500000\n    y=2.250000\n");
}
