// Shapefile sets read a record at a time through the library's record and
// dBase decoders: geometry as flat arrays in GeoJSON's ring order, typed
// attributes in UTF-8, coordinates in longitude and latitude.
#include "input_file.hpp"
#include "vorpix/library_log.hpp"
#include "vorpix/clip.hpp"
#include "vorpix/features.hpp"
#include "vorpix/reproject.hpp"
#include "vorpix/text.hpp"

#include "arrays.h"
#include "esri.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

namespace vorpix::features {

void Geometry::clear() {
    type = GeometryType::None;
    x.clear(), y.clear(), z.clear(), m.clear();
    runs.clear(), parts.clear();
}

const char *geometry_name(GeometryType type) {
    switch (type) {
    case GeometryType::Point: return "Point";
    case GeometryType::MultiPoint: return "MultiPoint";
    case GeometryType::LineString: return "LineString";
    case GeometryType::MultiLineString: return "MultiLineString";
    case GeometryType::Polygon: return "Polygon";
    case GeometryType::MultiPolygon: return "MultiPolygon";
    case GeometryType::None: break;
    }
    return "";
}

namespace {

std::uint32_t big32(const unsigned char *p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

std::string place_of(long recno) { return "record " + std::to_string(recno); }

// Warnings for records whose geometry is left out: one line each for the
// first few, then one line for the rest, so that a file of a million such
// records does not flood the terminal.
class LeftOut {
public:
    void record(const Warn &warn, const std::string &path, long recno, const char *why) {
        if (++count_ <= shown && warn)
            warn(path + ": record " + std::to_string(recno) + ": " + why + "; its geometry is left out");
    }
    void finish(const Warn &warn, const std::string &path) {
        if (count_ > shown && warn) warn(path + ": " + std::to_string(count_ - shown) + " more records like these");
        count_ = 0;
    }

private:
    static constexpr long shown = 10;
    long count_ = 0;
};

// ---------------------------------------------------------------------------
// Geometry from the library's shape structures

bool is_point_type(int t) { return t == 1 || t == 11 || t == 21; }
bool is_multipoint_type(int t) { return t == 8 || t == 18 || t == 28; }
bool is_line_type(int t) { return t == 3 || t == 13 || t == 23; }
bool is_area_type(int t) { return t == 5 || t == 15 || t == 25 || t == 31; }

// The members of any shape structure, in one form.
struct ShapeArrays {
    int numparts = 0, numpoints = 0;
    const int *parts = nullptr, *parttypes = nullptr;
    const ESRISHPPOINTStr *points = nullptr;
    const double *z = nullptr, *m = nullptr;
    ESRISHPPOINTStr single{};
    double single_z = 0, single_m = 0;
};

template <typename S>
void arrays_of(const S *s, ShapeArrays &a) {
    if constexpr (requires { s->points; }) {
        a.numpoints = s->numpoints;
        a.points = s->points;
    } else {
        a.numpoints = 1;
        a.single = {s->x, s->y};
        a.points = &a.single;
    }
    if constexpr (requires { s->parts; }) {
        a.numparts = s->numparts;
        a.parts = s->parts;
    }
    if constexpr (requires { s->parttypes; }) a.parttypes = s->parttypes;
    if constexpr (requires { s->zarray; }) a.z = s->zarray;
    else if constexpr (requires { s->z; }) a.single_z = s->z, a.z = &a.single_z;
    if constexpr (requires { s->marray; }) a.m = s->marray;
    else if constexpr (requires { s->m; }) a.single_m = s->m, a.m = &a.single_m;
}

bool view(const ESRISHPRECStr &rec, ShapeArrays &a) {
    const void *s = rec.record;
    if (!s) return false;
    switch (rec.shape_type) {
    case 1: arrays_of(static_cast<const ESRISHPRECPOINTStr *>(s), a); break;
    case 11:
        arrays_of(static_cast<const ESRISHPRECPOINTZStr *>(s), a);
        // A PointZ record of 28 bytes has no measure (the format makes it optional).
        if (rec.hdr.length < 18) a.m = nullptr;
        break;
    case 21: arrays_of(static_cast<const ESRISHPRECPOINTMStr *>(s), a); break;
    case 8: arrays_of(static_cast<const ESRISHPRECMPOINTStr *>(s), a); break;
    case 18: arrays_of(static_cast<const ESRISHPRECMPOINTZStr *>(s), a); break;
    case 28: arrays_of(static_cast<const ESRISHPRECMPOINTMStr *>(s), a); break;
    case 3:
    case 5: arrays_of(static_cast<const ESRISHPRECPOLYGStr *>(s), a); break;
    case 13:
    case 15: arrays_of(static_cast<const ESRISHPRECPOLYGZStr *>(s), a); break;
    case 23:
    case 25: arrays_of(static_cast<const ESRISHPRECPOLYGMStr *>(s), a); break;
    case 31: arrays_of(static_cast<const ESRISHPRECMULTIPAStr *>(s), a); break;
    default: return false;
    }
    return true;
}

// Builds the flat geometry of one shape.
class Shaper {
public:
    Shaper(const ShapeArrays &a, Geometry &g) : a_(a), g_(g) {
        g_.clear();
        with_z_ = a.z != nullptr;
        with_m_ = a.m != nullptr;
    }

    void point(int i) {
        g_.x.push_back(a_.points[i].x);
        g_.y.push_back(a_.points[i].y);
        if (with_z_) g_.z.push_back(a_.z[i]);
        if (with_m_) g_.m.push_back(a_.m[i]);
    }
    void end_run() { g_.runs.push_back(static_cast<std::uint32_t>(g_.x.size())); }
    void begin() {
        g_.runs.assign(1, 0);
        // Rings gain a closing point at most; triangles of a patch a fourth.
        const auto room = static_cast<size_t>(a_.numpoints) + static_cast<size_t>(a_.numparts);
        g_.x.reserve(room), g_.y.reserve(room);
        if (with_z_) g_.z.reserve(room);
        if (with_m_) g_.m.reserve(room);
    }
    // Points from to to-1, reversed or not, closed when ring and not closed.
    void run(int from, int to, bool reversed, bool ring) {
        for (int k = 0; k < to - from; ++k) point(reversed ? to - 1 - k : from + k);
        if (ring && (a_.points[from].x != a_.points[to - 1].x || a_.points[from].y != a_.points[to - 1].y))
            point(reversed ? to - 1 : from);
        end_run();
    }
    void triangle(int i, int j, int k) {
        // Counter-clockwise, closed.
        const int order[2][4] = {{i, j, k, i}, {i, k, j, i}};
        const int ccw[3] = {i, j, k};
        g_.parts.push_back(static_cast<std::uint32_t>(g_.runs.size() - 1));
        for (const int at : order[area2_of(ccw, 3) >= 0 ? 0 : 1]) point(at);
        end_run();
    }

    // Twice the signed area of the points from to to-1 (positive when
    // counter-clockwise), as a ring closed implicitly.
    double area2(int from, int to) const {
        double s = 0;
        for (int i = from; i < to; ++i) {
            const ESRISHPPOINTStr &p = a_.points[i], &q = a_.points[i + 1 < to ? i + 1 : from];
            s += (p.x - q.x) * (p.y + q.y);
        }
        return s;
    }
    double area2_of(const int *v, size_t n) const {
        double s = 0;
        for (size_t i = 0; i < n; ++i) {
            const ESRISHPPOINTStr &p = a_.points[v[i]], &q = a_.points[v[(i + 1) % n]];
            s += (p.x - q.x) * (p.y + q.y);
        }
        return s;
    }

    void finish(GeometryType one, GeometryType many, size_t count) {
        if (count == 0) {
            g_.clear();
            return;
        }
        g_.type = count == 1 ? one : many;
        if (!with_z_) g_.z.clear();
        if (!with_m_) g_.m.clear();
    }

private:
    const ShapeArrays &a_;
    Geometry &g_;
    bool with_z_, with_m_;
};

// The format requires each part to start at or after the one before it.
void check_parts(const ShapeArrays &a, const std::string &path, long recno) {
    for (int p = 0; p < a.numparts; ++p) {
        const int start = a.parts[p];
        if (start < 0 || start > a.numpoints)
            throw Error(ErrorCode::Invalid, path, place_of(recno),
                        "part " + std::to_string(p) + " starts at point " + std::to_string(start) + ", outside its " +
                            std::to_string(a.numpoints) + " points");
        if (p > 0 && start < a.parts[p - 1])
            throw Error(ErrorCode::Invalid, path, place_of(recno),
                        "part indices must ascend, but part " + std::to_string(p) + " starts at point " +
                            std::to_string(start) + ", before part " + std::to_string(p - 1) + " at point " +
                            std::to_string(a.parts[p - 1]));
    }
}

// Polygons as GeoJSON wants them: each clockwise ring of the file (or the
// first ring) starts a polygon, and the counter-clockwise rings after one
// are its holes; exteriors are written counter-clockwise, holes clockwise.
// MultiPatch parts say what they are: triangle strips and fans become one
// triangle each, outer and first rings start polygons, inner rings (and
// rings after a first ring) are holes.
void build_areas(const ShapeArrays &a, Shaper &shape, Geometry &g) {
    shape.begin();
    g.parts.clear();
    bool after_first_ring = false;
    for (int p = 0; p < a.numparts; ++p) {
        const int from = a.parts[p], to = p + 1 < a.numparts ? a.parts[p + 1] : a.numpoints;
        const int n = to - from;
        const int type = a.parttypes ? a.parttypes[p] : -1;
        bool starts = false;
        switch (type) {
        case 0:  // triangle strip
        case 1:  // triangle fan
            for (int i = 0; i + 2 < n; ++i) shape.triangle(from + (type == 0 ? i : 0), from + i + 1, from + i + 2);
            after_first_ring = false;
            continue;
        case 2:
        case 4:
            after_first_ring = type == 4;
            if (n < 3) continue;
            starts = true;
            break;
        case 3:
        case 5:
            if (n < 3) continue;
            starts = g.parts.empty() || (type == 5 && !after_first_ring);
            break;
        default:
            if (n < 3) continue;
            starts = g.parts.empty() || shape.area2(from, to) <= 0;
        }
        const double area = shape.area2(from, to);
        if (starts) g.parts.push_back(static_cast<std::uint32_t>(g.runs.size() - 1));
        // Exteriors counter-clockwise (positive), holes clockwise.
        shape.run(from, to, starts ? area < 0 : area > 0, true);
    }
    if (!g.parts.empty()) g.parts.push_back(static_cast<std::uint32_t>(g.runs.size() - 1));
    shape.finish(GeometryType::Polygon, GeometryType::MultiPolygon, g.polygon_count());
    if (g.type == GeometryType::None) g.parts.clear();
}

void build_geometry(const ESRISHPRECStr &rec, Geometry &g, const std::string &path, long recno) {
    ShapeArrays a;
    if (!view(rec, a)) {
        g.clear();
        return;
    }
    Shaper shape(a, g);
    const int t = rec.shape_type;
    if (a.parts) check_parts(a, path, recno);
    if (is_point_type(t) || is_multipoint_type(t)) {
        if (a.numpoints <= 0) return;
        shape.begin();
        shape.run(0, a.numpoints, false, false);
        shape.finish(is_point_type(t) ? GeometryType::Point : GeometryType::MultiPoint, GeometryType::MultiPoint, 1);
    } else if (is_line_type(t)) {
        shape.begin();
        size_t lines = 0;
        for (int p = 0; p < a.numparts; ++p) {
            const int from = a.parts[p], to = p + 1 < a.numparts ? a.parts[p + 1] : a.numpoints;
            if (to <= from) continue;
            shape.run(from, to, false, false);
            ++lines;
        }
        shape.finish(GeometryType::LineString, GeometryType::MultiLineString, lines);
    } else if (is_area_type(t)) {
        build_areas(a, shape, g);
    }
}

bool finite(const Geometry &g) {
    for (size_t i = 0; i < g.x.size(); ++i)
        if (!std::isfinite(g.x[i]) || !std::isfinite(g.y[i])) return false;
    for (const double z : g.z)
        if (!std::isfinite(z)) return false;
    return true;
}

// ---------------------------------------------------------------------------
// Longitudes within 180, and whether a geometry meets a box

geo::Line run_points(const Geometry &g, size_t r, bool ring) {
    geo::Line line;
    const size_t end = g.runs[r + 1] - (ring ? 1 : 0);  // rings: the closing point is implicit
    for (size_t i = g.runs[r]; i < end; ++i) line.push_back({g.x[i], g.y[i]});
    return line;
}

void append_run(Geometry &g, const std::vector<geo::Point> &points, bool ring) {
    for (const geo::Point &p : points) g.x.push_back(p.lon), g.y.push_back(p.lat);
    if (ring && !points.empty()) g.x.push_back(points[0].lon), g.y.push_back(points[0].lat);
    g.runs.push_back(static_cast<std::uint32_t>(g.x.size()));
}

// A geometry in longitude and latitude with longitudes beyond +-180 as
// RFC 7946 wants it: points moved by whole turns, lines and areas cut at the
// antimeridian (their Z and M values are left out, since the cut makes new
// points).
void within_180(Geometry &g) {
    if (std::all_of(g.x.begin(), g.x.end(), [](double x) { return x >= -180 && x <= 180; })) return;
    if (g.type == GeometryType::Point || g.type == GeometryType::MultiPoint) {
        for (double &x : g.x) x -= 360 * std::floor((x + 180) / 360);
        return;
    }
    const geo::Frame world = geo::frame_of(-180, 180, -90, 90);
    Geometry out;
    out.runs.assign(1, 0);
    if (g.type == GeometryType::LineString || g.type == GeometryType::MultiLineString) {
        for (size_t r = 0; r < g.run_count(); ++r)
            for (const geo::Line &cut : geo::clip_line_rfc7946(run_points(g, r, false), world))
                append_run(out, cut, false);
        out.type = out.run_count() == 1 ? GeometryType::LineString : GeometryType::MultiLineString;
    } else {
        out.parts.assign(1, 0);
        for (size_t p = 0; p < g.polygon_count(); ++p) {
            geo::Polygon rings;
            for (size_t r = g.parts[p]; r < g.parts[p + 1]; ++r) rings.push_back(run_points(g, r, true));
            // The clip gives exteriors counter-clockwise and holes
            // clockwise, as GeoJSON wants them.
            for (const geo::Polygon &cut : geo::clip_polygon_rfc7946(rings, world)) {
                for (const geo::Ring &ring : cut) append_run(out, ring, true);
                out.parts.push_back(static_cast<std::uint32_t>(out.run_count()));
            }
        }
        out.type = out.polygon_count() == 1 ? GeometryType::Polygon : GeometryType::MultiPolygon;
    }
    if (out.run_count() == 0) out.clear();
    g = std::move(out);
}

bool inside(const geo::Frame &f, double x, double y) {
    return x >= f.west && x <= f.east && y >= f.south && y <= f.north;
}

// Whether the segment from (ax, ay) to (bx, by) meets the frame (Liang-Barsky).
bool segment_meets(const geo::Frame &f, double ax, double ay, double bx, double by) {
    double t0 = 0, t1 = 1;
    const double dx = bx - ax, dy = by - ay;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {ax - f.west, f.east - ax, ay - f.south, f.north - ay};
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

// Even-odd test of a point against the rings of polygon p.
bool in_polygon(const Geometry &g, size_t p, double x, double y) {
    bool in = false;
    for (size_t r = g.parts[p]; r < g.parts[p + 1]; ++r)
        for (size_t i = g.runs[r], j = g.runs[r + 1] - 1; i < g.runs[r + 1]; j = i++)
            if ((g.y[i] > y) != (g.y[j] > y) && x < (g.x[j] - g.x[i]) * (y - g.y[i]) / (g.y[j] - g.y[i]) + g.x[i])
                in = !in;
    return in;
}

bool meets_once(const Geometry &g, const geo::Frame &f, double shift) {
    const bool points = g.type == GeometryType::Point || g.type == GeometryType::MultiPoint;
    for (size_t r = 0; r < g.run_count(); ++r)
        for (size_t i = g.runs[r]; i < g.runs[r + 1]; ++i) {
            if (inside(f, g.x[i] + shift, g.y[i])) return true;
            if (!points && i + 1 < g.runs[r + 1] &&
                segment_meets(f, g.x[i] + shift, g.y[i], g.x[i + 1] + shift, g.y[i + 1]))
                return true;
        }
    // A box wholly inside an area.
    for (size_t p = 0; p < g.polygon_count(); ++p)
        if (in_polygon(g, p, f.west - shift, f.south)) return true;
    return false;
}

bool meets(const Geometry &g, const geo::Frame &f) {
    for (const double shift : {-360.0, 0.0, 360.0})
        if (meets_once(g, f, shift)) return true;
    return false;
}

std::string trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return "";
    const auto last = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(first, last - first + 1));
}

}  // namespace

// ---------------------------------------------------------------------------

struct ShapefileReader::Impl {
    ShapefileOptions options;
    std::string path;
    Warn warn;
    LeftOut left_out;

