// GeoJSON and SVG writers shared by the map commands.
#ifndef VORPIX_GEO_OUTPUT_HPP
#define VORPIX_GEO_OUTPUT_HPP

#include "cli.hpp"
#include "geometry.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace vorpix::cli {

// The smallest longitude range, possibly across the antimeridian (west
// greater than east, as RFC 7946 writes it), and the latitude range that
// hold every part added; each part is a run that does not cross 180.
class GeoBBox {
public:
    // Points that are not finite are not held: a box is never written with
    // "nan" or "inf".
    void add(const std::vector<geo::Point> &part) {
        double lo = INFINITY, hi = -INFINITY;
        for (const auto &p : part) {
            if (!std::isfinite(p.lon) || !std::isfinite(p.lat)) continue;
            lo = std::min(lo, p.lon), hi = std::max(hi, p.lon);
            south_ = std::min(south_, p.lat), north_ = std::max(north_, p.lat);
        }
        if (lo <= hi) spans_.emplace_back(lo, hi);
    }
    void add(const GeoBBox &other) {
        exact_ = exact_ || other.exact_;
        spans_.insert(spans_.end(), other.spans_.begin(), other.spans_.end());
        south_ = std::min(south_, other.south_), north_ = std::max(north_, other.north_);
    }
    bool empty() const { return spans_.empty(); }
    // Edges written as the doubles they are, for coordinates written so
    // (shapefiles), in place of the shortest text of a float.
    void exact() { exact_ = true; }
    // "[west,south,east,north]"
    std::string json() const {
        auto spans = spans_;
        std::sort(spans.begin(), spans.end());
        std::vector<std::pair<double, double>> merged;
        for (const auto &s : spans)
            if (!merged.empty() && s.first <= merged.back().second)
                merged.back().second = std::max(merged.back().second, s.second);
            else merged.push_back(s);
        // The widest longitude gap is left out; across 180 unless it is the one there.
        double west = merged.front().first, east = merged.back().second;
        double gap = merged.front().first + 360 - merged.back().second;
        for (size_t i = 1; i < merged.size(); ++i)
            if (merged[i].first - merged[i - 1].second > gap) {
                gap = merged[i].first - merged[i - 1].second;
                west = merged[i].first, east = merged[i - 1].second;
            }
        auto text = [this](double v) {
            char buffer[32];
            auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
            return !exact_ ? format_degrees(v) : ec == std::errc() ? std::string(buffer, end) : "null";
        };
        return "[" + text(west) + "," + text(south_) + "," + text(east) + "," + text(north_) + "]";
    }
    // A value that came from a float as the float's shortest text; others
    // to a billionth of a degree (a tenth of a millimetre), so that a point
    // moved by a turn reads 0.5, not 0.50000000000011369.
    // Numbers beyond a float's range (whose cast to float is undefined) or
    // too large to round to a billionth are written as they are; those that
    // are not finite as null, never as "inf" or "nan".
    static std::string format_degrees(double value) {
        if (!std::isfinite(value)) return "null";
        char buffer[32];
        const bool single = std::fabs(value) <= std::numeric_limits<float>::max() &&
                            static_cast<double>(static_cast<float>(value)) == value;
        auto [end, ec] = single ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(value))
                         : std::fabs(value) < 1e15
                             ? std::to_chars(buffer, buffer + sizeof buffer, std::round(value * 1e9) / 1e9)
                             : std::to_chars(buffer, buffer + sizeof buffer, value);
        return ec == std::errc() ? std::string(buffer, end) : "null";
    }

private:
    std::vector<std::pair<double, double>> spans_;
    double south_ = 90, north_ = -90;
    bool exact_ = false;
};

