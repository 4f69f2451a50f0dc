// vorpix shapes on shapefiles and their tables, run as a user would, with
// pyshp, GDAL, shapely and rsvg-convert as independent readers.
#include "geojson_checks.hpp"
#include "hostile_files.hpp"
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

using vorpix::test::CommandResult;
using vorpix::test::count_of;
using vorpix::test::python_command;
using vorpix::test::run_command;
using vorpix::test::TempDir;
using vorpix::test::write_file;

using vorpix::test::have_program;
using vorpix::test::have_python_module;

namespace {

const auto esri = vorpix::test::esri_fixture;

// vorpix shapes with the given arguments: its status, and its output with its errors.
CommandResult shapes(const std::string &arguments) {
    return run_command(vorpix::test::tool_command() + " shapes " + arguments + " 2>&1");
}

// Each feature's id, deleted and measures members with its properties, and
// its geometry, as Python's json module reads the tool's GeoJSON (which must be valid UTF-8), one line each.
std::string features_of(const std::string &geojson_path) {
    return run_command(python_command() +
                       " -c \"import json; [print(json.dumps(dict([(k, f[k]) for k in ('id', 'deleted', 'measures') "
                       "if k in f] + list(f['properties'].items())), ensure_ascii=False), "
                       "json.dumps(f['geometry'])) for f in json.loads(open('" +
                       geojson_path + "', 'rb').read().decode('utf-8'))['features']]\"")
        .output;
}

// Runs a Python script with Debian's modules on the given arguments; its output and errors.
CommandResult run_python(TempDir &dir, const std::string &script, const std::string &arguments) {
    write_file(dir.file("check.py"), script.data(), script.size());
    return run_command(python_command() + " " + dir.file("check.py") + " " + arguments + " 2>&1");
}

void put_text(const std::string &path, const std::string &text) { write_file(path, text.data(), text.size()); }

}  // namespace

TEST(ShapesTool, SvgFillsPolygonsAndLeavesTheirHolesOpen) {
    if (!have_program("rsvg-convert")) GTEST_SKIP() << "no rsvg-convert";
    TempDir dir;
    const std::string svg = dir.file("p.svg"), png = dir.file("p.png");
    ASSERT_EQ(shapes("--svg " + esri("polygon.shp") + " -o " + svg).status, 0);
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

// The GeoJSON's own members: deleted rows are left out or marked, the
// record number is the id, M values are a "measures" member (none for Z
// files without measures), MultiPatch parts become polygons with Z, and
// --no-dbf leaves the table out. (The values and geometries themselves are
// the layer's, checked against GDAL and shapelib there.)
TEST(ShapesTool, AttributesAndCoordinatesReachTheGeoJson) {
    TempDir dir;
    // clang-format off
    const std::string moskva = R"({"id": 0, "NAME": "Москва", "POP": 13010112, "SHARE": 0.25, "SEEN": "2021-01-01", "OPEN": true} {"type": "Point", "coordinates": [30, 50]})";
    const std::string kyiv = R"({"id": 2, "NAME": "Київ", "POP": null, "SHARE": null, "SEEN": null, "OPEN": null} {"type": "Point", "coordinates": [32, 52]})";
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"--deleted --encoding CP1251 cyrillic.shp", {moskva, R"({"id": 1, "deleted": true, "NAME": "Удалено", "POP": 1, "SHARE": 1.0, "SEEN": "2000-01-01", "OPEN": false} {"type": "Point", "coordinates": [31, 51]})", kyiv}},
        {"--no-dbf fieldtypes.shp", {R"({"id": 0} {"type": "Point", "coordinates": [0, 0]})",
                                     R"({"id": 1} {"type": "Point", "coordinates": [1, -1]})",
                                     R"({"id": 2} {"type": "Point", "coordinates": [2, -2]})"}},
        {"pointz_nom.shp", {R"({"id": 0} {"type": "Point", "coordinates": [1, 2, 3]})", R"({"id": 1} {"type": "Point", "coordinates": [4, 5, 6]})"}},
        {"pointz.shp", {R"({"id": 0, "measures": 4} {"type": "Point", "coordinates": [1, 2, 3]})", R"({"id": 1, "measures": 7} {"type": "Point", "coordinates": [4, 5, 6]})"}},
        {"arcm.shp", {R"({"id": 0, "measures": [1, 2, 3, 4]} {"type": "LineString", "coordinates": [[0, 0], [1, 1], [2, 2], [3, 3]]})"}},
        {"multipatch.shp", {R"({"id": 0, "measures": [[[10, 11, 12, 10]], [[11, 13, 12, 11]], [[0, 1, 2, 0]]], "NAME": "roof"} )"
                            R"({"type": "MultiPolygon", "coordinates": [[[[0, 0, 1], [1, 0, 1], [0, 1, 2], [0, 0, 1]]], [[[1, 0, 1], [1, 1, 2], [0, 1, 2], [1, 0, 1]]], [[[5, 5, 0], [6, 5, 0], [6, 6, 0], [5, 5, 0]]]]})"}},
    };
    // clang-format on
    for (const auto &[arguments, expected] : cases) {
        const std::string out = dir.file("out.geojson");
        const auto at = arguments.rfind(' ') + 1;  // the file is the last argument
        ASSERT_EQ(shapes(arguments.substr(0, at) + esri(arguments.substr(at)) + " -o " + out).status, 0) << arguments;
        EXPECT_EQ(vorpix::test::lines_of(features_of(out)), expected) << arguments;
    }
}

