// vorpix shapes: the shapes of a shapefile as GeoJSON or SVG, with the
// attributes of the dBase file beside it; the shapefile and dBase listings
// for "vorpix info"; the shape layer of "vorpix render"; and what vorpix
// index and fetch need to know of shapes.
#include "cli.hpp"
#include "commands.hpp"
#include "dbase_values.hpp"
#include "geo_output.hpp"
#include "geometry.hpp"
#include "projection.hpp"
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
#include <memory>
#include <string>
#include <utility>
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

// One part of a shape: its points, and their Z and M values when the shape
// type has them (M values below -1e38 mean "no measure").
struct Part {
    std::vector<ESRISHPPOINTStr> xy;
    std::vector<double> z, m;
    int part_type = -1;  // MultiPatch only

    Part slice(size_t from, size_t to) const {
        Part p;
        p.xy.assign(xy.begin() + static_cast<long>(from), xy.begin() + static_cast<long>(to));
        if (!z.empty()) p.z.assign(z.begin() + static_cast<long>(from), z.begin() + static_cast<long>(to));
        if (!m.empty()) p.m.assign(m.begin() + static_cast<long>(from), m.begin() + static_cast<long>(to));
        return p;
    }
    // Points i, j, k and i again, as a closed triangle.
    Part triangle(size_t i, size_t j, size_t k) const {
        Part p;
        for (size_t at : {i, j, k, i}) {
            p.xy.push_back(xy[at]);
            if (!z.empty()) p.z.push_back(z[at]);
            if (!m.empty()) p.m.push_back(m[at]);
        }
        return p;
    }
    void reverse() {
        std::reverse(xy.begin(), xy.end());
        std::reverse(z.begin(), z.end());
        std::reverse(m.begin(), m.end());
    }
};

// Rings, lines or points of one shape, whatever its type.
struct Shape {
    int type = 0;
    std::vector<Part> parts;
    bool has_z = false, has_m = false;
};

// The format requires each part to start at or after the one before it;
// other part indices would copy the points once per part.
void check_parts(const esri::ShapeView &v, const std::string &path, int recno) {
    const std::string where = path + ": record " + std::to_string(recno) + ": ";
    for (int p = 0; p < v.numparts; ++p) {
        const int start = v.parts[p];
        if (start < 0 || start > v.numpoints)
            throw InputError(where + "part " + std::to_string(p) + " starts at point " + std::to_string(start) +
                             ", outside its " + std::to_string(v.numpoints) + " points");
        if (p > 0 && start < v.parts[p - 1])
            throw InputError(where + "part indices must ascend, but part " + std::to_string(p) + " starts at point " +
                             std::to_string(start) + ", before part " + std::to_string(p - 1) + " at point " +
                             std::to_string(v.parts[p - 1]));
    }
}

Shape shape_of(const ESRISHPRECStr *rec, const std::string &path = "", int recno = 0) {
    Shape s;
    s.type = rec->shape_type;
    const esri::ShapeView v = esri::view_shape(rec->shape_type, rec->record);
    const ESRISHPPOINTStr *points = v.first_point();
    Part all;
    if (v.single || v.bbox) all.xy.assign(points, points + v.numpoints);
    if (v.zarray) all.z.assign(v.zarray, v.zarray + v.numpoints);
    if (v.marray) all.m.assign(v.marray, v.marray + v.numpoints);
    // A PointZ record of 28 bytes has no measure (the format makes it optional).
    if (rec->shape_type == 11 && rec->hdr.length < 18) all.m.clear();
    s.has_z = !all.z.empty();
    s.has_m = !all.m.empty();
    if (v.parts) {
        check_parts(v, path, recno);
        for (int p = 0; p < v.numparts; ++p) {
            const auto begin = static_cast<size_t>(v.parts[p]);
            const auto end = static_cast<size_t>(p + 1 < v.numparts ? v.parts[p + 1] : v.numpoints);
            s.parts.push_back(all.slice(begin, end));
            if (v.parttypes) s.parts.back().part_type = v.parttypes[p];
        }
    } else if (v.single || v.bbox) {
        s.parts.push_back(std::move(all));
    }
    return s;
}

