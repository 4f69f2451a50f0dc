// vorpix shapes on shapefiles and their tables, run as a user would, with
// pyshp, GDAL, shapely and rsvg-convert as independent readers.
#include "geojson_checks.hpp"
#include "hostile_files.hpp"
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

using vorpix::test::count_of;
using vorpix::test::fixture_path;
using vorpix::test::python_command;
using vorpix::test::read_file;
using vorpix::test::run_command;
using vorpix::test::TempDir;
using vorpix::test::tool_command;
using vorpix::test::write_file;

namespace {

std::string esri(const std::string &name) { return fixture_path("esri/" + name); }

// Each feature's properties and geometry as Python's json module reads the
// tool's GeoJSON (which must be valid UTF-8), one line each.
std::string features_of(const std::string &geojson_path) {
    return run_command(python_command() +
                       " -c \"import json; [print(json.dumps(f['properties'], ensure_ascii=False), "
                       "json.dumps(f['geometry'])) for f in json.loads(open('" +
                       geojson_path + "', 'rb').read().decode('utf-8'))['features']]\"")
        .output;
}

// Runs a Python script with Debian's modules; its output and errors.
vorpix::test::CommandResult run_python(TempDir &dir, const std::string &script) {
    write_file(dir.file("check.py"), script.data(), script.size());
    return run_command(python_command() + " " + dir.file("check.py") + " 2>&1");
}

bool have_pyshp() { return run_command(python_command() + " -c 'import shapefile' 2>/dev/null").status == 0; }

}  // namespace

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
            "d = json.load(open('" +
            out +
            "'))\n"
            "r = shapefile.Reader('" +
            shp +
            "')\n"
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
            "    assert sorted(map(tuple, s.points)) == sorted(tuple(p[:2]) for p in flat(f['geometry'])), i\n"
            "    if not r.dbf: continue\n"
            "    rec = r.record(i)\n"
            "    for n in names:\n"
            "        if kinds[n] == 'C': assert (f['properties'][n] or '') == rec[n], (n, rec[n])\n"
            "        if kinds[n] == 'N' and rec[n] is not None: assert abs(f['properties'][n] - rec[n]) <= 1e-9 * "
            "max(1, abs(rec[n])), n\n"
            "print('ok', len(r))\n";
        const auto check = run_python(dir, script);
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
    EXPECT_EQ(r.output, "MultiPolygon [2, 1] Polygon ['area', 'count', 'name', 'record', 'since']\n");
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
    EXPECT_EQ(r.output,
              "vorpix: " + cut + ": header: file length 172 words (344 bytes) runs past the data, which has 300\n");
    EXPECT_FALSE(std::filesystem::exists(out));
}