    // The main file, and its index when it lists the records.
    std::unique_ptr<InputFile> shp, shx;
    std::uint64_t shp_end = 0;  // where the records end
    long shx_count = -1;
    std::uint64_t next_offset = 100;
    long next_recno = 0;
    ESRISHPRECStr rec{};
    bool starts_checked = false;
    std::vector<std::uint64_t> starts;  // the offsets the .shx lists, sorted, when they fit the file

    // The table.
    std::unique_ptr<InputFile> dbf;
    ESRIDBASEStr table{};
    std::uint64_t header = 0, width = 0;
    long numrecs = 0;
    std::vector<Field> all_fields, fields;
    std::vector<int> columns;  // indices into all_fields of the fields given
    std::vector<ESRIDBASEVALUEStr> raw;
    std::unique_ptr<TextConverter> text;

    Coordinates coordinates;
    std::optional<geo::Frame> frame;
    std::optional<geo::Frame> rectangle;  // options.rectangle, tried without turns
    ShapefileHeader file_header;

    ~Impl() {
        esri_release_shapefile_record(&rec);
        esri_release_dbase_file(&table);
    }

    void opened(const std::string &file) {
        if (options.opened) options.opened(file);
    }

    void open_main(const std::string &file) {
        shp = std::make_unique<InputFile>(file);
        opened(file);
        const unsigned char *h = shp->at(0, 100);
        if (!h)
            throw Error(ErrorCode::Invalid, file, "header",
                        "the file has " + std::to_string(shp->size()) + " bytes, fewer than the 100 of a header");
        ESRISHPFILEHDRStr hdr{};
        void *into = &hdr;
        unsigned char *cursor = const_cast<unsigned char *>(h);
        LibraryLog log;
        if (esri_unstuff_stream(59, &into, cursor, &cursor) < 0) throw Error(log.code(), file, "header", log.reason());
        if (hdr.magic != 9994)
            throw Error(ErrorCode::Invalid, file, "header",
                        "not a shapefile: its file code is " + std::to_string(hdr.magic) + ", not 9994");
        const auto length = 2 * static_cast<std::uint64_t>(static_cast<std::uint32_t>(hdr.length));
        if (length > shp->size())
            throw Error(ErrorCode::Invalid, file, "header",
                        "file length " + std::to_string(hdr.length) + " words (" + std::to_string(length) +
                            " bytes) runs past the end of the file, which has " + std::to_string(shp->size()) +
                            " bytes");
        shp_end = std::max<std::uint64_t>(length, 100);
        file_header = {hdr.shape_type, hdr.xmin, hdr.ymin, hdr.xmax, hdr.ymax, hdr.zmin, hdr.zmax, hdr.mmin, hdr.mmax};
        open_index(file);
    }

