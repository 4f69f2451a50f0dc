// vorpix render: one map picture of a box from every layer the library reads:
// a texture underneath, shorelines, borders, rivers and shapes, with a
// graticule and a legend; as SVG, or PNG when asked.
#include "cli.hpp"
#include "commands.hpp"
#include "canvas.hpp"
#include "render_layers.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace vorpix::cli {

namespace {

Box as_box(const geo::Frame &f) { return {f.west, f.east, f.south, f.north}; }

}  // namespace

namespace {

// The pixels kept round a projected map for the labels at its edge.
constexpr double margin = 36;
// Edges longer than this, in degrees, are drawn through points this far
// apart, so that lines that are straight in degrees curve as the
// projection curves them.
constexpr double densify_step = 0.5;

// The points of a line in degrees, edges longer than step cut into steps.
void densified(const geo::Point *points, size_t count, size_t start, size_t n, double step, std::vector<double> &lon,
               std::vector<double> &lat) {
    lon.clear();
    lat.clear();
    lon.reserve(count);
    lat.reserve(count);
    for (size_t k = 0, at = start % n, before = at; k < count; ++k, before = at, at = at + 1 == n ? 0 : at + 1) {
        const geo::Point &p = points[at];
        if (k > 0) {
            const geo::Point &q = points[before];
            const double steps = std::ceil(std::max(std::fabs(p.lon - q.lon), std::fabs(p.lat - q.lat)) / step);
            for (double i = 1; i < steps && steps < 1e6; ++i) {
                lon.push_back(q.lon + (p.lon - q.lon) * (i / steps));
                lat.push_back(q.lat + (p.lat - q.lat) * (i / steps));
            }
        }
        lon.push_back(p.lon);
        lat.push_back(p.lat);
    }
}

// The frame's edge, counter-clockwise from its south-west corner.
Ring frame_edge(const Box &b) { return {{b.west, b.south}, {b.east, b.south}, {b.east, b.north}, {b.west, b.north}}; }

}  // namespace

Picture::Picture(const Box &b, int w, const features::MapProjection &proj)
    : box(as_box(geo::frame_of(b))), width(std::max(16, w)), projection(proj) {
    double h = 0;
    if (projection.plain()) {
        const double span_lon = std::max(box.east - box.west, 1e-9), span_lat = std::max(box.north - box.south, 1e-9);
        h = std::max(16.0, std::round(width * span_lat / span_lon));
    } else {
        // The map's extent is that of its edge.
        const Ring edge = frame_edge(box);
        std::vector<double> lon, lat;
        densified(edge.data(), edge.size() + 1, 0, edge.size(), densify_step, lon, lat);
        projection.forward(lon.data(), lat.data(), lon.size());
        double x0 = INFINITY, x1 = -INFINITY, y0 = INFINITY, y1 = -INFINITY;
        for (size_t i = 0; i < lon.size(); ++i) {
            if (!std::isfinite(lon[i]) || !std::isfinite(lat[i])) continue;
            x0 = std::min(x0, lon[i]), x1 = std::max(x1, lon[i]), y0 = std::min(y0, lat[i]), y1 = std::max(y1, lat[i]);
        }
        if (!(x1 > x0) || !(y1 > y0)) throw UsageError("the box is too small to draw in " + projection.name());
        scale = (width - 2 * margin) / (x1 - x0);
        h = std::round((y1 - y0) * scale + 2 * margin);
        left = x0 - margin / scale;
        top = y1 + margin / scale;
    }
    if (!(h * width <= max_pixels))
        throw UsageError("the box and width make a picture of " + std::to_string(width) + " x " +
                         (h < 1e15 ? std::to_string(static_cast<long long>(h)) : std::string("too many")) +
                         " pixels; at most " + std::to_string(max_pixels) + " are drawn");
    height = static_cast<int>(h);
}

double Picture::x(double lon) const { return (lon - box.west) / (box.east - box.west) * width; }
double Picture::y(double lat) const { return (box.north - lat) / (box.north - box.south) * height; }

void Picture::pixels_of(std::vector<double> &lon, std::vector<double> &lat) const {
    if (projection.plain()) {
        for (size_t i = 0; i < lon.size(); ++i) lon[i] = x(lon[i]), lat[i] = y(lat[i]);
        return;
    }
    projection.forward(lon.data(), lat.data(), lon.size());
    for (size_t i = 0; i < lon.size(); ++i) lon[i] = (lon[i] - left) * scale, lat[i] = (top - lat[i]) * scale;
}

namespace {

std::uint32_t darker(std::uint32_t argb) {
    auto shade = [argb](int shift) { return ((argb >> shift) & 255) * 3 / 5 << shift; };
    return 0xff000000u | shade(16) | shade(8) | shade(0);
}

}  // namespace

bool same_look(const Op &a, const Op &b) {
    return a.kind == b.kind && a.colour == b.colour && a.width == b.width && a.outline == b.outline && a.dash == b.dash;
}

PathStyle fill_style(const Op &op) {
    return {op.colour, op.outline ? op.outline : darker(op.colour), op.width > 0 ? op.width : 0.6, 0};
}

void Picture::add_legend(const std::string &label, std::uint32_t colour, bool line) {
    Op model{line ? Op::Stroke : Op::Fill, {}, colour, line ? 2.0 : 0.0, {}, 0, 0, ""};
    add_legend(label, line ? PathStyle{0, colour, 2, 0} : fill_style(model), line);
}

