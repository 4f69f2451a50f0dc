// GeoJSON and SVG writers shared by the map commands.
#ifndef VORPIX_GEO_OUTPUT_HPP
#define VORPIX_GEO_OUTPUT_HPP

#include "cli.hpp"

#include <cmath>
#include <cstdio>
#include <string>

namespace vorpix::cli {

// A FeatureCollection, one feature at a time.
class GeoJson {
public:
    GeoJson() : text_("{\"type\":\"FeatureCollection\",\"features\":[\n") {}
    // geometry_type: "Polygon" (one ring) or "LineString"; properties: a JSON
    // object's members without the braces.
    void feature(const char *geometry_type, const float *lon, const float *lat, int n,
                 const std::string &properties) {
        if (features_++) text_ += ",\n";
        text_ += "{\"type\":\"Feature\",\"properties\":{" + properties + "},\"geometry\":{\"type\":\"";
        text_ += geometry_type;
        const bool ring = std::string(geometry_type) == "Polygon";
        text_ += ring ? "\",\"coordinates\":[[" : "\",\"coordinates\":[";
        for (int i = 0; i < n; ++i) point(i ? "," : "", lon[i], lat[i]);
        // A GeoJSON ring repeats its first position at the end.
        if (ring && n > 0 && (lon[0] != lon[n - 1] || lat[0] != lat[n - 1])) point(",", lon[0], lat[0]);
        text_ += ring ? "]]}}" : "]}}";
    }
    void raw_feature(const std::string &feature_json) {
        if (features_++) text_ += ",\n";
        text_ += feature_json;
    }
    int count() const { return features_; }
    std::string finish() const { return text_ + "\n]}\n"; }

private:
    void point(const char *separator, float lon, float lat) {
        text_ += separator;
        text_ += "[" + format_coordinate(lon) + "," + format_coordinate(lat) + "]";
    }
    std::string text_;
    int features_ = 0;
};

// An SVG picture of a longitude-latitude box in plate carrée.
class SvgMap {
public:
    SvgMap(const Box &box, double width_px = 1000) : box_(box), width_(width_px) {
        const double span_lon = std::max(box.east - box.west, 1e-9);
        const double span_lat = std::max(box.north - box.south, 1e-9);
        height_ = std::max(1.0, std::round(width_ * span_lat / span_lon));
        sx_ = width_ / span_lon;
        sy_ = height_ / span_lat;
        char head[512];
        std::snprintf(head, sizeof head,
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                      "viewBox=\"0 0 %.0f %.0f\">\n",
                      width_, height_, width_, height_);
        text_ = head;
    }
    double width() const { return width_; }
    double height() const { return height_; }
    double x(double lon) const { return (lon - box_.west) * sx_; }
    double y(double lat) const { return (box_.north - lat) * sy_; }
    // Path data for a run of points, closed with Z when closed.
    std::string path_data(const float *lon, const float *lat, int n, bool closed) const {
        std::string d;
        char buffer[64];
        for (int i = 0; i < n; ++i) {
            std::snprintf(buffer, sizeof buffer, "%c%.2f %.2f", i ? 'L' : 'M', x(lon[i]), y(lat[i]));
            d += buffer;
        }
        if (closed && n) d += "Z";
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

private:
    Box box_;
    double width_, height_, sx_, sy_;
    std::string text_;
};

}  // namespace vorpix::cli

#endif