    // The .shx, when it reads as the index of this main file.
    void open_index(const std::string &file) {
        const std::string index = file_beside(file, {".shx", ".SHX"});
        if (index.empty()) return;
        auto x = std::make_unique<InputFile>(index);
        const unsigned char *h = x->at(0, 100);
        const bool fits = h && big32(h) == 9994 && (x->size() - 100) % 8 == 0 &&
                          2 * static_cast<std::uint64_t>(big32(h + 24)) == x->size();
        if (!fits) {
            if (warn) warn(index + ": not the index of a shapefile; the records are found one after another");
            return;
        }
        opened(index);
        shx_count = static_cast<long>((x->size() - 100) / 8);
        shx = std::move(x);
    }

    void open_table(const std::string &file) {
        dbf = std::make_unique<InputFile>(file);
        opened(file);
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(dbf->size(), 65536 + 32));
        const unsigned char *bytes = dbf->at(0, n);
        {
            LibraryLog log;
            if (!bytes || esri_decode_dbase_header_sized(&table, bytes, static_cast<long>(n)) < 0)
                throw Error(log.code(), file, "", log.reason());
        }
        header = static_cast<unsigned short>(table.hdr.numbyteshdr);
        width = static_cast<unsigned short>(table.hdr.numbytesrec);
        numrecs = table.hdr.numrecs;
        if (header + static_cast<std::uint64_t>(numrecs) * width > dbf->size())
            throw Error(ErrorCode::Invalid, file, "",
                        std::to_string(numrecs) + " records of " + std::to_string(width) + " bytes from byte " +
                            std::to_string(header) + " run past the end of the file, which has " +
                            std::to_string(dbf->size()) + " bytes");
        choose_encoding(file);
        const int count = cnttbl(table.field_descriptors);
        for (int i = 0; i < count; ++i) {
            const auto *d = static_cast<const ESRIDBASEFIELDDESCRStr *>(gettbl(table.field_descriptors, i));
            all_fields.push_back({(*text)(trimmed(std::string_view(d->name, strnlen(d->name, sizeof d->name)))),
                                  d->type, d->length, d->count});
        }
        raw.resize(all_fields.size());
        if (options.columns.empty()) {
            for (size_t i = 0; i < all_fields.size(); ++i) columns.push_back(static_cast<int>(i));
        } else {
            for (const std::string &name : options.columns) {
                const auto it = std::find_if(all_fields.begin(), all_fields.end(),
                                             [&](const Field &f) { return f.name == name; });
                if (it == all_fields.end())
                    throw Error(ErrorCode::Invalid, file, "", "no field named \"" + name + "\"");
                columns.push_back(static_cast<int>(it - all_fields.begin()));
            }
        }
        for (const int c : columns) fields.push_back(all_fields[static_cast<size_t>(c)]);
    }

