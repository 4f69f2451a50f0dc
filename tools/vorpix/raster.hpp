// A small raster canvas for pictures written as PNG: filled polygons by the
// even-odd rule, stroked lines and scaled images, over 32-bit ARGB pixels.
#ifndef VORPIX_RASTER_HPP
#define VORPIX_RASTER_HPP

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vorpix::cli {

using PixelPath = std::vector<std::pair<double, double>>;  // pixel coordinates

class Raster {
public:
    Raster(int width, int height, std::uint32_t argb = 0xffffffffu);
    int width() const { return width_; }
    int height() const { return height_; }
    std::uint32_t pixel(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }
    const std::vector<std::uint32_t> &pixels() const { return pixels_; }

    // Fills the rings together by the even-odd rule, sampling pixel centres.
    void fill(const std::vector<PixelPath> &rings, std::uint32_t argb);
    void stroke(const PixelPath &line, double width, std::uint32_t argb);
    void rectangle(double x0, double y0, double x1, double y1, std::uint32_t argb);
    // Draws an ARGB image into the rectangle, nearest sample.
    void image(const std::uint32_t *argb, int w, int h, double x0, double y0, double x1, double y1);

private:
    void blend(int x, int y, std::uint32_t argb);
    int width_, height_;
    std::vector<std::uint32_t> pixels_;
};

// PNG bytes of an ARGB image (alpha kept).
std::string encode_png(const std::uint32_t *argb, int width, int height);

// "#rrggbb" of an ARGB colour, for SVG.
std::string svg_colour(std::uint32_t argb);

}  // namespace vorpix::cli

#endif
