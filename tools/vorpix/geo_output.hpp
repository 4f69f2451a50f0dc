// The SVG writer shared by the map commands.
#ifndef VORPIX_GEO_OUTPUT_HPP
#define VORPIX_GEO_OUTPUT_HPP

#include "cli.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

namespace vorpix::cli {

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