enum class Kind { None, Point, Line, Area };

Kind kind_of(int type) {
    switch (type) {
    case 1:
    case 11:
    case 21:
    case 8:
    case 18:
    case 28: return Kind::Point;
    case 3:
    case 13:
    case 23: return Kind::Line;
    case 5:
    case 15:
    case 25:
    case 31: return Kind::Area;
    default: return Kind::None;
    }
}

// Twice the signed area: negative for the clockwise outer rings of the format.
double signed_area(const std::vector<ESRISHPPOINTStr> &ring) {
    double a = 0;
    for (size_t i = 0; i + 1 < ring.size(); ++i) a += ring[i].x * ring[i + 1].y - ring[i + 1].x * ring[i].y;
    return a;
}

using Polygon = std::vector<Part>;  // the exterior ring, then its holes

// Polygons as lists of rings: each clockwise ring starts a polygon, and the
// counter-clockwise rings after it are its holes. MultiPatch parts say what
// they are: triangle strips and fans become one triangle each, outer and
// first rings start polygons, inner rings (and rings after a first ring)
// are holes.
std::vector<Polygon> polygons_of(const Shape &s) {
    std::vector<Polygon> out;
    bool after_first_ring = false;
    for (const Part &part : s.parts) {
        const size_t n = part.xy.size();
        switch (part.part_type) {
        case 0:  // triangle strip
        case 1:  // triangle fan
            for (size_t i = 0; i + 2 < n; ++i)
                out.push_back({part.triangle(part.part_type == 0 ? i : 0, i + 1, i + 2)});
            after_first_ring = false;
            continue;
        case 2:
        case 4:
            if (n >= 3) out.push_back({part});
            after_first_ring = part.part_type == 4;
            continue;
        case 3:
        case 5:
            if (n < 3) continue;
            if (out.empty() || (part.part_type == 5 && !after_first_ring)) out.push_back({part});
            else out.back().push_back(part);
            continue;
        default: break;
        }
        if (n < 3) continue;
        if (signed_area(part.xy) <= 0 || out.empty()) out.push_back({part});
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

std::string position(const Part &p, size_t i) {
    std::string s = "[" + number(p.xy[i].x) + "," + number(p.xy[i].y);
    if (!p.z.empty()) s += "," + number(p.z[i]);
    return s + "]";
}

std::string measure(const Part &p, size_t i) { return p.m[i] < -1e38 ? "null" : number(p.m[i]); }

std::string positions(const Part &p, std::string (*item)(const Part &, size_t) = position) {
    std::string s = "[";
    for (size_t i = 0; i < p.xy.size(); ++i) s += (i ? "," : "") + item(p, i);
    return s + "]";
}

// A GeoJSON polygon ring runs counter-clockwise round the area it bounds and
// clockwise round a hole.
Polygon oriented(Polygon polygon) {
    for (size_t r = 0; r < polygon.size(); ++r)
        if ((signed_area(polygon[r].xy) < 0) == (r == 0)) polygon[r].reverse();
    return polygon;
}

// The geometry's coordinates, or with item measure its M values nested the
// same way; "null" for a shape without points.
std::string coordinates_json(const Shape &s, std::string (*item)(const Part &, size_t), const char **type) {
    auto joined = [](const auto &list, auto each) {
        std::string c;
        for (const auto &x : list) c += (c.empty() ? "" : ",") + each(x);
        return "[" + c + "]";
    };
    auto part_list = [&](const Part &p) { return positions(p, item); };
    auto polygon_list = [&](const Polygon &p) { return joined(p, part_list); };
    switch (kind_of(s.type)) {
    case Kind::Point: {
        if (s.parts.empty() || s.parts[0].xy.empty()) break;
        const bool single = s.type == 1 || s.type == 11 || s.type == 21;
        *type = single ? "Point" : "MultiPoint";
        return single ? item(s.parts[0], 0) : positions(s.parts[0], item);
    }
    case Kind::Line: {
        std::vector<Part> lines;
        for (const Part &p : s.parts)
            if (!p.xy.empty()) lines.push_back(p);
        if (lines.empty()) break;
        *type = lines.size() == 1 ? "LineString" : "MultiLineString";
        return lines.size() == 1 ? part_list(lines[0]) : joined(lines, part_list);
    }
    case Kind::Area: {
        std::vector<Polygon> polygons;
        for (Polygon &p : polygons_of(s)) polygons.push_back(oriented(std::move(p)));
        if (polygons.empty()) break;
        *type = polygons.size() == 1 ? "Polygon" : "MultiPolygon";
        return polygons.size() == 1 ? polygon_list(polygons[0]) : joined(polygons, polygon_list);
    }
    case Kind::None: break;
    }
    return "null";
}

std::string geometry_json(const Shape &s) {
    const char *type = nullptr;
    const std::string c = coordinates_json(s, position, &type);
    return type ? std::string("{\"type\":\"") + type + "\",\"coordinates\":" + c + "}" : "null";
}

// Every point of the shape moved to longitude and latitude.
void transform(Shape &s, const ToLonLat &t) {
    for (Part &p : s.parts) t.apply(&p.xy[0].x, &p.xy[0].y, 2, p.xy.size());
}

// Whether every X, Y and Z of the shape is a finite number. M values need
// not be: those that are not are written as "no measure".
bool finite(const Shape &s) {
    for (const Part &p : s.parts) {
        for (const auto &q : p.xy)
            if (!std::isfinite(q.x) || !std::isfinite(q.y)) return false;
        for (const double z : p.z)
            if (!std::isfinite(z)) return false;
    }
    return true;
}

// Warnings for records whose geometry is left out, one line each for the
// first few records and one line for the rest, so that a file of a million
// such records does not flood the terminal.
class LeftOut {
public:
    LeftOut(std::string path, std::string consequence) : path_(std::move(path)), consequence_(std::move(consequence)) {}
    void record(int recno, const char *why) {
        if (++count_ <= shown)
            std::fprintf(stderr, "vorpix: warning: %s: record %d: %s; %s\n", path_.c_str(), recno, why,
                         consequence_.c_str());
    }
    // The line for the records not named, if any.
    void finish() const {
        if (count_ > shown)
            std::fprintf(stderr, "vorpix: warning: %s: %ld more records like these\n", path_.c_str(), count_ - shown);
    }

private:
    static constexpr long shown = 10;
    std::string path_, consequence_;
    long count_ = 0;
};

// The shape in longitude and latitude when t is given, or as a Null shape
// (its attributes stay) with a warning, when a coordinate is not a finite
// number or PROJ cannot transform one of its points: such numbers are never
// written or drawn.
void settle(Shape &s, const ToLonLat *t, int recno, LeftOut &left_out) {
    if (!finite(s)) {
        left_out.record(recno, "coordinates that are not finite numbers");
        s = Shape{};
        return;
    }
    if (!t) return;
    transform(s, *t);
    if (!finite(s)) {
        left_out.record(recno, "points that PROJ cannot transform to longitude and latitude");
        s = Shape{};
    }
}

// What work returns; a refusal by the geometry (a ring that winds round the
// globe) names the file and the record.
template <typename Work>
auto for_record(const std::string &path, int recno, Work work) {
    try {
        return work();
    } catch (const InputError &e) {
        throw InputError(path + ": record " + std::to_string(recno) + ": " + e.what());
    }
}

// A shape in longitude and latitude with longitudes beyond +-180 as RFC 7946
// wants it: points moved by whole turns, lines and areas cut at the
// antimeridian (their Z and M values are left out, since the cut makes new
// points).
void within_180(Shape &s) {
    bool beyond = false;
    for (const Part &p : s.parts)
        for (const auto &q : p.xy) beyond = beyond || q.x < -180 || q.x > 180;
    if (!beyond) return;
    const geo::Frame world = geo::frame_of(-180, 180, -90, 90);
    auto part_of = [](const std::vector<geo::Point> &points, bool ring) {
        Part part;
        for (const geo::Point &q : points) part.xy.push_back({q.lon, q.lat});
        if (ring && !points.empty()) {
            part.xy.push_back(part.xy.front());
            part.reverse();  // the format's own orientation: outer rings clockwise
        }
        return part;
    };
    std::vector<Part> parts;
    switch (kind_of(s.type)) {
    case Kind::Point:
        for (Part &p : s.parts)
            for (auto &q : p.xy) q.x -= 360 * std::floor((q.x + 180) / 360);
        return;
    case Kind::Line:
        for (const Part &p : s.parts) {
            geo::Line line;
            for (const auto &q : p.xy) line.push_back({q.x, q.y});
            for (const geo::Line &cut : geo::clip_line_rfc7946(line, world)) parts.push_back(part_of(cut, false));
        }
        break;
    case Kind::Area:
        for (const Polygon &polygon : polygons_of(s)) {
            geo::Polygon rings;
            for (const Part &ring : polygon) {
                geo::Ring r;
                for (size_t i = 0; i + 1 < ring.xy.size(); ++i) r.push_back({ring.xy[i].x, ring.xy[i].y});
                rings.push_back(std::move(r));
            }
            for (const geo::Polygon &cut : geo::clip_polygon_rfc7946(rings, world))
                for (const geo::Ring &ring : cut) parts.push_back(part_of(ring, true));
        }
        break;
    case Kind::None: return;
    }
    s.parts = std::move(parts);
    s.has_z = s.has_m = false;
}

// ---------------------------------------------------------------------------
// Whether a shape meets a box

using geo::Frame;

bool inside(const Frame &f, double x, double y) { return x >= f.west && x <= f.east && y >= f.south && y <= f.north; }

// Whether the segment from a to b meets the frame (Liang-Barsky).
bool segment_meets(const Frame &f, ESRISHPPOINTStr a, ESRISHPPOINTStr b) {
    double t0 = 0, t1 = 1;
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x - f.west, f.east - a.x, a.y - f.south, f.north - a.y};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0) t0 = std::max(t0, t);
        else t1 = std::min(t1, t);
        if (t0 > t1) return false;
    }
    return true;
}

