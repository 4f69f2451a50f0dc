// vorpix shapes: the shapes of a shapefile as GeoJSON or SVG, with the
// attributes of the dBase file beside it; the shapefile and dBase listings
// for "vorpix info"; the shape layer of "vorpix render"; and what vorpix
// index and fetch need to know of shapes.
#include "cli.hpp"
#include "commands.hpp"
#include "geo_output.hpp"
#include "render_layers.hpp"

#include "esri.h"
#include "esri_release.hpp"

#include "arrays.h"
#include "redblack.h"


#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace vorpix::cli {
namespace {

// A library message as this command reports it: without the reporting
// function's name and without the full stop.
std::string reason(const std::string &message) {
    std::string text = without_function(message);
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

struct Shapefile {
    ESRISHPStr shp{};
    ~Shapefile() { esri::release_shapefile(&shp); }
    int count() const { return cnttbl(shp.records); }
    const ESRISHPRECStr *at(int i) const { return static_cast<const ESRISHPRECStr *>(gettbl(shp.records, i)); }
};

struct Dbase {
    ESRIDBASEStr dbf{};
    ~Dbase() { esri::release_dbase_file(&dbf); }
};

void decode(Shapefile &f, const std::string &path, const std::vector<unsigned char> &bytes) {
    LogCollector log;
    if (esri_decode_shapefile_sized(&f.shp, bytes.data(), static_cast<long>(bytes.size())) < 0)
        throw InputError(path + ": " + reason(log.first()));
}

void decode(Dbase &d, const std::string &path, const std::vector<unsigned char> &bytes) {
    LogCollector log;
    if (esri_decode_dbase_file_sized(&d.dbf, bytes.data(), static_cast<long>(bytes.size())) < 0)
        throw InputError(path + ": " + reason(log.first()));
}

// Rings, lines or points of one shape, whatever its type.
struct Shape {
    int type = 0;
    std::vector<std::vector<ESRISHPPOINTStr>> parts;
    std::vector<int> part_types;  // MultiPatch only
    std::vector<double> z;
};

Shape shape_of(const ESRISHPRECStr *rec) {
    Shape s;
    s.type = rec->shape_type;
    const esri::ShapeView v = esri::view_shape(rec->shape_type, rec->record);
    const ESRISHPPOINTStr *points = v.first_point();
    if (v.parts) {
        for (int p = 0; p < v.numparts; ++p) {
            const int begin = std::clamp(v.parts[p], 0, v.numpoints);
            const int end = p + 1 < v.numparts ? std::clamp(v.parts[p + 1], begin, v.numpoints) : v.numpoints;
            s.parts.emplace_back(points + begin, points + end);
        }
    } else if (v.single || v.bbox) {
        s.parts = {{points, points + v.numpoints}};
    }
    if (v.parttypes) s.part_types.assign(v.parttypes, v.parttypes + v.numparts);
    if (v.zarray) s.z.assign(v.zarray, v.zarray + v.numpoints);
    return s;
}

enum class Kind { None, Point, Line, Area };

Kind kind_of(int type) {
    switch (type) {
    case 1: case 11: case 21: case 8: case 18: case 28: return Kind::Point;
    case 3: case 13: case 23: return Kind::Line;
    case 5: case 15: case 25: case 31: return Kind::Area;
    default: return Kind::None;
    }
}

// Twice the signed area: negative for the clockwise outer rings of the format.
double signed_area(const std::vector<ESRISHPPOINTStr> &ring) {
    double a = 0;
    for (size_t i = 0; i + 1 < ring.size(); ++i) a += ring[i].x * ring[i + 1].y - ring[i + 1].x * ring[i].y;
    return a;
}

// Polygons as lists of rings: each clockwise ring starts a polygon, and the
// counter-clockwise rings after it are its holes. MultiPatch triangle strips
// and fans become one triangle each.
std::vector<std::vector<std::vector<ESRISHPPOINTStr>>> polygons_of(const Shape &s) {
    std::vector<std::vector<std::vector<ESRISHPPOINTStr>>> out;
    for (size_t p = 0; p < s.parts.size(); ++p) {
        const auto &part = s.parts[p];
        const int part_type = p < s.part_types.size() ? s.part_types[p] : 2;
        if (part_type == 0 || part_type == 1) {
            for (size_t i = 0; i + 2 < part.size(); ++i) {
                const ESRISHPPOINTStr &a = part_type == 0 ? part[i] : part[0];
                out.push_back({{a, part[i + 1], part[i + 2], a}});
            }
            continue;
        }
        if (part.size() < 3) continue;
        if (signed_area(part) <= 0 || out.empty()) out.push_back({part});
        else out.back().push_back(part);
    }
    return out;
}

std::string number(double v) {
    if (!std::isfinite(v)) return "null";
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    return ec == std::errc() ? std::string(buffer, end) : "null";
}

std::string position(const ESRISHPPOINTStr &p) { return "[" + number(p.x) + "," + number(p.y) + "]"; }

std::string positions(const std::vector<ESRISHPPOINTStr> &points) {
    std::string s = "[";
    for (size_t i = 0; i < points.size(); ++i) s += (i ? "," : "") + position(points[i]);
    return s + "]";
}

std::string geometry_json(const Shape &s) {
    switch (kind_of(s.type)) {
    case Kind::Point: {
        const auto &points = s.parts.empty() ? std::vector<ESRISHPPOINTStr>{} : s.parts[0];
        if (s.type == 1 || s.type == 11 || s.type == 21) return "{\"type\":\"Point\",\"coordinates\":" + position(points.at(0)) + "}";
        return "{\"type\":\"MultiPoint\",\"coordinates\":" + positions(points) + "}";
    }
    case Kind::Line: {
        if (s.parts.size() == 1) return "{\"type\":\"LineString\",\"coordinates\":" + positions(s.parts[0]) + "}";
        std::string c;
        for (const auto &part : s.parts) c += (c.empty() ? "" : ",") + positions(part);
        return "{\"type\":\"MultiLineString\",\"coordinates\":[" + c + "]}";
    }
    case Kind::Area: {
        const auto polygons = polygons_of(s);
        auto rings = [](const std::vector<std::vector<ESRISHPPOINTStr>> &polygon) {
            std::string r;
            for (const auto &ring : polygon) r += (r.empty() ? "" : ",") + positions(ring);
            return "[" + r + "]";
        };
        if (polygons.size() == 1) return "{\"type\":\"Polygon\",\"coordinates\":" + rings(polygons[0]) + "}";
        std::string c;
        for (const auto &polygon : polygons) c += (c.empty() ? "" : ",") + rings(polygon);
        return "{\"type\":\"MultiPolygon\",\"coordinates\":[" + c + "]}";
    }
    default: return "null";
    }
}

// A numeric field's text as a JSON number when it is one.
std::string attribute_json(const std::string &value, char type) {
    if (type == 'N' && !value.empty()) {
        double v;
        auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
        if (ec == std::errc() && end == value.data() + value.size() && std::isfinite(v)) return number(v);
        if (value.find_first_not_of('*') == std::string::npos) return "null";  // overflowed field
    }
    return json_string(value);
}

std::string properties_json(Dbase *d, int recno) {
    std::string out = "\"record\":" + std::to_string(recno);
    if (!d || recno >= d->dbf.hdr.numrecs) return out;
    Arr *fields = nullptr;
    if (esri_get_dbase_fields(&d->dbf, recno, &fields) < 0) return out;
    for (int i = 0; i < cnttbl(d->dbf.field_descriptors); ++i) {
        const auto *f = static_cast<const ESRIDBASEFIELDDESCRStr *>(gettbl(d->dbf.field_descriptors, i));
        std::string name(f->name, strnlen(f->name, sizeof f->name));
        name.erase(name.find_last_not_of(' ') + 1);
        const auto *value = static_cast<const char *>(getarr(fields, name.c_str()));
        if (value) out += "," + json_string(name) + ":" + attribute_json(value, f->type);
    }
    freearr(fields, std::free);
    return out;
}

std::string feature_json(const ESRISHPRECStr *rec, Dbase *d, int recno) {
    return "{\"type\":\"Feature\",\"properties\":{" + properties_json(d, recno) +
           "},\"geometry\":" + geometry_json(shape_of(rec)) + "}";
}

// The dBase file beside a shapefile: same name, .dbf or .DBF.
std::string dbase_beside(const std::string &shp) {
    const auto dot = shp.find_last_of('.');
    const std::string stem = dot == std::string::npos || shp.find('/', dot) != std::string::npos ? shp : shp.substr(0, dot);
    for (const char *ext : {".dbf", ".DBF"})
        if (std::filesystem::is_regular_file(stem + ext)) return stem + ext;
    return "";
}

std::vector<float> floats(const std::vector<ESRISHPPOINTStr> &points, bool y) {
    std::vector<float> out;
    out.reserve(points.size());
    for (const auto &p : points) out.push_back(static_cast<float>(y ? p.y : p.x));
    return out;
}

std::string as_svg(const Shapefile &f) {
    const ESRISHPFILEHDRStr &h = f.shp.hdr;
    const double margin = std::max({h.xmax - h.xmin, h.ymax - h.ymin, 1e-6}) * 0.02;
    SvgMap svg(Box{h.xmin - margin, h.xmax + margin, h.ymin - margin, h.ymax + margin}, 1000);
    svg.background("#f4f1e8");
    for (int i = 0; i < f.count(); ++i) {
        const Shape s = shape_of(f.at(i));
        switch (kind_of(s.type)) {
        case Kind::Area:
            for (const auto &polygon : polygons_of(s)) {
                std::string d;
                for (const auto &ring : polygon) {
                    const auto x = floats(ring, false), y = floats(ring, true);
                    d += svg.path_data(x.data(), y.data(), static_cast<int>(ring.size()), true);
                }
                svg.element("<path d=\"" + d + "\" fill=\"#d9c7a0\" fill-rule=\"evenodd\" stroke=\"#6b5a3c\" "
                            "stroke-width=\"0.6\"/>");
            }
            break;
        case Kind::Line:
            for (const auto &part : s.parts) {
                const auto x = floats(part, false), y = floats(part, true);
                svg.path(x.data(), y.data(), static_cast<int>(part.size()), false,
                         "fill=\"none\" stroke=\"#3a78c2\" stroke-width=\"1\"");
            }
            break;
        case Kind::Point:
            for (const auto &p : s.parts.at(0)) {
                char circle[128];
                std::snprintf(circle, sizeof circle, "<circle cx=\"%.2f\" cy=\"%.2f\" r=\"3\" fill=\"#a0303a\"/>",
                              svg.x(p.x), svg.y(p.y));
                svg.element(circle);
            }
            break;
        case Kind::None: break;
        }
    }
    return svg.finish();
}

int run_shapes(int argc, char **argv) {
    Args args(argc, argv, {"o", "dbf"});
    args.allow_flags({"svg", "geojson", "no-dbf"});
    if (args.positional().size() != 1) throw UsageError("name one shapefile");
    const std::string path = args.positional()[0];
    Shapefile f;
    decode(f, path, read_input(path));
    Output out(args.get("o"));
    if (args.flag("svg")) {
        out.append(as_svg(f));
    } else {
        const std::string dbf_path = args.flag("no-dbf") ? "" : args.get("dbf", dbase_beside(path));
        Dbase d;
        if (!dbf_path.empty()) decode(d, dbf_path, read_input(dbf_path));
        GeoJson json;
        for (int i = 0; i < f.count(); ++i) json.raw_feature(feature_json(f.at(i), dbf_path.empty() ? nullptr : &d, i));
        out.append(json.finish());
    }
    out.commit();
    return 0;
}

}  // namespace

std::vector<IndexedShape> index_shapefile(const std::string &path, const std::vector<unsigned char> &bytes) {
    Shapefile f;
    decode(f, path, bytes);
    std::vector<IndexedShape> out;
    for (int r = 0; r < f.count(); ++r) {
        const ESRISHPRECStr *rec = f.at(r);
        IndexedShape e{static_cast<long>(rec->offset), r, rec->shape_type, {NAN, NAN, NAN, NAN}};
        double *box = e.box;
        const Shape s = shape_of(rec);
        for (const auto &part : s.parts)
            for (const auto &p : part) {
                box[0] = std::isnan(box[0]) ? p.x : std::min(box[0], p.x);
                box[1] = std::isnan(box[1]) ? p.y : std::min(box[1], p.y);
                box[2] = std::isnan(box[2]) ? p.x : std::max(box[2], p.x);
                box[3] = std::isnan(box[3]) ? p.y : std::max(box[3], p.y);
            }
        out.push_back(e);
    }
    return out;
}

std::string shape_geometry_json(const ESRISHPRECStr &rec) { return geometry_json(shape_of(&rec)); }

std::string list_shapefile(const std::string &path, const std::vector<unsigned char> &bytes) {
    Shapefile f;
    decode(f, path, bytes);
    return captured_stdout([&] {
        char prefix[] = "";
        esri_print_shapefile(prefix, &f.shp);
    });
}

std::string list_dbase_file(const std::string &path, const std::vector<unsigned char> &bytes) {
    Dbase d;
    decode(d, path, bytes);
    return captured_stdout([&] {
        char prefix[] = "";
        esri_print_dbase_file(prefix, &d.dbf);
    });
}

void add_shape_layer(Picture &pic, const std::string &path, Progress &progress) {
    progress.say("shapes: " + path);
    Shapefile f;
    decode(f, path, read_input(path));
    constexpr std::uint32_t fill = 0xa0e0a040u, line = 0xff7a3fb0u;
    bool areas = false, lines = false;
    auto ring_of = [](const std::vector<ESRISHPPOINTStr> &points) {
        Ring r;
        r.reserve(points.size());
        for (const auto &p : points) r.emplace_back(p.x, p.y);
        return r;
    };
    for (int i = 0; i < f.count(); ++i) {
        const Shape s = shape_of(f.at(i));
        switch (kind_of(s.type)) {
        case Kind::Area:
            for (const auto &polygon : polygons_of(s)) {
                std::vector<Ring> rings;
                for (const auto &r : polygon) rings.push_back(ring_of(r));
                pic.ops.push_back({Op::Fill, std::move(rings), fill, 0, {}, 0, 0, ""});
            }
            areas = true;
            break;
        case Kind::Line:
            for (const auto &part : s.parts) pic.ops.push_back({Op::Stroke, {ring_of(part)}, line, 1.2, {}, 0, 0, ""});
            lines = true;
            break;
        case Kind::Point: {
            // A small square of a fixed size in pixels around each point.
            const double dx = 3 * (pic.box.east - pic.box.west) / pic.width;
            const double dy = 3 * (pic.box.north - pic.box.south) / pic.height;
            for (const auto &p : s.parts.at(0))
                pic.ops.push_back({Op::Fill,
                                   {{{p.x - dx, p.y - dy}, {p.x + dx, p.y - dy}, {p.x + dx, p.y + dy}, {p.x - dx, p.y + dy}}},
                                   line, 0, {}, 0, 0, ""});
            lines = true;
            break;
        }
        case Kind::None: break;
        }
    }
    if (areas) pic.add_legend("shapes", fill, false);
    if (lines) pic.add_legend("shape lines and points", line, true);
}

const Command shapes_command{
    "shapes", "shapes of a shapefile as GeoJSON or SVG",
    "usage: vorpix shapes FILE.shp [--svg] [--dbf FILE.dbf | --no-dbf] [-o OUT]\n\n"
    "Writes every shape of a shapefile as a GeoJSON Feature (Point, MultiPoint,\n"
    "LineString, MultiLineString, Polygon or MultiPolygon; null for Null shapes)\n"
    "with its record number and the character and numeric fields of the dBase\n"
    "file beside it (same name, .dbf), numeric fields as numbers. Polygon rings\n"
    "that run clockwise start a polygon; the counter-clockwise rings after one\n"
    "are its holes. MultiPatch triangle strips and fans become triangles.\n"
    "Z and M records are read with their measures, which the format makes\n"
    "optional: a Z file written without measures does not decode.\n"
    "  --svg          an SVG picture of the file's bounding box instead\n"
    "  --dbf FILE     the attributes from FILE;  --no-dbf  without attributes\n"
    "  -o OUT         write to OUT instead of standard output\n",
    run_shapes};

}  // namespace vorpix::cli