// Every field appears whatever its type: numbers (integers as integers, a
// bare "+.25" too), null for blanks and overflowed "******", logicals,
// dates; text converted from the code page that the .cpg file (latin_z,
// written by GDAL) or the language-driver byte (cyrillic, 0xC9: 1251)
// names. Deleted rows are left out, or marked with --deleted.
TEST(ShapesTool, AttributesAreTypedAndConvertedToUtf8) {
    TempDir dir;
    struct Case {
        std::string file, options, expected;
    };
    const std::vector<Case> cases = {
        {"cyrillic.shp", "",
         "{\"record\": 0, \"NAME\": \"Москва\", \"POP\": 13010112, \"SHARE\": 0.25, \"SEEN\": \"2021-01-01\", "
         "\"OPEN\": true} {\"type\": \"Point\", \"coordinates\": [30, 50]}\n"
         "{\"record\": 2, \"NAME\": \"Київ\", \"POP\": null, \"SHARE\": null, \"SEEN\": null, \"OPEN\": null} "
         "{\"type\": \"Point\", \"coordinates\": [32, 52]}\n"},
        {"cyrillic.shp", "--deleted --encoding ISO-8859-1",
         "{\"record\": 0, \"NAME\": \"Москва\", \"POP\": 13010112, \"SHARE\": 0.25, \"SEEN\": \"2021-01-01\", "
         "\"OPEN\": true} {\"type\": \"Point\", \"coordinates\": [30, 50]}\n"
         "{\"record\": 1, \"deleted\": true, \"NAME\": \"Удалено\", \"POP\": 1, \"SHARE\": 1.0, \"SEEN\": "
         "\"2000-01-01\", \"OPEN\": false} {\"type\": \"Point\", \"coordinates\": [31, 51]}\n"
         "{\"record\": 2, \"NAME\": \"Київ\", \"POP\": null, \"SHARE\": null, \"SEEN\": null, \"OPEN\": null} "
         "{\"type\": \"Point\", \"coordinates\": [32, 52]}\n"},
        {"latin_z.shp", "",
         "{\"record\": 0, \"name\": \"Côte d'Ivoire\", \"n\": 1} {\"type\": \"Polygon\", \"coordinates\": "
         "[[[10, 10, 1], [11, 10, 2], [11, 11, 3], [10, 10, 1]]]}\n"
         "{\"record\": 1, \"name\": \"Zürich Straße\", \"n\": 2} {\"type\": \"Polygon\", \"coordinates\": "
         "[[[20, 20, 4], [22, 20, 5], [22, 22, 6], [20, 20, 4]]]}\n"},
        {"fieldtypes.shp", "--no-dbf",
         "{\"record\": 0} {\"type\": \"Point\", \"coordinates\": [0, 0]}\n"
         "{\"record\": 1} {\"type\": \"Point\", \"coordinates\": [1, -1]}\n"
         "{\"record\": 2} {\"type\": \"Point\", \"coordinates\": [2, -2]}\n"},
        {"fieldtypes.shp", "",
         "{\"record\": 0, \"DATE\": \"2024-01-31\", \"CITY\": \"Lisbon\", \"COUNT\": 544851, \"RATIO\": 0.25, "
         "\"OPEN\": true, \"NOTE\": \"harbour city\"} {\"type\": \"Point\", \"coordinates\": [0, 0]}\n"
         "{\"record\": 1, \"DATE\": \"1999-12-31\", \"CITY\": \"Coimbra\", \"COUNT\": 106582, \"RATIO\": 1.5, "
         "\"OPEN\": false, \"NOTE\": null} {\"type\": \"Point\", \"coordinates\": [1, -1]}\n"
         "{\"record\": 2, \"DATE\": \"2000-02-29\", \"CITY\": \"Evora\", \"COUNT\": -5, \"RATIO\": -2.125, "
         "\"OPEN\": null, \"NOTE\": \"leap day\"} {\"type\": \"Point\", \"coordinates\": [2, -2]}\n"},
    };
    for (const Case &c : cases) {
        const std::string out = dir.file("out.geojson");
        ASSERT_EQ(run_command(tool_command() + " shapes " + c.options + " " + esri(c.file) + " -o " + out).status, 0)
            << c.file;
        EXPECT_EQ(features_of(out), c.expected) << c.file << " " << c.options;
    }
}

// Without a .cpg or a language-driver byte the text is ISO-8859-1 (in
// GeoJSON and in the SVG's titles) unless --encoding names another; bytes that do not convert become U+FFFD with one
// warning, and the output stays valid UTF-8.
TEST(ShapesTool, TextEncodingComesFromTheOptionOrIsoLatin1AndBadBytesAreReplaced) {
    TempDir dir;
    for (const char *ext : {".shp", ".shx", ".dbf"})
        std::filesystem::copy_file(esri(std::string("latin_z") + ext), dir.file(std::string("t") + ext));
    const std::string shp = dir.file("t.shp"), out = dir.file("t.geojson"), err = dir.file("err.txt");
    auto names = [&](const std::string &options) {
        const auto r = run_command(tool_command() + " shapes " + options + " " + shp + " -o " + out + " 2>" + err);
        EXPECT_EQ(r.status, 0) << options;
        return run_command(python_command() +
                           " -c \"import json; print([f['properties']['name'] for f in "
                           "json.loads(open('" +
                           out + "', 'rb').read().decode('utf-8'))['features']])\"")
            .output;
    };
    EXPECT_EQ(names(""), "[\"Côte d'Ivoire\", 'Zürich Straße']\n");
    EXPECT_EQ(vorpix::test::read_text(err), "");
    const auto svg = run_command(tool_command() + " shapes --svg " + shp);
    EXPECT_NE(svg.output.find("<title>Côte d'Ivoire</title>"), std::string::npos);
    EXPECT_NE(svg.output.find("<title>Zürich Straße</title>"), std::string::npos);
    EXPECT_EQ(names("--encoding CP1251"), "[\"Cфte d'Ivoire\", 'Zьrich StraЯe']\n");
    const std::string cpg = "UTF-8\n";
    write_file(dir.file("t.cpg"), cpg.data(), cpg.size());
    EXPECT_EQ(names("--encoding CP1251"), "[\"C\ufffdte d'Ivoire\", 'Z\ufffdrich Stra\ufffde']\n");
    EXPECT_EQ(vorpix::test::read_text(err),
              "vorpix: warning: " + dir.file("t.dbf") + ": text that is not UTF-8; such bytes are written as U+FFFD\n");
}