// Even-odd test of a point against every ring of a polygon.
bool in_polygon(const Polygon &polygon, double x, double y) {
    bool in = false;
    for (const Part &ring : polygon)
        for (size_t i = 0, j = ring.xy.size() - 1; i < ring.xy.size(); j = i++) {
            const ESRISHPPOINTStr &a = ring.xy[i], &b = ring.xy[j];
            if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) in = !in;
        }
    return in;
}

bool meets_once(const Shape &s, const std::vector<Polygon> &polygons, const Frame &f, double shift) {
    auto moved = [shift](ESRISHPPOINTStr p) { return ESRISHPPOINTStr{p.x + shift, p.y}; };
    for (const Part &part : s.parts) {
        const bool closed = kind_of(s.type) == Kind::Area;
        for (size_t i = 0; i < part.xy.size(); ++i) {
            const ESRISHPPOINTStr a = moved(part.xy[i]);
            if (inside(f, a.x, a.y)) return true;
            if (kind_of(s.type) == Kind::Point) continue;
            if (i + 1 < part.xy.size() || closed) {
                const ESRISHPPOINTStr b = moved(part.xy[(i + 1) % part.xy.size()]);
                if (segment_meets(f, a, b)) return true;
            }
        }
    }
    // A box wholly inside an area.
    for (const Polygon &polygon : polygons)
        if (in_polygon(polygon, f.west - shift, f.south)) return true;
    return false;
}