void Picture::add_legend(const std::string &label, const PathStyle &style, bool line) {
    for (const auto &entry : legend)
        if (entry.label == label) return;
    legend.push_back({label, style, line});
}

Progress::Progress(bool to_terminal) : enabled_(to_terminal && ::isatty(2) != 0) {}

void Progress::say(const std::string &what) {
    if (!enabled_) return;
    std::fprintf(stderr, "\rvorpix render: %-60s", what.c_str());
    std::fflush(stderr);
    shown_ = true;
}

Progress::~Progress() {
    if (shown_) std::fprintf(stderr, "\r%-76s\r", "");
}

namespace {

constexpr std::uint32_t ink = 0xff202020u, halo = 0xd0ffffffu, graticule_colour = 0x70404040u;
// Without shorelines there is no telling sea from land: the map is drawn on paper.
constexpr std::uint32_t paper = 0xfff4f1e8u;

// Points closer than this to the last one kept add nothing a reader can see
// (pixels, summed across and down); lines drawn over fills hide a little more.
constexpr double fill_tolerance = 0.3, line_tolerance = 0.5;
// A shoreline smaller than this across and down is drawn as a dot of its colour.
constexpr double dot_size = 1.5;

// The points ring[(start + k) % size] for k below count, in pixels; in a
// projection, long edges are drawn through points between their ends.
PixelPath to_pixels(const Picture &pic, const Ring &ring, size_t start, size_t count, double tolerance) {
    PixelPath out;
    const size_t n = ring.size();
    if (n == 0) return out;
    // Kept points gather in a buffer of the thread's, and the path takes as
    // many as were kept: a run of paths drawn at once holds only what it draws.
    thread_local PixelPath kept;
    kept.clear();
    auto keep = [&](double x, double y, bool last) {
        if (kept.empty() || last || !(std::fabs(x - kept.back().first) + std::fabs(y - kept.back().second) < tolerance))
            kept.emplace_back(x, y);
    };
    if (pic.projected()) {
        thread_local std::vector<double> lon, lat;
        densified(ring.data(), count, start, n, densify_step, lon, lat);
        pic.pixels_of(lon, lat);
        for (size_t k = 0; k < lon.size(); ++k) keep(lon[k], lat[k], k + 1 == lon.size());
    } else {
        // Straight in degrees is straight in pixels: no points between.
        for (size_t k = 0, at = start % n; k < count; ++k, at = at + 1 == n ? 0 : at + 1)
            keep(pic.x(ring[at].lon), pic.y(ring[at].lat), k + 1 == count);
    }
    out.assign(kept.begin(), kept.end());
    return out;
}

// A line's points in pixels, or a ring's: in a projection with the points
// of its closing edge too, which may curve.
PixelPath to_pixels(const Picture &pic, const Ring &ring, bool closed, double tolerance) {
    return to_pixels(pic, ring, 0, ring.size() + (closed && pic.projected() && !ring.empty() ? 1 : 0), tolerance);
}

bool is_dot(const PixelPath &path) {
    double x0 = INFINITY, x1 = -INFINITY, y0 = INFINITY, y1 = -INFINITY;
    for (const auto &[x, y] : path)
        x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
    return x1 - x0 < dot_size && y1 - y0 < dot_size;
}

// Whether the edge from ring[i] to the next point runs along the frame's
// border: not coast, but where the clip cut the fill.
bool on_border(const Box &b, const Ring &ring, size_t i) {
    const size_t n = ring.size();
    const geo::Point &p = ring[i % n], &q = ring[(i + 1) % n];
    return (p.lon == q.lon && (p.lon == b.west || p.lon == b.east)) ||
           (p.lat == q.lat && (p.lat == b.south || p.lat == b.north));
}

// The shoreline of a fill that the frame cut, in pixels: its runs of edges
// that are not on the border, from the border edge start on.
void add_coast(const Picture &pic, const Ring &ring, size_t start, std::vector<PixelPath> &lines) {
    const size_t n = ring.size();
    size_t first = 0, count = 0;  // the run of coast: vertices from first on
    for (size_t i = start + 1; i <= start + n; ++i) {
        if (on_border(pic.box, ring, i)) {
            if (count > 1) lines.push_back(to_pixels(pic, ring, first, count, line_tolerance));
            count = 0;
        } else {
            if (count == 0) first = i % n, count = 1;
            ++count;
        }
    }
    if (count > 1) lines.push_back(to_pixels(pic, ring, first, count, line_tolerance));
}

// A run of ops that look alike is drawn in one call per part, which costs a
// renderer far less than one call per op. A fill's rings that are coast all
// round are filled and outlined as one path, whose outline hides the edge of
// the fill; those that the frame cut are filled, then their coast drawn;
// rings too small to outline are filled and drawn over as dots.
void draw_run(const Picture &pic, std::vector<Op>::const_iterator first, std::vector<Op>::const_iterator last,
              Canvas &canvas) {
    const Op &op = *first;
    if (op.kind == Op::Image) {
        const Ring &r = op.rings.at(0);
        canvas.image(op.image.data(), op.image_width, op.image_height, pic.x(r[0].lon), pic.y(r[1].lat),
                     pic.x(r[1].lon), pic.y(r[0].lat));
        return;
    }
    if (op.kind == Op::Stroke) {
        std::vector<PixelPath> paths;
        for (auto it = first; it != last; ++it)
            for (const auto &line : it->rings) paths.push_back(to_pixels(pic, line, false, line_tolerance));
        canvas.path(paths, false, {0, op.colour, op.width, op.dash});
        return;
    }
    const PathStyle style = fill_style(op);
    std::vector<PixelPath> outlined, filled, coast, dots;
    for (auto it = first; it != last; ++it)
        for (const auto &ring : it->rings) {
            const size_t n = ring.size();
            size_t start = 0;  // the first edge on the border
            while (start < n && !on_border(pic.box, ring, start)) ++start;
            if (start == n && n >= 2) {
                PixelPath outline = to_pixels(pic, ring, true, line_tolerance);
                if (!is_dot(outline)) {
                    outlined.push_back(std::move(outline));
                    continue;
                }
                dots.push_back(std::move(outline));
            }
            filled.push_back(to_pixels(pic, ring, true, fill_tolerance));
            if (start < n) add_coast(pic, ring, start, coast);
        }
    auto draw = [&canvas](const std::vector<PixelPath> &paths, bool closed, const PathStyle &look) {
        if (!paths.empty()) canvas.path(paths, closed, look);
    };
    draw(filled, true, {style.fill, 0, 0, 0});
    draw(outlined, true, style);
    draw(coast, false, {0, style.stroke, style.width, 0});
    draw(dots, true, {style.stroke, 0, 0, 0});
}

// Layers come in their own longitudes; each fill and line is clipped to the
// frame, with its copies a whole turn away, before it is drawn.
void frame_ops(Picture &pic) {
    const geo::Frame frame{pic.box.west, pic.box.east, pic.box.south, pic.box.north};
    std::vector<Op> framed;
    framed.reserve(pic.ops.size());
    for (auto &op : pic.ops) {
        if (op.framed || op.kind == Op::Image) {
            framed.push_back(std::move(op));
            continue;
        }
        const std::vector<Ring> rings = std::move(op.rings);
        Op model = std::move(op);
        model.rings.clear();
        model.framed = true;
        if (model.kind == Op::Fill) {
            for (auto &polygon : geo::clip_polygon(rings, frame)) {
                framed.push_back(model);
                framed.back().rings = std::move(polygon);
            }
        } else {
            for (const auto &line : rings)
                for (auto &part : geo::clip_line(line, frame)) model.rings.push_back(std::move(part));
            if (!model.rings.empty()) framed.push_back(std::move(model));
        }
    }
    pic.ops = std::move(framed);
}

double graticule_step(double span) {
    for (double step : {0.1, 0.2, 0.25, 0.5, 1.0, 2.0, 5.0, 10.0, 15.0, 30.0})
        if (span / step <= 12) return step;
    return 60;
}

double graticule_step(const Box &box) { return graticule_step(std::max(box.east - box.west, box.north - box.south)); }

// The multiples of step from low to high.
std::vector<double> multiples(double low, double high, double step) {
    std::vector<double> out;
    for (double k = std::ceil(low / step - 1e-9); k * step <= high + 1e-9 * step; ++k) out.push_back(k * step);
    return out;
}

// Degrees as people write them: longitudes within 180 of Greenwich.
std::string longitude_label(double lon) {
    double v = std::remainder(lon, 360);
    if (std::fabs(v) < 1e-9) v = 0;
    char buffer[32];
    if (v == 0 || std::fabs(v) == 180) std::snprintf(buffer, sizeof buffer, "%g°", std::fabs(v));
    else std::snprintf(buffer, sizeof buffer, "%g°%c", std::fabs(v), v < 0 ? 'W' : 'E');
    return buffer;
}

std::string latitude_label(double lat) {
    char buffer[32];
    if (std::fabs(lat) < 1e-9) return "0°";
    std::snprintf(buffer, sizeof buffer, "%g°%c", std::fabs(lat), lat < 0 ? 'S' : 'N');
    return buffer;
}

// Clear of the longitude labels and the top edge.
bool latitude_label_shown(const Picture &pic, double lat) {
    const double y = pic.y(lat) + 4;
    return y <= pic.height - 5.0 - 14 && y >= 12;
}

void draw_graticule(const Picture &pic, Canvas &canvas) {
    const double step = graticule_step(pic.box);
    const Box &b = pic.box;
    const auto lons = multiples(b.west, b.east, step), lats = multiples(b.south, b.north, step);
    std::vector<PixelPath> lines;
    lines.reserve(lons.size() + lats.size());
    for (const double lon : lons) lines.push_back({{pic.x(lon), 0.0}, {pic.x(lon), double(pic.height)}});
    for (const double lat : lats) lines.push_back({{0.0, pic.y(lat)}, {double(pic.width), pic.y(lat)}});
    canvas.path(lines, false, {0, graticule_colour, 0.6, 0});

    TextStyle style;
    style.size = 11;
    style.colour = ink;
    style.halo = halo;
    style.anchor = Anchor::Middle;
    const double bottom = pic.height - 5.0;
    for (const double lon : lons) {
        const std::string label = longitude_label(lon);
        const double half = text_width(label, style) / 2 + 2;
        canvas.text(std::clamp(pic.x(lon), half, pic.width - half), bottom, label, style);
    }
    style.anchor = Anchor::Start;
    for (const double lat : lats)
        if (latitude_label_shown(pic, lat)) canvas.text(4, pic.y(lat) + 4, latitude_label(lat), style);
}

std::pair<double, double> pixel_of(const Picture &pic, double lon, double lat) {
    std::vector<double> x{lon}, y{lat};
    pic.pixels_of(x, y);
    return {x[0], y[0]};
}

double distance(const std::pair<double, double> &a, const std::pair<double, double> &b) {
    return std::hypot(a.first - b.first, a.second - b.second);
}

// Whether the frame's west and east edges fall on one line of the map (a
// polar map's seam), so that neither is an edge of the map.
bool seamed(const Picture &pic) {
    const Box &b = pic.box;
    for (const double lat : {b.south, (b.south + b.north) / 2, b.north})
        if (distance(pixel_of(pic, b.west, lat), pixel_of(pic, b.east, lat)) >= 1) return false;
    return true;
}

// The edge of a projected map, without its seam.
void draw_map_edge(const Picture &pic, Canvas &canvas) {
    const Box &b = pic.box;
    std::vector<PixelPath> sides;
    sides.push_back(to_pixels(pic, {{b.west, b.south}, {b.east, b.south}}, false, 0.3));
    sides.push_back(to_pixels(pic, {{b.east, b.north}, {b.west, b.north}}, false, 0.3));
    if (!seamed(pic)) {
        sides.push_back(to_pixels(pic, {{b.east, b.south}, {b.east, b.north}}, false, 0.3));
        sides.push_back(to_pixels(pic, {{b.west, b.north}, {b.west, b.south}}, false, 0.3));
    }
    canvas.path(sides, false, {0, 0xff606060u, 0.8, 0});
}

// The graticule of a projected map: meridians and parallels as the
// projection curves them, meridians labelled round a polar map's rim or
// below a world map, parallels beside its west edge or along a polar
// map's lowest meridian.
void draw_projected_graticule(const Picture &pic, Canvas &canvas) {
    const Box &b = pic.box;
    const double lon_step = graticule_step(b.east - b.west), lat_step = graticule_step(b.north - b.south);
    const bool round = seamed(pic);
    std::vector<double> lons = multiples(b.west, b.east, lon_step);
    if (round && !lons.empty() && lons.back() - lons.front() >= 360 - 1e-9) lons.pop_back();  // one line at the seam
    std::vector<double> lats;
    for (const double lat : multiples(b.south, b.north, lat_step))
        if (std::fabs(lat) < 90 - 1e-9) lats.push_back(lat);
    std::vector<PixelPath> lines;
    lines.reserve(lons.size() + lats.size());
    for (const double lon : lons) lines.push_back(to_pixels(pic, {{lon, b.south}, {lon, b.north}}, false, 0.5));
    for (const double lat : lats) lines.push_back(to_pixels(pic, {{b.west, lat}, {b.east, lat}}, false, 0.5));
    canvas.path(lines, false, {0, graticule_colour, 0.6, 0});

    TextStyle style;
    style.size = 11;
    style.colour = ink;
    style.halo = halo;
    const auto put = [&](std::pair<double, double> at, const std::string &label, Anchor anchor) {
        style.anchor = anchor;
        const double half = text_width(label, style) / 2 + 2;
        const double x = anchor == Anchor::Middle ? std::clamp(at.first, half, pic.width - half) : at.first;
        canvas.text(x, std::clamp(at.second, 12.0, pic.height - 4.0), label, style);
    };
    if (round) {
        const bool south_pole = b.south <= -90 + 1e-9;
        const double rim = south_pole ? b.north : b.south, pole = south_pole ? -90 : 90;
        const auto centre = pixel_of(pic, 0, pole);
        double lowest = b.west + lon_step / 2, lowest_y = -INFINITY;
        for (const double lon : lons) {
            const auto at = pixel_of(pic, lon, rim);
            const double d = std::max(distance(at, centre), 1e-9);
            const double dx = (at.first - centre.first) / d, dy = (at.second - centre.second) / d;
            put({at.first + dx * 14, at.second + dy * 14 + 4}, longitude_label(lon), Anchor::Middle);
            const auto between = pixel_of(pic, lon + lon_step / 2, rim);
            if (between.second > lowest_y) lowest_y = between.second, lowest = lon + lon_step / 2;
        }
        for (const double lat : lats) {
            if (std::fabs(lat - rim) < 1e-9) continue;
            const auto at = pixel_of(pic, lowest, lat);
            put({at.first + 3, at.second + 4}, latitude_label(lat), Anchor::Start);
        }
        return;
    }
    // Meridians are labelled below the map's south edge, or along the
    // equator where that edge is less than half the map's width (a world
    // map whose poles are points).
    const double south_edge = std::fabs(pixel_of(pic, b.east, b.south).first - pixel_of(pic, b.west, b.south).first);
    const bool on_equator = south_edge < (pic.width - 2 * margin) / 2 && b.south < 0 && b.north > 0;
    const double along = on_equator ? 0 : b.south;
    // Every k-th meridian where the labels would otherwise overlap.
    size_t every = 1;
    for (bool fits = false; !fits && every < lons.size(); every += fits ? 0 : 1) {
        fits = true;
        for (size_t i = every; i < lons.size() && fits; i += every)
            fits = distance(pixel_of(pic, lons[i - every], along), pixel_of(pic, lons[i], along)) >=
                   text_width(longitude_label(lons[i]), style) + 6;
    }
    for (size_t i = 0; i < lons.size(); i += every) {
        const auto at = pixel_of(pic, lons[i], along);
        put({at.first, at.second + 15}, longitude_label(lons[i]), Anchor::Middle);
    }
    for (const double lat : lats) {
        if (on_equator && lat == 0) continue;  // where the meridians are labelled
        const auto at = pixel_of(pic, b.west, lat);
        put({at.first - 5, at.second + 4}, latitude_label(lat), Anchor::End);
    }
}

// A rectangle in pixels, x0 < x1 and y0 < y1.
struct Rect {
    double x0, y0, x1, y1;
    bool meets(const Rect &o) const { return x0 < o.x1 && o.x0 < x1 && y0 < o.y1 && o.y0 < y1; }
};

Rect bounds(const PixelPath &path) {
    Rect r{INFINITY, INFINITY, -INFINITY, -INFINITY};
    for (const auto &[x, y] : path)
        r.x0 = std::min(r.x0, x), r.y0 = std::min(r.y0, y), r.x1 = std::max(r.x1, x), r.y1 = std::max(r.y1, y);
    return r;
}

// The same box as bounds() of the ring in pixels on the plain grid, whose
// pixels grow with longitude and shrink with latitude.
Rect grid_bounds(const Picture &pic, const Ring &ring) {
    double west = INFINITY, east = -INFINITY, south = INFINITY, north = -INFINITY;
    for (const geo::Point &p : ring)
        west = std::min(west, p.lon), east = std::max(east, p.lon), south = std::min(south, p.lat),
        north = std::max(north, p.lat);
    return ring.empty() ? bounds({}) : Rect{pic.x(west), pic.y(north), pic.x(east), pic.y(south)};
}

double area2(const PixelPath &ring) {
    double sum = 0;
    for (size_t i = 0, n = ring.size(); i < n; ++i) {
        const auto &p = ring[i], &q = ring[(i + 1) % n];
        sum += p.first * q.second - q.first * p.second;
    }
    return sum;
}

// Twice the signed area of the part of a ring inside r. Clipping by each
// side in turn is exact for a convex window: what it leaves beyond a simple
// polygon's part are edges along the sides, which enclose nothing.
double area2_inside(PixelPath ring, const Rect &r) {
    PixelPath kept;
    auto clip = [&](bool along_x, double at, bool keep_below) {
        kept.clear();
        auto coordinate = [&](const std::pair<double, double> &p) { return along_x ? p.first : p.second; };
        auto inside = [&](const std::pair<double, double> &p) {
            return keep_below ? coordinate(p) <= at : coordinate(p) >= at;
        };
        for (size_t i = 0, n = ring.size(); i < n; ++i) {
            const auto &p = ring[i], &q = ring[(i + 1) % n];
            if (inside(p)) kept.push_back(p);
            if (inside(p) != inside(q)) {
                const double t = (at - coordinate(p)) / (coordinate(q) - coordinate(p));
                kept.emplace_back(p.first + t * (q.first - p.first), p.second + t * (q.second - p.second));
            }
        }
        ring.swap(kept);
    };
    clip(true, r.x0, false);
    clip(true, r.x1, true);
    clip(false, r.y0, false);
    clip(false, r.y1, true);
    return area2(ring);
}

double length_inside(std::pair<double, double> p, std::pair<double, double> q, const Rect &r) {
    const double dx = q.first - p.first, dy = q.second - p.second;
    double t0 = 0, t1 = 1;
    const double ends[4][2] = {
        {-dx, p.first - r.x0}, {dx, r.x1 - p.first}, {-dy, p.second - r.y0}, {dy, r.y1 - p.second}};
    for (const auto &[along, room] : ends) {
        if (along == 0) {
            if (room < 0) return 0;
        } else if (along < 0) {
            t0 = std::max(t0, room / along);
        } else {
            t1 = std::min(t1, room / along);
        }
    }
    return t1 > t0 ? (t1 - t0) * std::hypot(dx, dy) : 0;
}

// What the layers put inside a rectangle: the area of their fills (land,
// lakes, shapes) in square pixels, and the length of their lines in pixels.
struct Covered {
    double fill = 0, lines = 0;
};

std::vector<Covered> covered(const Picture &pic, const std::vector<Rect> &rects) {
    std::vector<Covered> out(rects.size());
    std::vector<double> op_area(rects.size());
    auto cover = [&](const Op &op) {
        if (op.kind == Op::Image) return;
        std::fill(op_area.begin(), op_area.end(), 0.0);
        for (const Ring &ring : op.rings) {
            // On the plain grid a ring's box in pixels is that of its box in
            // degrees, and most rings are far from every corner: those are
            // not taken to pixels at all.
            if (!pic.projected()) {
                const Rect box = grid_bounds(pic, ring);
                if (std::none_of(rects.begin(), rects.end(), [&box](const Rect &r) { return box.meets(r); })) continue;
            }
            const PixelPath path = to_pixels(pic, ring, op.kind == Op::Fill, 0);
            const Rect box = bounds(path);
            for (size_t k = 0; k < rects.size(); ++k) {
                if (!box.meets(rects[k])) continue;
                if (op.kind == Op::Fill) {
                    op_area[k] += area2_inside(path, rects[k]);
                } else {
                    for (size_t i = 1; i < path.size(); ++i)
                        out[k].lines += length_inside(path[i - 1], path[i], rects[k]);
                }
            }
        }
        // A fill's rings are its polygons' exteriors and their holes, turning
        // opposite ways, so that their signed areas sum to what it covers.
        for (size_t k = 0; k < rects.size(); ++k) out[k].fill += std::fabs(op_area[k]) / 2;
    };
    for (const Op &op : pic.ops) cover(op);
    for (const auto &stream : pic.streamed) stream([&](Op &&op) { cover(op); });
    return out;
}

constexpr double legend_pad = 8, legend_row = 20, legend_swatch = 26, legend_gap = 18;

TextStyle legend_text() {
    TextStyle style;
    style.size = 12;
    style.colour = ink;
    return style;
}

double entry_width(const LegendEntry &e) { return legend_swatch + legend_pad + text_width(e.label, legend_text()); }

// The entries of a legend laid out below the map, row by row across its
// width: the first entry of each row and the row's width.
struct StripRow {
    size_t first, count;
    double width;
};

std::vector<StripRow> strip_rows(const Picture &pic) {
    std::vector<StripRow> rows;
    for (size_t i = 0; i < pic.legend.size(); ++i) {
        const double w = entry_width(pic.legend[i]);
        if (rows.empty() || rows.back().width + legend_gap + w > pic.width - 2 * legend_pad) rows.push_back({i, 1, w});
        else rows.back().count += 1, rows.back().width += legend_gap + w;
    }
    return rows;
}

struct LegendSpot {
    LegendPlace place = LegendPlace::None;
    Rect rect{0, 0, 0, 0};
    double strip = 0;  // the height added below the map
};

// The latitude labels run down the left edge, the longitude labels along
// the bottom: a legend in a corner keeps clear of them.
LegendSpot place_legend(const Picture &pic, bool graticule, LegendPlace wanted) {
    LegendSpot spot;
    if (pic.legend.empty() || wanted == LegendPlace::None) return spot;
    if (wanted == LegendPlace::Below) {
        spot.place = wanted;
        spot.strip = std::ceil(legend_pad + legend_row * strip_rows(pic).size() + legend_pad / 2);
        spot.rect = {0, double(pic.height), double(pic.width), pic.height + spot.strip};
        return spot;
    }
    double widest = 0;
    for (const auto &e : pic.legend) widest = std::max(widest, entry_width(e));
    const double w = legend_pad + widest + legend_pad, h = legend_pad + legend_row * pic.legend.size() + legend_pad / 2;
    double left = 10, bottom = 10;
    if (graticule && !pic.projected()) {
        TextStyle label;
        label.size = 11;
        for (const double lat : multiples(pic.box.south, pic.box.north, graticule_step(pic.box)))
            if (latitude_label_shown(pic, lat)) left = std::max(left, 4 + text_width(latitude_label(lat), label) + 6);
        bottom = 22;
    }
    auto corner = [&](LegendPlace place) {
        const bool is_left = place == LegendPlace::TopLeft || place == LegendPlace::BottomLeft;
        const bool is_top = place == LegendPlace::TopLeft || place == LegendPlace::TopRight;
        const double x0 = is_left ? left : pic.width - 10 - w, y0 = is_top ? 10 : pic.height - bottom - h;
        return Rect{x0, y0, x0 + w, y0 + h};
    };
    if (wanted != LegendPlace::Auto) {
        spot.place = wanted;
        spot.rect = corner(wanted);
        return spot;
    }
    const LegendPlace corners[] = {LegendPlace::TopRight, LegendPlace::TopLeft, LegendPlace::BottomRight,
                                   LegendPlace::BottomLeft};
    std::vector<Rect> around;  // each corner's box with a margin for outlines and antialiasing
    for (const LegendPlace place : corners) {
        const Rect r = corner(place);
        around.push_back({r.x0 - 3, r.y0 - 3, r.x1 + 3, r.y1 + 3});
    }
    const auto found = covered(pic, around);
    double fewest_lines = INFINITY;
    for (size_t k = 0; k < around.size(); ++k) {
        const Rect &r = around[k];
        if (r.x0 < 0 || r.y0 < 0 || r.x1 > pic.width || r.y1 > pic.height || found[k].fill > 0) continue;
        if (found[k].lines < fewest_lines) fewest_lines = found[k].lines, spot.place = corners[k];
    }
    if (spot.place == LegendPlace::None) return place_legend(pic, graticule, LegendPlace::Below);
    spot.rect = corner(spot.place);
    return spot;
}

void draw_entry(const LegendEntry &e, double left, double top, Canvas &canvas) {
    const double middle = top + legend_row / 2 - 2;
    if (e.line) canvas.path({{{left, middle}, {left + legend_swatch, middle}}}, false, e.style);
    else
        canvas.path({{{left, middle - 6},
                      {left + legend_swatch, middle - 6},
                      {left + legend_swatch, middle + 6},
                      {left, middle + 6}}},
                    true, e.style);
    canvas.text(left + legend_swatch + legend_pad, middle + 4.5, e.label, legend_text());
}

void draw_legend(const Picture &pic, const LegendSpot &spot, Canvas &canvas) {
    if (spot.place == LegendPlace::None) return;
    const Rect &r = spot.rect;
    if (spot.place == LegendPlace::Below) {
        // Over the map's edge, which lines drawn to the frame may overreach a little.
        canvas.path({{{r.x0, r.y0}, {r.x1, r.y0}, {r.x1, r.y1}, {r.x0, r.y1}}}, true, {0xffffffffu, 0, 0, 0});
        canvas.path({{{r.x0, r.y0 + 0.5}, {r.x1, r.y0 + 0.5}}}, false, {0, 0xff808080u, 1, 0});
        double top = r.y0 + legend_pad;
        for (const StripRow &row : strip_rows(pic)) {
            double left = (pic.width - row.width) / 2;
            for (size_t i = row.first; i < row.first + row.count; ++i) {
                draw_entry(pic.legend[i], left, top, canvas);
                left += entry_width(pic.legend[i]) + legend_gap;
            }
            top += legend_row;
        }
        return;
    }
    canvas.path({{{r.x0, r.y0}, {r.x1, r.y0}, {r.x1, r.y1}, {r.x0, r.y1}}}, true, {0xe6ffffffu, 0xff808080u, 1, 0});
    for (size_t i = 0; i < pic.legend.size(); ++i)
        draw_entry(pic.legend[i], r.x0 + legend_pad, r.y0 + legend_pad + legend_row * i, canvas);
}

LegendPlace parse_legend_place(const std::string &word) {
    static const std::pair<const char *, LegendPlace> words[] = {{"auto", LegendPlace::Auto},
                                                                 {"none", LegendPlace::None},
                                                                 {"top-right", LegendPlace::TopRight},
                                                                 {"top-left", LegendPlace::TopLeft},
                                                                 {"bottom-right", LegendPlace::BottomRight},
                                                                 {"bottom-left", LegendPlace::BottomLeft},
                                                                 {"below", LegendPlace::Below}};
    for (const auto &[name, place] : words)
        if (word == name) return place;
    throw UsageError("--legend is auto, none, top-left, top-right, bottom-left, bottom-right or below, not \"" + word +
                     "\"");
}

int run_render(int argc, char **argv) {
    Args args(argc, argv,
              {"box", "proj", "res", "line-res", "shapes", "texture", "width", "o", "kinds", "antarctica", "legend"});
    args.allow_flags({"png", "svg", "borders", "rivers", "no-coast", "no-graticule"});
    if (!args.positional().empty()) throw UsageError("unexpected argument \"" + args.positional()[0] + "\"");
    RenderRequest request;
    try {
        if (args.has("proj")) request.projection = features::MapProjection(args.get("proj"));
        request.box = request.projection.checked_box(args.has("box") ? parse_box(args.get("box"))
                                                                     : request.projection.default_box());
    } catch (const features::Error &e) {
        throw UsageError(e.what());
    }
    const long width = args.integer("width", 1200);
    if (width < 16 || width > 20000) throw UsageError("--width wants 16 to 20000 pixels");
    request.width = static_cast<int>(width);
    request.res = parse_resolution(args.get("res", "l"), "--res");
    if (args.has("line-res")) request.line_res = parse_resolution(args.get("line-res"), "--line-res");
    request.kinds = args.get("kinds", "f:0");
    check_kinds(request.kinds, KindSet::Shorelines);
    const std::string outline = args.get("antarctica", "ice-front");
    request.grounding_line = outline == "both";
    request.antarctica = parse_antarctica(request.grounding_line ? "ice-front" : outline);
    request.coast = !args.flag("no-coast");
    request.borders = args.flag("borders");
    request.rivers = args.flag("rivers");
    request.graticule = !args.flag("no-graticule");
    request.shapes = args.get("shapes");
    request.texture = args.get("texture");
    if (!request.texture.empty() && !request.projection.plain())
        throw UsageError("a texture is drawn on the plain longitude-latitude grid only, not in --proj " +
                         request.projection.name());
    request.legend = parse_legend_place(args.get("legend", "auto"));
    Progress progress;
    Output out(args.get("o"));
    render_map(request, choose_format(args, {Format::Svg, Format::Png}) == Format::Png, progress,
               [&out](const char *data, std::size_t size) { out.append(data, size); });
    out.commit();
    return 0;
}

}  // namespace