    // The encoding given wins; then the .cpg's, then the language driver's;
    // a table that says nothing is read as UTF-8 where its text is valid
    // UTF-8, else in the fallback.
    void choose_encoding(const std::string &file) {
        std::string encoding = options.encoding;
        const std::string cpg = file_beside(file, {".cpg", ".CPG"});
        if (encoding.empty() && !cpg.empty()) {
            InputFile f(cpg);
            opened(cpg);
            // A code page's name is a few bytes; the rest of a long .cpg is not read.
            const std::string named = f.head(256, nullptr);
            encoding = encoding_of_cpg(named);
            if (encoding.empty() && warn) warn(cpg + ": names no code page");
            if (!encoding.empty() && !known(encoding)) {
                if (warn)
                    warn(cpg + ": names the code page \"" + trimmed(named) +
                         "\", which is not known; it is left aside");
                encoding.clear();
            }
        }
        if (encoding.empty()) encoding = encoding_of_language_driver(table.hdr.langid);
        bool undeclared = false;
        if (encoding.empty()) {
            undeclared = true;
            encoding = options.fallback.empty() ? "ISO-8859-1" : options.fallback;
        }
        text = std::make_unique<TextConverter>(encoding, file, warn, undeclared);
    }

    static bool known(const std::string &encoding) {
        try {
            TextConverter probe(encoding, "", nullptr);
            return true;
        } catch (const Error &) {
            return false;
        }
    }