// A FeatureCollection as RFC 7946 wants it, one feature at a time: give it
// polygons and lines already cut at the antimeridian (geo::clip_*_rfc7946);
// rings are written closed, exteriors counter-clockwise and holes clockwise,
// and every feature and the collection carry a bbox.
class GeoJson {
public:
    // properties: a JSON object's members without the braces. One polygon
    // makes a Polygon, more a MultiPolygon; none writes nothing.
    void polygons(const std::vector<geo::Polygon> &parts, const std::string &properties) {
        if (parts.empty()) return;
        std::string coordinates;
        GeoBBox box;
        for (size_t i = 0; i < parts.size(); ++i) {
            coordinates += i ? ",[" : "[";
            for (size_t r = 0; r < parts[i].size(); ++r) {
                geo::Ring ring = parts[i][r];
                if ((geo::signed_area2(ring) > 0) != (r == 0)) std::reverse(ring.begin(), ring.end());
                if (!ring.empty()) ring.push_back(ring.front());
                coordinates += (r ? "," : "") + positions(ring);
                if (r == 0) box.add(ring);
            }
            coordinates += "]";
        }
        if (parts.size() > 1) coordinates = "[" + coordinates + "]";
        add(parts.size() > 1 ? "MultiPolygon" : "Polygon", coordinates, box, properties);
    }
    // One line makes a LineString, more a MultiLineString.
    void lines(const std::vector<geo::Line> &parts, const std::string &properties) {
        if (parts.empty()) return;
        std::string coordinates;
        GeoBBox box;
        for (size_t i = 0; i < parts.size(); ++i) {
            coordinates += (i ? "," : "") + positions(parts[i]);
            box.add(parts[i]);
        }
        if (parts.size() > 1) coordinates = "[" + coordinates + "]";
        add(parts.size() > 1 ? "MultiLineString" : "LineString", coordinates, box, properties);
    }
    // A whole feature object written by the caller, with its bbox if known.
    void raw_feature(const std::string &feature_json) { raw_feature(feature_json, GeoBBox()); }
    void raw_feature(const std::string &feature_json, const GeoBBox &box) {
        if (features_++) text_ += ",\n";
        text_ += feature_json;
        box_.add(box);
    }
    int count() const { return features_; }
    std::string finish() const {
        return std::string("{\"type\":\"FeatureCollection\"") + (box_.empty() ? "" : ",\"bbox\":" + box_.json()) +
               ",\"features\":[\n" + text_ + "\n]}\n";
    }
    // "[[lon,lat],...]". A straight edge of half a turn of longitude or more
    // (along a border of the box) gets points between, so that no reader
    // takes it for an edge across the antimeridian.
    static std::string positions(const std::vector<geo::Point> &points) {
        std::string out = "[";
        auto add = [&out](const geo::Point &p) {
            out += (out.size() > 1 ? ",[" : "[") + GeoBBox::format_degrees(p.lon) + "," +
                   GeoBBox::format_degrees(p.lat) + "]";
        };
        for (size_t i = 0; i < points.size(); ++i) {
            if (i > 0 && std::fabs(points[i].lon - points[i - 1].lon) >= 180) {
                const geo::Point &a = points[i - 1], &b = points[i];
                const int steps = static_cast<int>(std::ceil(std::fabs(b.lon - a.lon) / 90));
                for (int k = 1; k < steps; ++k)
                    add({a.lon + (b.lon - a.lon) * k / steps, a.lat + (b.lat - a.lat) * k / steps});
            }
            add(points[i]);
        }
        return out + "]";
    }

private:
    void add(const char *type, const std::string &coordinates, const GeoBBox &box, const std::string &properties) {
        raw_feature("{\"type\":\"Feature\",\"bbox\":" + box.json() + ",\"properties\":{" + properties +
                        "},\"geometry\":{\"type\":\"" + type + "\",\"coordinates\":" + coordinates + "}}",
                    box);
    }
    std::string text_;
    GeoBBox box_;
    int features_ = 0;
};

// Text as an SVG element's content or attribute value.
inline std::string xml_text(const std::string &s) {
    std::string out;
    for (const char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// An SVG picture of a longitude-latitude box in plate carrée. Spans are
// taken by halves, so that coordinates near the largest doubles do not
// overflow; whatever they are, no "nan" or "inf" reaches the picture.
class SvgMap {
public:
    SvgMap(const Box &box, double width_px = 1000) : box_(box), width_(width_px) {
        const double half_lon = std::max(box.east / 2 - box.west / 2, 1e-9);
        const double half_lat = std::max(box.north / 2 - box.south / 2, 1e-9);
        height_ = std::round(width_ * (half_lat / half_lon));
        height_ = height_ >= 1 ? std::min(height_, 1e6) : 1;  // NaN too
        sx_ = width_ / half_lon;
        sy_ = height_ / half_lat;
        char head[512];
        std::snprintf(head, sizeof head,
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                      "viewBox=\"0 0 %.0f %.0f\">\n",
                      width_, height_, width_, height_);
        text_ = head;
    }
    double width() const { return width_; }
    double height() const { return height_; }
    double x(double lon) const { return on_page((lon / 2 - box_.west / 2) * sx_); }
    double y(double lat) const { return on_page((box_.north / 2 - lat / 2) * sy_); }
    // Path data for a run of points, closed with Z when closed; points that
    // are not numbers are left out.
    template <typename T>
    std::string path_data(const T *lon, const T *lat, int n, bool closed) const {
        std::string d;
        char buffer[64];
        for (int i = 0; i < n; ++i) {
            if (std::isnan(lon[i]) || std::isnan(lat[i])) continue;
            std::snprintf(buffer, sizeof buffer, "%c%.2f %.2f", d.empty() ? 'M' : 'L', x(lon[i]), y(lat[i]));
            d += buffer;
        }
        if (closed && !d.empty()) d += "Z";
        return d;
    }
    void element(const std::string &svg) { text_ += svg + "\n"; }
    void path(const float *lon, const float *lat, int n, bool closed, const std::string &style) {
        if (n < 2) return;
        element("<path d=\"" + path_data(lon, lat, n, closed) + "\" " + style + "/>");
    }
    void background(const std::string &fill) {
        element("<rect x=\"0\" y=\"0\" width=\"100%\" height=\"100%\" fill=\"" + fill + "\"/>");
    }
    std::string finish() const { return text_ + "</svg>\n"; }
    // What has been added so far, handed over: the picture written in pieces.
    std::string take() { return std::exchange(text_, std::string()); }

private:
    // Pixels a thousand pictures away are as good as further ones for a
    // renderer, and print short.
    static double on_page(double v) { return std::isnan(v) ? 0 : std::clamp(v, -1e6, 1e6); }
    Box box_;
    double width_, height_, sx_, sy_;
    std::string text_;
};

}  // namespace vorpix::cli

#endif