// The encoding given wins; else the .cpg's (one that names no known code
// page is left aside with a warning); else the language-driver byte (0x57 is
// ISO-8859-1, 0x03 CP1252, which differ on the bytes 0x80-0x9F); a table that
// says nothing is UTF-8 where valid, else ISO-8859-1; bytes that do not
// convert become U+FFFD with one warning. pyshp decodes the same bytes in
// the encoding that each case should find. SVG titles are UTF-8 too.
TEST(ShapesTool, TextIsReadInTheEncodingThatWinsAsPyshpDecodesIt) {
    if (!have_python_module("shapefile")) GTEST_SKIP() << "no pyshp";
    struct Case {
        const char *table, *cpg, *options, *encoding, *warning;  // cpg: written beside a copy
    } cases[] = {
        {"enc_c1_none", nullptr, "", "latin-1", ""},
        {"enc_c1_ldid57", nullptr, "", "latin-1", ""},
        {"enc_c1_ldid03", nullptr, "", "cp1252", ""},
        {"enc_c1_ldid03", nullptr, "--encoding ISO-8859-1", "latin-1", ""},
        {"enc_utf8_none", nullptr, "", "utf-8", ""},
        {"enc_system", nullptr, "", "cp1251",
         "enc_system.cpg: names the code page \"System\", which is not known; it is left aside\n"},
        {"latin_z", "UTF-8\n", "--encoding CP1251", "cp1251", ""},
        {"latin_z", "UTF-8\n", "", "utf-8", "latin_z.dbf: text that is not UTF-8; such bytes are written as U+FFFD\n"},
    };
    TempDir dir;
    const std::string script = R"(import json, shapefile, sys
ours = [[v for v in f['properties'].values() if isinstance(v, str)][0] for f in json.load(open(sys.argv[1], encoding='utf-8'))['features']]
theirs = [[v for v in r if isinstance(v, str)][0] for r in shapefile.Reader(dbf=open(sys.argv[2], 'rb'), encoding=sys.argv[3], encodingErrors='replace').records()]
print(ours == theirs, ascii(ours))
)";
    for (const Case &c : cases) {
        std::string dbf = esri(std::string(c.table) + ".dbf");
        const std::string out = dir.file("out.geojson"), err = dir.file("err.txt"),
                          where = c.cpg ? dir.path() + "/" : esri("");
        if (c.cpg) {
            std::filesystem::copy_file(dbf, dir.file(std::string(c.table) + ".dbf"),
                                       std::filesystem::copy_options::overwrite_existing);
            dbf = dir.file(std::string(c.table) + ".dbf");
            put_text(dir.file(std::string(c.table) + ".cpg"), c.cpg);
        }
        ASSERT_EQ(
            run_command(vorpix::test::tool_command() + " shapes " + c.options + " " + dbf + " -o " + out + " 2>" + err)
                .status,
            0)
            << c.table;
        const auto r = run_python(dir, script, out + " " + dbf + " " + c.encoding);
        EXPECT_EQ(r.output.rfind("True ", 0), 0u) << c.table << " " << c.options << ": " << r.output;
        EXPECT_EQ(vorpix::test::read_text(err), *c.warning ? "vorpix: warning: " + where + c.warning : "") << c.table;
    }
    const auto svg = shapes("--svg " + esri("latin_z.shp"));
    EXPECT_NE(svg.output.find("<title>Côte d'Ivoire</title>"), std::string::npos);
    EXPECT_NE(svg.output.find("<title>Zürich Straße</title>"), std::string::npos);
}