    // The values of table record recno; whether it is marked deleted.
    bool values(long recno, std::vector<Value> &out) {
        out.resize(fields.size());
        if (!dbf || recno < 0 || recno >= numrecs) {
            for (Value &v : out) v.type = ValueType::Null;
            return false;
        }
        const unsigned char *record = dbf->at(header + static_cast<std::uint64_t>(recno) * width, width);
        if (!record) throw Error(ErrorCode::Io, dbf->path(), place_of(recno), "cannot be read");
        const int deleted = esri_get_dbase_values(&table, record, static_cast<long>(width), raw.data(),
                                                  static_cast<int>(raw.size()));
        for (size_t i = 0; i < columns.size(); ++i) {
            const ESRIDBASEVALUEStr &r = raw[static_cast<size_t>(columns[i])];
            Value &v = out[i];
            switch (r.type) {
            case ESRI_VALUE_INTEGER: v.type = ValueType::Integer, v.integer = r.integer; break;
            case ESRI_VALUE_REAL: v.type = ValueType::Real, v.real = r.real; break;
            case ESRI_VALUE_LOGICAL: v.type = ValueType::Boolean, v.integer = r.integer; break;
            case ESRI_VALUE_DATE: v.type = ValueType::Date, v.integer = r.integer; break;
            case ESRI_VALUE_TEXT:
                v.type = ValueType::String;
                v.text.clear();
                text->append(std::string_view(reinterpret_cast<const char *>(r.text), static_cast<size_t>(r.length)),
                             v.text);
                break;
            default: v.type = ValueType::Null;
            }
        }
        return deleted == 1;
    }