bool meets(const Shape &s, const Frame &f) {
    const std::vector<Polygon> polygons = kind_of(s.type) == Kind::Area ? polygons_of(s) : std::vector<Polygon>{};
    for (double shift : {-360.0, 0.0, 360.0})
        if (meets_once(s, polygons, f, shift)) return true;
    return false;
}

// ---------------------------------------------------------------------------
// Output

// The longitudes and latitudes that a shape covers, when its coordinates are
// longitudes and latitudes (known to be, or within their ranges).
GeoBBox bbox_of(const Shape &s, bool lonlat) {
    GeoBBox box;
    box.exact();
    for (const Part &p : s.parts) {
        std::vector<geo::Point> points;
        for (const auto &q : p.xy) {
            if (!lonlat && !(std::fabs(q.x) <= 180 && std::fabs(q.y) <= 90)) return {};
            points.push_back({q.x, q.y});
        }
        box.add(points);
    }
    return box;
}

bool has_points(const Shape &s) {
    return std::any_of(s.parts.begin(), s.parts.end(), [](const Part &p) { return !p.xy.empty(); });
}

std::string feature_json(const Shape &s, DbaseTable *table, int recno, bool deleted, const GeoBBox &box = {}) {
    std::string properties = "\"record\":" + std::to_string(recno);
    if (deleted) properties += ",\"deleted\":true";
    if (s.has_m) {
        const char *type = nullptr;
        properties += ",\"measures\":" + coordinates_json(s, measure, &type);
    }
    if (table) properties += table->members(recno);
    return "{\"type\":\"Feature\",\"properties\":{" + properties + "}" +
           (box.empty() ? "" : ",\"bbox\":" + box.json()) + ",\"geometry\":" + geometry_json(s) + "}";
}