// Text from a file reaches the terminal with its control characters shown,
// never obeyed: a .cpg cannot retitle or clear the screen.
TEST(ShapesTool, ControlCharactersFromFilesAreShownNotSent) {
    TempDir dir;
    vorpix::test::copy_with_sides(esri("latin_z"), dir.file("t"));
    put_text(dir.file("t.cpg"), "\x1b]0;PWNED\x07\x1b[2J\xc2\x9b");
    const auto r = shapes(dir.file("t.shp") + " -o " + dir.file("t.geojson"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "vorpix: warning: " + dir.file("t.cpg") +
                            ": names the code page \"\\x1B]0;PWNED\\x07\\x1B[2J\\x9B\", which is not known; it is "
                            "left aside\n");
}

// Numbers that a geographic .prj calls degrees and that are none are
// refused, as GDAL's reprojection refuses them; --no-transform writes them.
TEST(ShapesTool, NumbersThatCannotBeDegreesUnderAGeographicPrjAreRefused) {
    if (!have_python_module("shapefile")) GTEST_SKIP() << "no pyshp";
    TempDir dir;
    ASSERT_EQ(run_python(dir, R"(import shapefile, sys
w = shapefile.Writer(sys.argv[1], shapeType=shapefile.POINT)
w.field('N', 'N', 5, 0)
w.point(10, 20); w.record(1)
w.point(530000, 880774); w.record(2)
w.close()
)",
                         dir.file("metres"))
                  .output,
              "");
    for (const char *datum : {"WGS_1984", "North_American_1927"}) {
        put_text(dir.file("metres.prj"), std::string("GEOGCS[\"GCS\",DATUM[\"D_") + datum +
                                             "\",SPHEROID[\"S\",6378137.0,298.257223563]],PRIMEM[\"Greenwich\",0.0],"
                                             "UNIT[\"Degree\",0.0174532925199433]]");
        const std::string out = dir.file("never.geojson");
        const auto r = shapes(dir.file("metres.shp") + " -o " + out);
        EXPECT_EQ(r.status, 1) << datum;
        EXPECT_EQ(r.output, "vorpix: " + dir.file("metres.shp") +
                                ": record 1: the point (530000, 880774) is no longitude and latitude, which " +
                                dir.file("metres.prj") +
                                " says the coordinates are (--no-transform writes them as stored)\n")
            << datum;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    const auto kept = shapes("--no-transform " + dir.file("metres.shp"));
    EXPECT_EQ(kept.status, 0);
    EXPECT_NE(kept.output.find("[530000,880774]"), std::string::npos) << kept.output;
}

// A .prj naming a projected system (UTM 17N, by GDAL) is undone to longitude
// and latitude as ogr2ogr -t_srs EPSG:4326 does it; --no-transform keeps the
// stored numbers; an unreadable .prj warns, and so do numbers that cannot be
// degrees with no .prj at all.
TEST(ShapesTool, ProjectedCoordinatesBecomeLongitudeAndLatitude) {
    if (!have_program("ogr2ogr")) GTEST_SKIP() << "no ogr2ogr";
    TempDir dir;
    const std::string ours = dir.file("ours.geojson"), gdal = dir.file("gdal.geojson"), kept = dir.file("kept.geojson");
    ASSERT_EQ(shapes(esri("utm.shp") + " -o " + ours).status, 0);
    ASSERT_EQ(
        run_command("ogr2ogr -f GeoJSON -lco RFC7946=YES -t_srs EPSG:4326 " + gdal + " " + esri("utm.shp")).status, 0);
    ASSERT_EQ(shapes("--no-transform " + esri("utm.shp") + " -o " + kept).status, 0);
    const auto r = run_python(dir, R"(import json, sys
def flat(path):
    out = []
    def walk(c):
        if isinstance(c[0], (int, float)): out.append(c)
        else: [walk(x) for x in c]
    for f in json.load(open(path))['features']: walk(f['geometry']['coordinates'])
    return out
o, g, k = map(flat, sys.argv[1:])
print(len(o), len(o) == len(g), max(abs(a - b) for p, q in zip(o, g) for a, b in zip(p, q)) < 1e-7,
      min(p[0] for p in k) > 1000, -85 < o[0][0] < -75 and 33 < o[0][1] < 37)
)",
                              ours + " " + gdal + " " + kept);
    EXPECT_EQ(r.output.substr(r.output.find(' ')), " True True True True\n") << r.output;

    vorpix::test::copy_with_sides(esri("utm"), dir.file("bad"), {".shp", ".shx"});
    put_text(dir.file("bad.prj"), "PROJCS[\"nothing known\"");
    const auto bad = shapes(dir.file("bad.shp") + " -o " + dir.file("bad.geojson"));
    EXPECT_EQ(bad.status, 0);
    EXPECT_EQ(bad.output, "vorpix: warning: " + dir.file("bad.prj") +
                              ": PROJ cannot read the coordinate system; coordinates are written as stored\n");
    std::filesystem::remove(dir.file("bad.prj"));
    const auto unknown = shapes(dir.file("bad.shp") + " -o " + dir.file("unknown.geojson"));
    EXPECT_EQ(unknown.status, 0);
    EXPECT_EQ(unknown.output, "vorpix: warning: " + dir.file("bad.shp") +
                                  ": the coordinates are not longitudes and latitudes and no .prj says what they are; "
                                  "they are written as stored, which RFC 7946 GeoJSON does not allow\n");
}