// Z is the third coordinate and M values a "measures" property shaped like
// the coordinates; a Z file written without measures (shapelib's shpadd -z,
// GDAL) reads; MultiPatch parts become polygons with Z.
TEST(ShapesTool, ZValuesAndMeasuresReachTheGeoJson) {
    TempDir dir;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"arcz_nom.shp",
         "{\"record\": 0} {\"type\": \"LineString\", \"coordinates\": [[0, 0, 1], [1, 1, 2], [2, 2, 3]]}\n"},
        {"pointz_nom.shp",
         "{\"record\": 0} {\"type\": \"Point\", \"coordinates\": [1, 2, 3]}\n"
         "{\"record\": 1} {\"type\": \"Point\", \"coordinates\": [4, 5, 6]}\n"},
        {"pointz.shp",
         "{\"record\": 0, \"measures\": 4} {\"type\": \"Point\", \"coordinates\": [1, 2, 3]}\n"
         "{\"record\": 1, \"measures\": 7} {\"type\": \"Point\", \"coordinates\": [4, 5, 6]}\n"},
        {"arcm.shp",
         "{\"record\": 0, \"measures\": [1, 2, 3, 4]} {\"type\": \"LineString\", \"coordinates\": "
         "[[0, 0], [1, 1], [2, 2], [3, 3]]}\n"},
        {"multipatch.shp",
         "{\"record\": 0, \"measures\": [[[10, 11, 12, 10]], [[11, 13, 12, 11]], [[0, 1, 2, 0]]], \"NAME\": \"roof\"} "
         "{\"type\": \"MultiPolygon\", \"coordinates\": [[[[0, 0, 1], [1, 0, 1], [0, 1, 2], [0, 0, 1]]], "
         "[[[1, 0, 1], [1, 1, 2], [0, 1, 2], [1, 0, 1]]], [[[5, 5, 0], [6, 5, 0], [6, 6, 0], [5, 5, 0]]]]}\n"},
    };
    for (const auto &[file, expected] : cases) {
        const std::string out = dir.file("out.geojson");
        ASSERT_EQ(run_command(tool_command() + " shapes " + esri(file) + " -o " + out).status, 0) << file;
        EXPECT_EQ(features_of(out), expected) << file;
    }
}

// A .prj naming a projected system (UTM 17N, written by GDAL) is undone to
// longitude and latitude as GDAL's ogr2ogr -t_srs EPSG:4326 does it (its
// RFC 7946 output has 7 decimals and the same ring orientation);
// --no-transform keeps the stored numbers; an unreadable .prj warns.
TEST(ShapesTool, ProjectedCoordinatesBecomeLongitudeAndLatitude) {
    if (run_command("command -v ogr2ogr >/dev/null").status != 0) GTEST_SKIP() << "no ogr2ogr";
    TempDir dir;
    const std::string ours = dir.file("ours.geojson"), gdal = dir.file("gdal.geojson"), kept = dir.file("kept.geojson");
    ASSERT_EQ(run_command(tool_command() + " shapes " + esri("utm.shp") + " -o " + ours).status, 0);
    ASSERT_EQ(
        run_command("ogr2ogr -f GeoJSON -lco RFC7946=YES -t_srs EPSG:4326 " + gdal + " " + esri("utm.shp")).status, 0);
    ASSERT_EQ(run_command(tool_command() + " shapes --no-transform " + esri("utm.shp") + " -o " + kept).status, 0);
    const std::string script =
        "import json\n"
        "def flat(path):\n"
        "    out = []\n"
        "    def walk(c):\n"
        "        if isinstance(c[0], (int, float)): out.append(c)\n"
        "        else: [walk(x) for x in c]\n"
        "    for f in json.load(open(path))['features']: walk(f['geometry']['coordinates'])\n"
        "    return out\n"
        "o, g, k = flat('" +
        ours + "'), flat('" + gdal + "'), flat('" + kept +
        "')\n"
        "print(len(o), len(o) == len(g), max(abs(a - b) for p, q in zip(o, g) for a, b in zip(p, q)) < 1e-7,\n"
        "      min(p[0] for p in k) > 1000, -85 < o[0][0] < -75 and 33 < o[0][1] < 37)\n";
    const auto r = run_python(dir, script);
    EXPECT_EQ(r.output.substr(r.output.find(' ')), " True True True True\n") << r.output;

    for (const char *ext : {".shp", ".shx"})
        std::filesystem::copy_file(esri(std::string("utm") + ext), dir.file(std::string("bad") + ext));
    const std::string junk = "PROJCS[\"nothing known\"";
    write_file(dir.file("bad.prj"), junk.data(), junk.size());
    const auto bad = run_command(tool_command() + " shapes " + dir.file("bad.shp") + " -o " + dir.file("bad.geojson") +
                                 " 2>&1");
    EXPECT_EQ(bad.status, 0);
    EXPECT_EQ(bad.output, "vorpix: warning: " + dir.file("bad.prj") +
                              ": PROJ cannot read the coordinate system; coordinates are written as stored\n");

    // Without a .prj, numbers that cannot be degrees are written as stored, with a word about it.
    std::filesystem::remove(dir.file("bad.prj"));
    const auto unknown = run_command(tool_command() + " shapes " + dir.file("bad.shp") + " -o " +
                                     dir.file("unknown.geojson") + " 2>&1");
    EXPECT_EQ(unknown.status, 0);
    EXPECT_EQ(unknown.output, "vorpix: warning: " + dir.file("bad.shp") +
                                  ": the coordinates are not longitudes and latitudes and no .prj says what they are; "
                                  "they are written as stored, which RFC 7946 GeoJSON does not allow\n");
}