std::vector<double> coordinates(const std::vector<ESRISHPPOINTStr> &points, bool y) {
    std::vector<double> out;
    out.reserve(points.size());
    for (const auto &p : points) out.push_back(y ? p.y : p.x);
    return out;
}

// Shapes to draw, each with its record number.
using Selected = std::vector<std::pair<int, Shape>>;

std::string as_svg(const Selected &shapes, DbaseTable *table) {
    double west = INFINITY, east = -INFINITY, south = INFINITY, north = -INFINITY;
    for (const auto &[recno, s] : shapes)
        for (const Part &p : s.parts)
            for (const auto &q : p.xy) {
                west = std::min(west, q.x), east = std::max(east, q.x);
                south = std::min(south, q.y), north = std::max(north, q.y);
            }
    if (west > east) west = east = south = north = 0;
    // By halves: the spans of coordinates near the largest doubles overflow.
    double margin = std::max({east / 2 - west / 2, north / 2 - south / 2, 1e-6}) * 0.04;
    if (!std::isfinite(west - margin) || !std::isfinite(east + margin) || !std::isfinite(south - margin) ||
        !std::isfinite(north + margin))
        margin = 0;
    SvgMap svg(Box{west - margin, east + margin, south - margin, north + margin}, 1000);
    svg.background("#f4f1e8");
    for (const auto &[recno, s] : shapes) {
        const std::string label = table ? table->label(recno) : "";
        const std::string title = label.empty() ? "" : "<title>" + xml_text(label) + "</title>";
        auto element = [&](const std::string &open, const std::string &attributes) {
            svg.element(title.empty() ? open + attributes + "/>"
                                      : open + attributes + ">" + title + "</" + open.substr(1) + ">");
        };
        switch (kind_of(s.type)) {
        case Kind::Area:
            for (const auto &polygon : polygons_of(s)) {
                std::string d;
                for (const Part &ring : polygon) {
                    const auto x = coordinates(ring.xy, false), y = coordinates(ring.xy, true);
                    d += svg.path_data(x.data(), y.data(), static_cast<int>(ring.xy.size()), true);
                }
                element("<path", " d=\"" + d +
                                     "\" fill=\"#d9c7a0\" fill-rule=\"evenodd\" stroke=\"#6b5a3c\" "
                                     "stroke-width=\"0.6\"");
            }
            break;
        case Kind::Line:
            for (const Part &part : s.parts) {
                if (part.xy.size() < 2) continue;
                const auto x = coordinates(part.xy, false), y = coordinates(part.xy, true);
                element("<path", " d=\"" + svg.path_data(x.data(), y.data(), static_cast<int>(part.xy.size()), false) +
                                     "\" fill=\"none\" stroke=\"#3a78c2\" stroke-width=\"1\"");
            }
            break;
        case Kind::Point:
            for (const auto &p : s.parts.at(0).xy) {
                char circle[128];
                std::snprintf(circle, sizeof circle, " cx=\"%.2f\" cy=\"%.2f\" r=\"3\" fill=\"#a0303a\"", svg.x(p.x),
                              svg.y(p.y));
                element("<circle", circle);
            }
            break;
        case Kind::None: break;
        }
    }
    return svg.finish();
}