// --box keeps the records whose shapes meet the box, as shapely finds them,
// across 180 too, and for a box inside a polygon.
TEST(ShapesTool, BoxKeepsTheShapesThatMeetIt) {
    TempDir dir;
    const std::string script = R"(import json, shapefile, sys
from shapely.geometry import box, shape
w, e, s, n = [float(v) for v in sys.argv[1].split('/')]
e = e + 360 if e <= w else e
boxes = [box(w + k, s, e + k, n) for k in (-360, 0, 360)]
r = shapefile.Reader(sys.argv[2])
want = [i for i, sh in enumerate(r.shapes()) if any(shape(sh.__geo_interface__).intersects(b) for b in boxes)]
got = [f['id'] for f in json.load(open(sys.argv[3]))['features']]
print(got == want, len(got), want)
)";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"seam.shp", "170/-170/-30/0"},   {"seam.shp", "155/185/-30/0"},   {"seam.shp", "-130/-120/-5/5"},
        {"seam.shp", "-179/179/-16/-14"}, {"nc.shp", "-80/-79.5/35/35.5"}, {"nc.shp", "-76/-75.5/35.9/36"},
    };
    for (const auto &[file, box] : cases) {
        const std::string out = dir.file("box.geojson");
        ASSERT_EQ(shapes(esri(file) + " --box " + box + " -o " + out).status, 0);
        const auto r = run_python(dir, script, box + " " + esri(file) + " " + out);
        EXPECT_EQ(r.output.rfind("True ", 0), 0u) << file << " " << box << ": " << r.output;
    }
    EXPECT_EQ(count_of(shapes(esri("seam.shp") + " --box 0/10/0/10").output, "\"Feature\""), 0u);
}