// --box keeps the records whose shapes meet the box, as shapely finds them,
// for boxes across 180 (taken as two boxes by shapely), a box inside a
// polygon, and counties of North Carolina.
TEST(ShapesTool, BoxKeepsTheShapesThatMeetIt) {
    TempDir dir;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"seam.shp", "170/-170/-30/0"},   {"seam.shp", "155/185/-30/0"},   {"seam.shp", "-130/-120/-5/5"},
        {"seam.shp", "-179/179/-16/-14"}, {"nc.shp", "-80/-79.5/35/35.5"}, {"nc.shp", "-76/-75.5/35.9/36"},
    };
    for (const auto &[file, box] : cases) {
        const std::string out = dir.file("box.geojson");
        ASSERT_EQ(run_command(tool_command() + " shapes " + esri(file) + " --box " + box + " -o " + out).status, 0);
        const std::string script =
            "import json, shapefile\n"
            "from shapely.geometry import box, shape\n"
            "w, e, s, n = [float(v) for v in '" +
            box +
            "'.split('/')]\n"
            "e = e + 360 if e <= w else e\n"
            "boxes = [box(w + k, s, e + k, n) for k in (-360, 0, 360)]\n"
            "r = shapefile.Reader('" +
            esri(file) +
            "')\n"
            "want = [i for i, sh in enumerate(r.shapes()) if any(shape(sh.__geo_interface__).intersects(b) for b in "
            "boxes)]\n"
            "got = [f['properties']['record'] for f in json.load(open('" +
            out +
            "'))['features']]\n"
            "print(got == want, len(got), want)\n";
        const auto r = run_python(dir, script);
        EXPECT_EQ(r.output.rfind("True ", 0), 0u) << file << " " << box << ": " << r.output;
    }
    const auto none = run_command(tool_command() + " shapes " + esri("seam.shp") + " --box 0/10/0/10");
    EXPECT_EQ(count_of(none.output, "\"Feature\""), 0u);
}

// A 144 KB file whose part indices go back and forth would have each part
// copied from its start to the next one's: about a gigabyte. The format
// requires ascending indices; the record is refused, and under a memory
// limit the tool still answers with that message.
TEST(ShapesTool, PartIndicesThatGoBackAreRefusedNamingTheRecord) {
    TempDir dir;
    const std::string shp = vorpix::test::hostile_file("back_and_forth_parts.shp");
    const auto r = run_command(vorpix::test::memory_capped(400) + tool_command() + " shapes " + shp + " -o " +
                               dir.file("h.geojson") + " 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "vorpix: " + shp +
                            ": record 0: part indices must ascend, but part 2 starts at point 0, before part 1 at "
                            "point 3999\n");
}