int run_shapes(int argc, char **argv) {
    Args args(argc, argv, {"o", "dbf", "encoding", "box"});
    args.allow_flags({"svg", "geojson", "no-dbf", "deleted", "no-transform"});
    if (args.positional().size() != 1) throw UsageError("name one shapefile");
    const std::string path = args.positional()[0];
    const bool boxed = args.has("box");
    const Frame frame = boxed ? geo::frame_of(parse_box(args.get("box"))) : Frame{};
    Shapefile f;
    decode(f, path, read_input(path));
    const std::string dbf_path = args.flag("no-dbf") ? "" : args.get("dbf", file_beside(path, {".dbf", ".DBF"}));
    std::unique_ptr<DbaseTable> table;
    if (!dbf_path.empty()) table = std::make_unique<DbaseTable>(dbf_path, read_input(dbf_path), args.get("encoding"));
    const Coordinates coordinates = args.flag("no-transform") ? Coordinates{} : coordinates_of(path);
    Selected shapes;
    LeftOut left_out(path, "its geometry is left out");
    for (int i = 0; i < f.count(); ++i) {
        if (table && table->deleted(i) && !args.flag("deleted")) continue;
        Shape s = shape_of(f.at(i), path, i);
        settle(s, coordinates.transform.get(), i, left_out);
        // GeoJSON wants longitudes within 180; a picture draws them as stored.
        if (coordinates.lonlat && !args.flag("svg")) for_record(path, i, [&] { within_180(s); });
        if (boxed && !meets(s, frame)) continue;
        shapes.emplace_back(i, std::move(s));
    }
    left_out.finish();
    Output out(args.get("o"));
    if (args.flag("svg")) {
        out.append(as_svg(shapes, table.get()));
    } else {
        GeoJson json;
        bool stored = false;  // coordinates that cannot be longitudes and latitudes, written as they are
        for (const auto &[recno, s] : shapes) {
            const GeoBBox box = bbox_of(s, coordinates.lonlat);
            stored |= box.empty() && has_points(s);
            json.raw_feature(feature_json(s, table.get(), recno, table && table->deleted(recno), box), box);
        }
        if (stored && !args.flag("no-transform") && file_beside(path, {".prj", ".PRJ"}).empty())
            std::fprintf(stderr,
                         "vorpix: warning: %s: the coordinates are not longitudes and latitudes and no .prj says "
                         "what they are; they are written as stored, which RFC 7946 GeoJSON does not allow\n",
                         path.c_str());
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
    LeftOut left_out(path, "it is indexed without a box");
    for (int r = 0; r < f.count(); ++r) {
        const ESRISHPRECStr *rec = f.at(r);
        IndexedShape e{static_cast<long>(rec->offset), r, rec->shape_type, {NAN, NAN, NAN, NAN}};
        double *box = e.box;
        Shape s = shape_of(rec, path, r);
        settle(s, nullptr, r, left_out);
        for (const auto &part : s.parts)
            for (const auto &p : part.xy) {
                box[0] = std::isnan(box[0]) ? p.x : std::min(box[0], p.x);
                box[1] = std::isnan(box[1]) ? p.y : std::min(box[1], p.y);
                box[2] = std::isnan(box[2]) ? p.x : std::max(box[2], p.x);
                box[3] = std::isnan(box[3]) ? p.y : std::max(box[3], p.y);
            }
        out.push_back(e);
    }
    left_out.finish();
    return out;
}

std::string record_feature_json(const ESRISHPRECStr &rec, const std::string &path, int recno,
                                const Coordinates &coordinates, DbaseTable *table, const std::string &properties,
                                GeoBBox &box) {
    Shape s = shape_of(&rec, path, recno);
    LeftOut left_out(path, "its geometry is left out");
    settle(s, coordinates.transform.get(), recno, left_out);
    if (coordinates.lonlat) for_record(path, recno, [&] { within_180(s); });
    box = bbox_of(s, coordinates.lonlat);
    const std::string feature = feature_json(s, table, recno, table && table->deleted(recno), box);
    const std::string head = "{\"type\":\"Feature\",\"properties\":{";
    return head + properties + "," + feature.substr(head.size());
}

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
    // Drawn in longitude and latitude, as "vorpix shapes" writes them.
    const Coordinates coordinates = coordinates_of(path);
    LeftOut left_out(path, "it is not drawn");
    constexpr std::uint32_t fill = 0x9060b060u, line = 0xff7a3fb0u;  // green over the tan land, purple lines
    bool areas = false, lines = false;  // drawn within the frame: the legend names only those
    bool stored = false;                // coordinates that cannot be longitudes and latitudes, drawn as they are
    // Clipped to the frame here rather than with the other layers, so that a
    // ring the geometry refuses is named by its record.
    const Frame frame{pic.box.west, pic.box.east, pic.box.south, pic.box.north};
    auto add_fill = [&](const std::vector<Ring> &rings, std::uint32_t colour, int recno) {
        for (auto &polygon : for_record(path, recno, [&] { return geo::clip_polygon(rings, frame); })) {
            pic.ops.push_back({Op::Fill, std::move(polygon), colour, 0, {}, 0, 0, ""});
            pic.ops.back().framed = true;
        }
    };
    auto ring_of = [](const Part &part) {
        Ring r;
        r.reserve(part.xy.size());
        for (const auto &p : part.xy) r.push_back({p.x, p.y});
        return r;
    };
    for (int i = 0; i < f.count(); ++i) {
        Shape s = shape_of(f.at(i), path, i);
        settle(s, coordinates.transform.get(), i, left_out);
        stored = stored || (!coordinates.lonlat && bbox_of(s, false).empty() && has_points(s));
        const size_t before = pic.ops.size();
        switch (kind_of(s.type)) {
        case Kind::Area:
            for (const auto &polygon : polygons_of(s)) {
                std::vector<Ring> rings;
                rings.reserve(polygon.size());
                for (const auto &r : polygon) rings.push_back(ring_of(r));
                add_fill(rings, fill, i);
            }
            areas = areas || pic.ops.size() > before;
            break;
        case Kind::Line: {
            Op op{Op::Stroke, {}, line, 1.2, {}, 0, 0, ""};
            op.framed = true;
            for (const auto &part : s.parts)
                for (auto &run : for_record(path, i, [&] { return geo::clip_line(ring_of(part), frame); }))
                    op.rings.push_back(std::move(run));
            if (!op.rings.empty()) pic.ops.push_back(std::move(op));
            lines = lines || pic.ops.size() > before;
            break;
        }
        case Kind::Point: {
            // A small square of a fixed size in pixels around each point.
            const double dx = 3 * (pic.box.east - pic.box.west) / pic.width;
            const double dy = 3 * (pic.box.north - pic.box.south) / pic.height;
            for (const auto &p : s.parts.at(0).xy)
                add_fill({{{p.x - dx, p.y - dy}, {p.x + dx, p.y - dy}, {p.x + dx, p.y + dy}, {p.x - dx, p.y + dy}}},
                         line, i);
            lines = lines || pic.ops.size() > before;
            break;
        }
        case Kind::None: break;
        }
    }
    left_out.finish();
    if (stored && file_beside(path, {".prj", ".PRJ"}).empty())
        std::fprintf(stderr,
                     "vorpix: warning: %s: the coordinates are not longitudes and latitudes and no .prj says what "
                     "they are; they are drawn as if they were\n",
                     path.c_str());
    if (areas) pic.add_legend("shapes", fill, false);
    if (lines) pic.add_legend("shape lines and points", line, true);
}