// A file that is cut short, a 144 KB file whose part indices go back and
// forth (each part copied from its start to the next one's would be about a
// gigabyte; the format requires ascending indices), and a ring that winds
// round the globe, are one line naming the file (and the record) and the
// fault, under a memory limit, and write nothing.
TEST(ShapesTool, BadFilesAreOneLineNamingTheFileAndWriteNothing) {
    TempDir dir;
    const auto whole = vorpix::test::read_file(esri("arc.shp"));
    const std::string cut = dir.file("cut.shp"), hostile = vorpix::test::hostile_file("back_and_forth_parts.shp");
    write_file(cut, whole.data(), 300);
    for (const auto &[shp, message] :
         {std::pair<std::string, std::string>{
              cut, "header: file length 172 words (344 bytes) runs past the end of the file, which has 300 bytes"},
          {hostile, "record 0: part indices must ascend, but part 2 starts at point 0, before part 1 at point 3999"},
          {esri("winding.shp"), "record 1: a ring that runs over 3 turns of longitude is not a polygon"}}) {
        const std::string out = dir.file("never.geojson");
        const auto r = run_command(vorpix::test::memory_capped(400) + vorpix::test::tool_command() + " shapes " + shp +
                                   " -o " + out + " 2>&1");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.output, "vorpix: " + shp + ": " + message + "\n");
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

// Real shapefiles from Debian packages read as GDAL reads them: feature
// count, every position (Z too) and every attribute with its JSON type.
TEST(ShapesTool, RealShapefilesReadAsGdalReadsThem) {
    if (!have_program("ogr2ogr") || !have_program("apt-get")) GTEST_SKIP() << "no ogr2ogr or apt-get";
    if (!have_python_module("shapefile")) GTEST_SKIP() << "no pyshp";
    const auto fetched = run_command(esri("fetch_corpus.sh"));
    if (fetched.status == 2) GTEST_SKIP() << "the Debian archive cannot be reached: no corpus of real shapefiles";
    ASSERT_EQ(fetched.status, 0);
    const std::string corpus = fetched.output.substr(0, fetched.output.find('\n'));
    TempDir dir;
    const auto r = run_command(python_command() + " " + esri("compare_with_gdal.py") + " " +
                               vorpix::test::tool_command() + " " + corpus + " " + dir.file("") + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(count_of(r.output, "\nok ") + (r.output.rfind("ok ", 0) == 0 ? 1 : 0),
              static_cast<size_t>(std::stoul(r.output.substr(r.output.rfind('\n', r.output.size() - 2) + 1))))
        << r.output;
}

// Longitudes from 0 to 360 come out within -180..180: areas and lines cut at
// the antimeridian with nothing lost (shapely measures them). A picture
// draws them whole across 180: a square of two shapes, not a world strip.
TEST(ShapesTool, LongitudesBeyond180AreCutAtTheAntimeridianButNotInPictures) {
    TempDir dir;
    const std::string areas = dir.file("areas.geojson"), lines = dir.file("lines.geojson");
    ASSERT_EQ(shapes(esri("pacific.shp") + " -o " + areas).status, 0);
    ASSERT_EQ(shapes(esri("pacific_lines.shp") + " -o " + lines).status, 0);
    const auto r = run_python(dir, R"(import json, sys
from shapely.geometry import shape
from shapely.geometry.polygon import orient
for path in sys.argv[1:]:
    for f in json.load(open(path))['features']:
        g = shape(f['geometry'])
        x0, _, x1, _ = g.bounds
        polys = list(getattr(g, 'geoms', [g])) if g.geom_type.endswith('Polygon') else []
        oriented = all(p.equals_exact(orient(p, 1.0), 0) for p in polys)
        print(f['properties']['name'], g.geom_type, round(g.area if polys else g.length, 3), -180 <= x0 and x1 <= 180, g.is_valid, oriented)
)",
                              areas + " " + lines);
    EXPECT_EQ(r.output,
              "across MultiPolygon 300.0 True True True\n"
              "east Polygon 100.0 True True True\n"
              "date line MultiLineString 60.927 True True True\n");
    const auto svg = shapes("--svg " + esri("pacific.shp"));
    EXPECT_NE(svg.output.find("width=\"1000\" height=\"1000\""), std::string::npos) << svg.output.substr(0, 200);
    EXPECT_EQ(count_of(svg.output, "<path "), 2u);
}

// The GeoJSON passes the strict RFC 7946 check: ranges, ring orientation,
// validity, and an exact bbox (across 180 too) on features and collection.
TEST(ShapesTool, GeoJsonPassesTheStrictRfc7946Check) {
    TempDir dir;
    for (const char *name : {"nc", "seam", "pacific", "pacific_lines", "utm", "cyrillic", "latin_z", "areas",
                             "arcz_nom", "polygonz", "multipoint", "nulls"}) {
        const std::string out = dir.file(std::string(name) + ".geojson");
        ASSERT_EQ(shapes(esri(std::string(name) + ".shp") + " -o " + out).status, 0);
        EXPECT_EQ(vorpix::test::rfc7946_problems(out), "") << name;
    }
    EXPECT_NE(shapes(esri("pacific.shp")).output.find("\"bbox\":[170,-10,-170,10]"), std::string::npos);
}

// Shapes whose X, Y or Z is NaN or infinite (written by pyshp), and a line
// that leaves the disc of an orthographic projection, keep their records
// and attributes with null geometry and one warning each, naming the file
// and the record, in GeoJSON (strict JSON, and RFC 7946 where a .prj says
// the numbers are degrees) and SVG alike; no "nan" or "inf" is ever written,
// not even for a square whose corners are the largest doubles.
TEST(ShapesTool, NumbersThatAreNotFiniteAreLeftOutWithAWarning) {
    const struct {
        const char *name;
        std::vector<int> null_geometry;
        const char *why;
        bool lonlat;
    } cases[] = {
        {"nonfinite_lines", {1, 2, 3}, "coordinates that are not finite numbers", true},
        {"nonfinite_points", {1, 2, 3}, "coordinates that are not finite numbers", true},
        {"nonfinite_areas", {1}, "coordinates that are not finite numbers", false},
        {"unprojectable", {1}, "points that PROJ cannot transform to longitude and latitude", true},
    };
    const std::string strict = R"(import json, sys
def refuse(token): raise ValueError('not JSON: ' + token)
d = json.loads(open(sys.argv[1], 'rb').read().decode('utf-8'), parse_constant=refuse)
print(len(d['features']), [f['id'] for f in d['features'] if f['geometry'] is None])
)";
    TempDir dir;
    for (const auto &c : cases) {
        const std::string shp = esri(std::string(c.name) + ".shp"), out = dir.file("out.geojson");
        const std::string err = dir.file("err.txt"), svg = dir.file("out.svg");
        std::string warnings;
        for (const int recno : c.null_geometry)
            warnings += "vorpix: warning: " + shp + ": record " + std::to_string(recno) + ": " + c.why +
                        "; its geometry is left out\n";
        if (!c.lonlat)
            warnings += "vorpix: warning: " + shp +
                        ": the coordinates are not longitudes and latitudes and no .prj says what they are; they "
                        "are written as stored, which RFC 7946 GeoJSON does not allow\n";
        ASSERT_EQ(run_command(vorpix::test::tool_command() + " shapes " + shp + " -o " + out + " 2>" + err).status, 0)
            << c.name;
        EXPECT_EQ(vorpix::test::read_text(err), warnings) << c.name;
        std::string nulls;
        for (const int recno : c.null_geometry) nulls += (nulls.empty() ? "" : ", ") + std::to_string(recno);
        const auto parsed = run_python(dir, strict, out);
        EXPECT_EQ(parsed.output.substr(parsed.output.find(' ') + 1), "[" + nulls + "]\n") << c.name;
        if (c.lonlat) {
            EXPECT_EQ(vorpix::test::rfc7946_problems(out), "") << c.name;
        }

        ASSERT_EQ(
            run_command(vorpix::test::tool_command() + " shapes --svg " + shp + " -o " + svg + " 2>" + err).status, 0)
            << c.name;
        EXPECT_EQ(vorpix::test::lines_of(vorpix::test::read_text(err)).size(), c.null_geometry.size()) << c.name;
        std::string text = vorpix::test::read_text(svg);
        std::transform(text.begin(), text.end(), text.begin(), [](unsigned char ch) { return std::tolower(ch); });
        EXPECT_EQ(text.find("nan"), std::string::npos) << c.name << ": " << text;
        EXPECT_EQ(text.find("inf"), std::string::npos) << c.name << ": " << text;
    }
}