    // Where record recno starts, from the index; 0 when it lists none such.
    std::uint64_t listed_offset(long recno) {
        const unsigned char *entry = shx->at(100 + 8 * static_cast<std::uint64_t>(recno), 8);
        if (!entry) throw Error(ErrorCode::Io, shx->path(), place_of(recno), "cannot be read");
        return 2 * static_cast<std::uint64_t>(big32(entry));
    }

    // Decodes the record at offset into rec; the offset after it.
    std::uint64_t decode_at(std::uint64_t offset, long recno) {
        const unsigned char *h = offset >= 100 ? shp->at(offset, 8) : nullptr;
        if (!h)
            throw Error(ErrorCode::Invalid, shp->path(), place_of(recno),
                        "starts at byte " + std::to_string(offset) + ", outside the file's " +
                            std::to_string(shp->size()) + " bytes" + (shx ? " (as the .shx says)" : ""));
        const std::uint64_t length = 2 * static_cast<std::uint64_t>(big32(h + 4));
        if (offset + 8 + length > shp->size())
            throw Error(ErrorCode::Invalid, shp->path(), place_of(recno),
                        "content length " + std::to_string(length / 2) + " words (" + std::to_string(length) +
                            " bytes) at byte " + std::to_string(offset) + " runs past the end of the file, which has " +
                            std::to_string(shp->size()) + " bytes");
        const unsigned char *bytes = shp->at(offset, 8 + length);
        esri_release_shapefile_record(&rec);
        LibraryLog log;
        if (!bytes || esri_decode_shapefile_record_sized(&rec, bytes, static_cast<long>(8 + length),
                                                         static_cast<long>(offset)) < 0)
            throw Error(log.code(), shp->path(), place_of(recno) + " at byte " + std::to_string(offset), log.reason());
        return offset + 8 + length;
    }