// Real shapefiles from Debian packages read as GDAL reads them: feature
// count, every position (Z too) and every attribute with its JSON type.
TEST(ShapesTool, RealShapefilesReadAsGdalReadsThem) {
    if (run_command("command -v ogr2ogr >/dev/null && command -v apt-get >/dev/null").status != 0)
        GTEST_SKIP() << "no ogr2ogr or apt-get";
    if (!have_pyshp()) GTEST_SKIP() << "no pyshp";
    const auto fetched = run_command(esri("fetch_corpus.sh"));
    if (fetched.status == 2) GTEST_SKIP() << "the Debian archive cannot be reached: no corpus of real shapefiles";
    ASSERT_EQ(fetched.status, 0);
    const std::string corpus = fetched.output.substr(0, fetched.output.find('\n'));
    TempDir dir;
    const auto r = run_command(python_command() + " " + esri("compare_with_gdal.py") + " " + tool_command() + " " +
                               corpus + " " + dir.file("") + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(count_of(r.output, "\nok ") + (r.output.rfind("ok ", 0) == 0 ? 1 : 0),
              static_cast<size_t>(std::stoul(r.output.substr(r.output.rfind('\n', r.output.size() - 2) + 1))))
        << r.output;
}

// Longitudes stored from 0 to 360 come out within -180..180 as RFC 7946
// wants: areas and lines cut at the antimeridian, with nothing lost (shapely
// measures the areas, lengths and ring orientations).
TEST(ShapesTool, LongitudesBeyond180AreCutAtTheAntimeridian) {
    TempDir dir;
    const std::string areas = dir.file("areas.geojson"), lines = dir.file("lines.geojson");
    ASSERT_EQ(run_command(tool_command() + " shapes " + esri("pacific.shp") + " -o " + areas).status, 0);
    ASSERT_EQ(run_command(tool_command() + " shapes " + esri("pacific_lines.shp") + " -o " + lines).status, 0);
    const std::string script =
        "import json\n"
        "from shapely.geometry import shape\n"
        "from shapely.geometry.polygon import orient\n"
        "for path in ('" +
        areas + "', '" + lines +
        "'):\n"
        "    for f in json.load(open(path))['features']:\n"
        "        g = shape(f['geometry'])\n"
        "        x0, _, x1, _ = g.bounds\n"
        "        polys = list(getattr(g, 'geoms', [g])) if g.geom_type.endswith('Polygon') else []\n"
        "        oriented = all(p.equals_exact(orient(p, 1.0), 0) for p in polys)\n"
        "        print(f['properties']['name'], g.geom_type, round(g.area if polys else g.length, 3), -180 <= x0 and "
        "x1 <= 180, g.is_valid, oriented)\n";
    const auto r = run_python(dir, script);
    EXPECT_EQ(r.output,
              "across MultiPolygon 300.0 True True True\n"
              "east Polygon 100.0 True True True\n"
              "date line MultiLineString 60.927 True True True\n");
}

// A picture draws such shapes as stored, whole across 180: the 40 degrees
// from 170 to 210 make a square picture of two shapes, not a strip of the
// world with the areas cut in three.
TEST(ShapesTool, PicturesKeepShapesAcross180Whole) {
    const auto svg = run_command(tool_command() + " shapes --svg " + esri("pacific.shp"));
    EXPECT_NE(svg.output.find("width=\"1000\" height=\"1000\""), std::string::npos) << svg.output.substr(0, 200);
    EXPECT_EQ(count_of(svg.output, "<path "), 2u);
}

// The GeoJSON of shapes in longitude and latitude passes the strict RFC 7946
// check the other layers pass: ranges, ring orientation, validity, and a
// bbox (exact, across 180 where the shape is) on every feature and the
// collection.
TEST(ShapesTool, GeoJsonPassesTheStrictRfc7946Check) {
    TempDir dir;
    for (const char *name : {"nc", "seam", "pacific", "pacific_lines", "utm", "cyrillic", "latin_z", "areas",
                             "arcz_nom", "polygonz", "multipoint", "nulls"}) {
        const std::string out = dir.file(std::string(name) + ".geojson");
        ASSERT_EQ(run_command(tool_command() + " shapes " + esri(std::string(name) + ".shp") + " -o " + out).status, 0);
        EXPECT_EQ(vorpix::test::rfc7946_problems(out), "") << name;
    }
    const auto pacific = run_command(tool_command() + " shapes " + esri("pacific.shp"));
    EXPECT_NE(pacific.output.find("\"bbox\":[170,-10,-170,10]"), std::string::npos) << pacific.output;
}