// More than ten such records: ten lines name theirs, one counts the rest.
TEST(ShapesTool, ManyRecordsThatAreNotFiniteGiveElevenWarningLines) {
    if (!have_python_module("shapefile")) GTEST_SKIP() << "no pyshp";
    TempDir dir;
    const auto made = run_python(dir, R"(import shapefile, sys
with shapefile.Writer(sys.argv[1], shapeType=shapefile.POINT) as w:
    w.field('N', 'N', size=4)
    for i in range(25):
        w.point(float('nan') if i % 2 else i, 0)
        w.record(i)
)",
                                 dir.file("many"));
    ASSERT_EQ(made.status, 0) << made.output;
    const std::string err = dir.file("err.txt");
    ASSERT_EQ(run_command(vorpix::test::tool_command() + " shapes " + dir.file("many.shp") + " -o " +
                          dir.file("many.geojson") + " 2>" + err)
                  .status,
              0);
    const auto lines = vorpix::test::lines_of(vorpix::test::read_text(err));
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[9], "vorpix: warning: " + dir.file("many.shp") +
                            ": record 19: coordinates that are not finite numbers; its geometry is left out");
    EXPECT_EQ(lines[10], "vorpix: warning: " + dir.file("many.shp") + ": 2 more records like these");
}

// The records start where the header length says (after two bytes of
// padding, or within the field descriptors), and only the descriptors
// within it are fields; a header length of 0 or 65535, a record length of 0
// or shorter than the fields, and records that run past the end are
// refused. Each table (written with struct) is read as GDAL reads it, or
// refused where GDAL refuses it.
TEST(ShapesTool, TablesAreReadFromTheirHeaderLengthAsGdalReadsThem) {
    if (!have_python_module("osgeo.ogr")) GTEST_SKIP() << "no GDAL Python bindings";
    const struct {
        const char *table;
        const char *refusal;  // nullptr when read
    } cases[] = {
        {"dbf_header_padded", nullptr},
        {"dbf_header_cuts_fields", nullptr},
        {"dbf_header_zero", "header: header length of 0 bytes, shorter than the 33 bytes of a header without fields"},
        {"dbf_header_65535", "header: header length of 65535 bytes runs past the end of the data, which has 84 bytes"},
        {"dbf_record_too_narrow",
         "field descriptors: the fields take 5 bytes of each record, more than the record length of 4"},
        {"dbf_record_length_zero", "header: record length of 0 bytes leaves no room for the deletion flag"},
        {"dbf_records_run_past", "3 records of 6 bytes from byte 69 run past the end of the file, which has 84 bytes"},
    };
    // GDAL's values of every record, and ours, as one JSON line each; or
    // "refused" when GDAL cannot open the table or fails to read a record
    // of it (where ogr2ogr stops with an error).
    const std::string gdal = R"(import json, sys
from osgeo import gdal, ogr
failures = []
gdal.PushErrorHandler(lambda kind, number, text: kind >= gdal.CE_Failure and failures.append(text))
source = ogr.Open(sys.argv[1])  # kept: its layer dies with it
rows = [f.items() for f in source.GetLayer(0)] if source else []
if source is None or failures:
    print('refused')
    sys.exit()
for row in rows:
    print(json.dumps({k: (v.strip() or None) if isinstance(v, str) else v for k, v in row.items()}))
)";
    const std::string ours = R"(import json, sys