    // The geometry in the form the options ask; false when a box leaves it out.
    bool settle(Feature &f) {
        Geometry &g = f.geometry;
        if (!finite(g)) {
            left_out.record(warn, path, f.id, "coordinates that are not finite numbers");
            g.clear();
        }
        if (g.type != GeometryType::None && coordinates.geographic) check_degrees(f);
        if (coordinates.transform && g.type != GeometryType::None) {
            coordinates.transform->apply(g.x.data(), g.y.data(), 1, g.x.size());
            if (!finite(g)) {
                left_out.record(warn, path, f.id, "points that PROJ cannot transform to longitude and latitude");
                g.clear();
            }
        }
        if (coordinates.lonlat && options.rfc7946 && g.type != GeometryType::None) {
            try {
                within_180(g);
            } catch (const Error &e) {
                throw Error(ErrorCode::Invalid, path, place_of(f.id), e.what());
            }
        }
        if (rectangle && (g.type == GeometryType::None || !meets_once(g, *rectangle, 0))) return false;
        return !frame || (g.type != GeometryType::None && meets(g, *frame));
    }

    // Numbers that a geographic system says are degrees must be degrees: a
    // latitude lies within +-90 (longitudes go round).
    void check_degrees(const Feature &f) const {
        const Geometry &g = f.geometry;
        for (size_t i = 0; i < g.x.size(); ++i)
            if (std::fabs(g.y[i]) > 90) {
                char text[96];
                std::snprintf(text, sizeof text, "(%.17g, %.17g)", g.x[i], g.y[i]);
                throw Error(ErrorCode::Invalid, path, place_of(f.id),
                            std::string("the point ") + text + " is no longitude and latitude, which " +
                                coordinates.prj + " says the coordinates are (--no-transform writes them as stored)");
            }
    }

    bool read_record(long recno, std::uint64_t offset, Feature &f) {
        next_offset = decode_at(offset, recno);
        f.id = recno;
        build_geometry(rec, f.geometry, path, recno);
        f.deleted = values(recno, f.values);
        return true;
    }

    bool next(Feature &f) {
        for (;;) {
            const long recno = next_recno;
            if (!shp) {
                if (recno >= numrecs) return end();
                ++next_recno;
                f.id = recno;
                f.geometry.clear();
                f.deleted = values(recno, f.values);
                if ((f.deleted && !options.deleted) || frame || rectangle) continue;
                return true;
            }
            std::uint64_t offset = next_offset;
            if (shx) {
                if (recno >= shx_count) return end();
                offset = listed_offset(recno);
            } else if (offset + 8 > shp_end) {
                return end();
            }
            ++next_recno;
            read_record(recno, offset, f);
            if (f.deleted && !options.deleted) continue;
            if (settle(f)) return true;
        }
    }

    bool end() {
        left_out.finish(warn, path);
        return false;
    }
};

ShapefileReader::ShapefileReader(const std::string &path, ShapefileOptions options) : impl_(std::make_unique<Impl>()) {
    Impl &d = *impl_;
    d.options = std::move(options);
    d.path = path;
    d.warn = d.options.warn;
    if (d.options.box) d.frame = geo::frame_of(*d.options.box);
    if (const auto &r = d.options.rectangle) d.rectangle = geo::Frame{r->xmin, r->xmax, r->ymin, r->ymax};
    const bool table_only = path.size() >= 4 && (path.compare(path.size() - 4, 4, ".dbf") == 0 ||
                                                 path.compare(path.size() - 4, 4, ".DBF") == 0);
    if (table_only) {
        d.open_table(path);
        return;
    }
    d.open_main(path);
    if (d.options.attributes) {
        const std::string table = !d.options.dbf.empty() ? d.options.dbf : file_beside(path, {".dbf", ".DBF"});
        if (!table.empty()) d.open_table(table);
    }
    if (d.options.transform) {
        const Extent extent{d.file_header.xmin, d.file_header.ymin, d.file_header.xmax, d.file_header.ymax};
        d.coordinates = coordinates_of(path, d.warn, d.shp ? &extent : nullptr);
    }
    if (!d.coordinates.prj.empty()) d.opened(d.coordinates.prj);
}

ShapefileReader::~ShapefileReader() = default;