Picture compose(const RenderRequest &request, Progress &progress) {
    Picture pic(request.box, request.width, request.projection);
    if (!request.coast) pic.background = paper;
    if (!request.texture.empty()) add_texture_layer(pic, request.texture, progress);
    if (request.coast) add_coast_layer(pic, request.res, request.kinds, request.antarctica, progress);
    if (request.coast && request.grounding_line) add_grounding_line(pic, request.res, progress);
    const std::string &line_res = request.line_res.empty() ? request.res : request.line_res;
    if (request.rivers) add_line_layer(pic, true, request.river_kinds, line_res, progress);
    if (request.borders) add_line_layer(pic, false, request.border_kinds, line_res, progress);
    if (!request.shapes.empty()) add_shape_layer(pic, request.shapes, progress);
    frame_ops(pic);
    return pic;
}

std::string draw(const Picture &pic, bool graticule, bool png, LegendPlace legend, const Sink &sink) {
    const LegendSpot spot = place_legend(pic, graticule, legend);
    const int height = pic.height + static_cast<int>(spot.strip);
    auto canvas = png ? png_canvas(pic.width, height, sink) : svg_canvas(pic.width, height, sink);
    const double w = pic.width, h = pic.height;
    if (pic.projected()) {
        // Beyond the map's edge lies the page.
        canvas->path({{{0, 0}, {w, 0}, {w, h}, {0, h}}}, true, {0xffffffffu, 0, 0, 0});
        canvas->path({to_pixels(pic, frame_edge(pic.box), true, 0.3)}, true, {pic.background, 0, 0, 0});
    } else {
        canvas->path({{{0, 0}, {w, 0}, {w, h}, {0, h}}}, true, {pic.background, 0, 0, 0});
    }
    for (auto first = pic.ops.cbegin(); first != pic.ops.cend();) {
        auto last = first + 1;
        if (first->kind != Op::Image)
            while (last != pic.ops.cend() && same_look(*first, *last)) ++last;
        draw_run(pic, first, last, *canvas);
        first = last;
    }
    // Streamed ops are drawn as they come, alike ones together up to a
    // bounded number of points.
    for (const auto &stream : pic.streamed) {
        std::vector<Op> run;
        size_t points = 0;
        const auto flush = [&] {
            if (!run.empty()) draw_run(pic, run.cbegin(), run.cend(), *canvas);
            run.clear();
            points = 0;
        };
        stream([&](Op &&op) {
            if (!run.empty() && (op.kind == Op::Image || !same_look(run.front(), op) || points > 100'000)) flush();
            for (const Ring &ring : op.rings) points += ring.size();
            run.push_back(std::move(op));
            if (run.front().kind == Op::Image) flush();
        });
        flush();
    }
    if (graticule) (pic.projected() ? draw_projected_graticule : draw_graticule)(pic, *canvas);
    if (pic.projected()) draw_map_edge(pic, *canvas);
    draw_legend(pic, spot, *canvas);
    return canvas->finish();
}

std::string render_map(const RenderRequest &request, bool png, Progress &progress, const Sink &sink) {
    const Picture pic = compose(request, progress);
    progress.say("drawing");
    return draw(pic, request.graticule, png, request.legend, sink);
}

const Command render_command{"render", "one map picture of a box from every layer, as SVG or PNG",
                             "usage: vorpix render [--box W/E/S/N] [--proj NAME] [--res RES] [--line-res RES]\n"
                             "                     [--kinds KINDS]\n"
                             "                     [--antarctica OUTLINE]\n"
                             "                     [--borders] [--rivers]\n"
                             "                     [--shapes FILE.shp] [--texture FILE.dds] [--width PIXELS]\n"
                             "                     [--no-coast] [--no-graticule] [--legend PLACE] [--svg | --png]\n"
                             "                     [-o OUT]\n\n"
                             "Draws the box (default the whole world) in its own frame: a box from 160\n"
                             "to 200, or from 160 to -160, runs east across 180, and every layer is\n"
                             "clipped to it exactly, with its copies a whole turn away. From the bottom\n"
                             "up: the sea, a DDS texture covering the whole world (plate carree, 180W to\n"
                             "180E), land with its lakes, islands in lakes and ponds over it, rivers,\n"
                             "borders, the shapes of a shapefile, then a graticule labelled in degrees\n"
                             "east and west of Greenwich and a legend naming every layer. The SVG and\n"
                             "the PNG show the same picture and words.\n"
                             "  --proj NAME    the map's projection (PROJ does the arithmetic): lonlat (the\n"
                             "                 default, the plain grid), south-polar[/LAT] and\n"
                             "                 north-polar[/LAT] (stereographic out to LAT, default 50),\n"
                             "                 laea/LON/LAT (Lambert azimuthal equal-area), mollweide[/LON],\n"
                             "                 robinson[/LON], equal-earth[/LON], mercator[/LON] (world maps\n"
                             "                 centred on LON, cut half a turn from it) or utm/ZONE[s]; each\n"
                             "                 has its own default box, and fills close along the pole or\n"
                             "                 the map's edge\n"
                             "  --res RES      resolution of shorelines, borders and rivers (c l i h f);\n"
                             "                 default l\n"
                             "  --line-res RES resolution of borders and rivers alone; default that of --res\n"
                             "  --kinds KINDS  the shoreline kinds, as for 'vorpix coast'; default f:0\n"
                             "  --antarctica OUTLINE\n"
                             "                 ice-front (default, with the ice shelves), grounding-line, or\n"
                             "                 both: the ice front filled, the grounding line drawn over it\n"
                             "  --width PIXELS the picture's width; its height follows the box; default 1200;\n"
                             "                 a picture holds at most 50000000 pixels\n"
                             "  --legend PLACE where the legend goes: auto (the default) puts it in a corner\n"
                             "                 of the map that holds no land, crossed by the fewest lines,\n"
                             "                 or in a strip below the map when every corner holds land;\n"
                             "                 top-left, top-right, bottom-left, bottom-right or below put\n"
                             "                 it there; none leaves it out\n"
                             "  --svg, --png   write an SVG or a PNG picture (the same map and words); without\n"
                             "                 either, the extension of -o OUT chooses (.svg or .png), else SVG\n"
                             "  -o OUT         write to OUT instead of standard output\n"
                             "Progress is shown on standard error when it is a terminal.\n",
                             run_render};

}  // namespace vorpix::cli