const Command shapes_command{"shapes", "shapes of a shapefile as GeoJSON or SVG",
                             "usage: vorpix shapes FILE.shp [--svg] [--dbf FILE.dbf | --no-dbf] [--encoding NAME]\n"
                             "                    [--deleted] [--box W/E/S/N] [--no-transform] [-o OUT]\n\n"
                             "Writes every shape of a shapefile as a GeoJSON Feature (Point, MultiPoint,\n"
                             "LineString, MultiLineString, Polygon or MultiPolygon; null for Null shapes)\n"
                             "with its record number (\"record\", from 0) and every field of the dBase\n"
                             "file beside it (same name, .dbf): numeric fields (N, F) as numbers, blank\n"
                             "or overflowed ones as null; logical fields (L) as true, false or null; dates\n"
                             "(D) as \"YYYY-MM-DD\" or null; others as text without surrounding blanks,\n"
                             "null when blank. Text is converted to UTF-8 from the code page that the\n"
                             ".cpg file beside the table names, else the table's language-driver byte,\n"
                             "else --encoding, else ISO-8859-1; bytes that do not convert become U+FFFD\n"
                             "(with one warning). Records marked deleted are left out.\n"
                             "Polygon rings that run clockwise start a polygon; the counter-clockwise\n"
                             "rings after one are its holes; rings are written counter-clockwise round\n"
                             "areas and clockwise round holes. Z values are the third coordinate; M\n"
                             "values go to the property \"measures\", shaped like the coordinates (one\n"
                             "number per position, null for \"no data\"). MultiPatch parts become\n"
                             "polygons: triangle strips and fans one per triangle.\n"
                             "A .prj file that names a projected system is undone to longitude and\n"
                             "latitude on WGS 84 (with PROJ); longitudes beyond 180 are moved or cut at\n"
                             "the antimeridian. A geographic system passes as it stands; a .prj that\n"
                             "cannot be read gives a warning. Part indices must ascend. A shape with a\n"
                             "coordinate that is not a finite number, or a point that PROJ cannot\n"
                             "transform, is written with null geometry and a warning naming its record.\n"
                             "  --svg          an SVG picture of the selected shapes instead, each with\n"
                             "                 its first text field as its title\n"
                             "  --dbf FILE     the attributes from FILE;  --no-dbf  without attributes\n"
                             "  --encoding NAME  the code page of the text when the table names none\n"
                             "  --deleted      include deleted records, with \"deleted\": true\n"
                             "  --box W/E/S/N  only the records whose shapes meet the box (in longitude\n"
                             "                 and latitude; east below west runs across 180)\n"
                             "  --no-transform write the coordinates as stored, whatever the .prj says\n"
                             "  -o OUT         write to OUT instead of standard output\n",
                             run_shapes};

}  // namespace vorpix::cli