const std::vector<Field> &ShapefileReader::fields() const { return impl_->fields; }
long ShapefileReader::record_count() const { return !impl_->shp ? impl_->numrecs : impl_->shx_count; }
bool ShapefileReader::lonlat() const { return impl_->coordinates.lonlat; }
bool ShapefileReader::has_prj() const { return !impl_->coordinates.prj.empty(); }
const std::string &ShapefileReader::encoding() const {
    static const std::string none;
    return impl_->text ? impl_->text->encoding() : none;
}
const std::string &ShapefileReader::path() const { return impl_->path; }
bool ShapefileReader::next(Feature &feature) { return impl_->next(feature); }
bool ShapefileReader::starts_record(std::uint64_t offset) {
    Impl &d = *impl_;
    if (!d.shp) return false;
    if (d.shx && !d.starts_checked) {
        // The offsets listed, when every record they name lies within the
        // file and the last ends where the file ends.
        d.starts_checked = true;
        std::uint64_t end = 100;
        bool fits = true;
        for (long r = 0; r < d.shx_count && fits; ++r) {
            const unsigned char *entry = d.shx->at(100 + 8 * static_cast<std::uint64_t>(r), 8);
            const std::uint64_t at = entry ? 2 * static_cast<std::uint64_t>(big32(entry)) : 0;
            const std::uint64_t length = entry ? 2 * static_cast<std::uint64_t>(big32(entry + 4)) : 0;
            fits = entry && at >= 100 && at + 8 + length <= d.shp->size();
            if (fits) d.starts.push_back(at), end = std::max(end, at + 8 + length);
        }
        if (!fits || end != d.shp->size()) d.starts.clear();
        std::sort(d.starts.begin(), d.starts.end());
    }
    if (!d.starts.empty()) return std::binary_search(d.starts.begin(), d.starts.end(), offset);
    // Records follow a 100-byte header and are whole 16-bit words long.
    if (offset < 100 || offset % 2 != 0 || offset + 12 > d.shp->size()) return false;
    const unsigned char *h = d.shp->at(offset, 12);
    if (!h) return false;
    const std::uint64_t length = 2 * static_cast<std::uint64_t>(big32(h + 4));
    const std::uint32_t type = h[8] | std::uint32_t{h[9]} << 8 | std::uint32_t{h[10]} << 16 |
                               std::uint32_t{h[11]} << 24;
    const std::uint32_t types[] = {0, 1, 3, 5, 8, 11, 13, 15, 18, 21, 23, 25, 28, 31};
    return length >= 4 && offset + 8 + length <= d.shp->size() &&
           std::find(std::begin(types), std::end(types), type) != std::end(types);
}

std::uint64_t ShapefileReader::record_offset() const { return impl_->rec.offset; }
int ShapefileReader::record_shape_type() const { return impl_->rec.shape_type; }

bool ShapefileReader::read(long recno, Feature &feature) {
    Impl &d = *impl_;
    if (recno < 0) return false;
    if (!d.shp) {
        if (recno >= d.numrecs) return false;
        feature.id = recno;
        feature.geometry.clear();
        feature.deleted = d.values(recno, feature.values);
        return true;
    }
    std::uint64_t offset = 100;
    if (d.shx) {
        if (recno >= d.shx_count) return false;
        offset = d.listed_offset(recno);
    } else {
        for (long r = 0; r < recno; ++r) {
            if (offset + 8 > d.shp_end) return false;
            const unsigned char *h = d.shp->at(offset, 8);
            if (!h) return false;
            offset += 8 + 2 * static_cast<std::uint64_t>(big32(h + 4));
        }
        if (offset + 8 > d.shp_end) return false;
    }
    const auto keep = d.frame, keep_rectangle = d.rectangle;
    d.frame.reset(), d.rectangle.reset();
    d.read_record(recno, offset, feature);
    d.settle(feature);
    d.frame = keep, d.rectangle = keep_rectangle;
    return true;
}

void ShapefileReader::feature_of(const ESRISHPRECStr &record, long recno, Feature &feature) {
    Impl &d = *impl_;
    feature.id = recno;
    build_geometry(record, feature.geometry, d.path, recno);
    feature.deleted = d.values(recno, feature.values);
    const auto keep = d.frame, keep_rectangle = d.rectangle;
    d.frame.reset(), d.rectangle.reset();
    d.settle(feature);
    d.frame = keep, d.rectangle = keep_rectangle;
}

void ShapefileReader::seek(long recno) {
    Impl &d = *impl_;
    recno = std::max(recno, 0L);
    if (!d.shp || d.shx) {
        d.next_recno = recno;
        return;
    }
    std::uint64_t offset = 100;
    long r = 0;
    if (recno >= d.next_recno) offset = d.next_offset, r = d.next_recno;
    for (; r < recno && offset + 8 <= d.shp_end; ++r) {
        const unsigned char *h = d.shp->at(offset, 8);
        if (!h) break;
        offset += 8 + 2 * static_cast<std::uint64_t>(big32(h + 4));
    }
    d.next_recno = r;
    d.next_offset = offset;
}

const ShapefileHeader &ShapefileReader::header() const { return impl_->file_header; }

std::string ShapefileReader::coordinate_system() const {
    const Impl &d = *impl_;
    if (!d.shp) return "";
    const std::string prj = file_beside(d.path, {".prj", ".PRJ"});
    if (prj.empty()) return "";
    InputFile file(prj);
    bool whole = false;
    std::string text = file.head(1 << 16, &whole);
    if (!whole) throw Error(ErrorCode::Invalid, prj, "", "longer than 64 KiB, which no coordinate system takes");
    return text;
}

}  // namespace vorpix::features