for f in json.load(open(sys.argv[1]))['features']:
    print(json.dumps(f['properties']))
)";
    TempDir dir;
    for (const auto &c : cases) {
        const std::string dbf = esri(std::string(c.table) + ".dbf"), out = dir.file(std::string(c.table) + ".geojson");
        const auto r = shapes(esri("point.shp") + " --dbf " + dbf + " -o " + out);
        const auto expected = run_python(dir, gdal, dbf);
        if (c.refusal) {
            EXPECT_EQ(expected.output, "refused\n") << c.table;
            EXPECT_EQ(r.status, 1) << c.table;
            EXPECT_EQ(r.output, "vorpix: " + dbf + ": " + c.refusal + "\n");
            EXPECT_FALSE(std::filesystem::exists(out));
            continue;
        }
        ASSERT_EQ(r.status, 0) << c.table << ": " << r.output;
        EXPECT_EQ(r.output, "") << c.table;
        EXPECT_EQ(run_python(dir, ours, out).output, expected.output) << c.table;
        EXPECT_EQ(vorpix::test::lines_of(expected.output).size(), 3u) << c.table << ": " << expected.output;
    }
}

// Side files are small: a sparse 4 GB .prj or .cpg is not read whole, under
// a 1 GB address-space limit. The .prj is too long for a coordinate system
// and is passed over with a warning; of the .cpg only a code page's name
// would be read.
TEST(ShapesTool, HugeSideFilesAreNeverReadWhole) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs an unlimited address space";
#endif
    TempDir dir;
    vorpix::test::copy_with_sides(esri("nc"), dir.file("nc"));
    for (const char *side : {"nc.prj", "nc.cpg"}) {
        std::ofstream created{dir.file(side)};
        std::filesystem::resize_file(dir.file(side), 4ull << 30);
    }
    const auto r = run_command("(ulimit -v 1000000; " + vorpix::test::tool_command() + " shapes " + dir.file("nc.shp") +
                               " -o " + dir.file("out.geojson") + ") 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "vorpix: warning: " + dir.file("nc.prj") +
                            ": longer than 64 KiB, which no coordinate system takes; coordinates are written as "
                            "stored\n");
    EXPECT_EQ(vorpix::test::count_of(vorpix::test::read_text(dir.file("out.geojson")), "\"type\":\"Feature\""), 100u);
}
