#include "raster.hpp"

#include "cli.hpp"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vorpix::cli {

Raster::Raster(int width, int height, std::uint32_t argb)
    : width_(std::max(1, width)), height_(std::max(1, height)),
      pixels_(static_cast<size_t>(width_) * static_cast<size_t>(height_), argb) {}

void Raster::blend(int x, int y, std::uint32_t argb) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    std::uint32_t &dst = pixels_[static_cast<size_t>(y) * width_ + x];
    const unsigned a = argb >> 24;
    if (a == 255) {
        dst = argb;
        return;
    }
    auto mix = [a](unsigned src, unsigned old) { return (src * a + old * (255 - a) + 127) / 255; };
    const unsigned r = mix((argb >> 16) & 255, (dst >> 16) & 255), g = mix((argb >> 8) & 255, (dst >> 8) & 255),
                   b = mix(argb & 255, dst & 255);
    dst = 0xff000000u | (r << 16) | (g << 8) | b;
}

void Raster::fill(const std::vector<PixelPath> &rings, std::uint32_t argb) {
    double top = height_, bottom = 0;
    for (const auto &ring : rings)
        for (const auto &[x, y] : ring) top = std::min(top, y), bottom = std::max(bottom, y);
    const int y0 = std::max(0, static_cast<int>(std::floor(top))), y1 = std::min(height_ - 1, static_cast<int>(std::ceil(bottom)));
    std::vector<double> crossings;
    for (int row = y0; row <= y1; ++row) {
        const double yc = row + 0.5;
        crossings.clear();
        for (const auto &ring : rings) {
            const size_t n = ring.size();
            for (size_t i = 0; i < n; ++i) {
                const auto &[xa, ya] = ring[i];
                const auto &[xb, yb] = ring[(i + 1) % n];
                if ((ya <= yc) == (yb <= yc)) continue;
                crossings.push_back(xa + (yc - ya) * (xb - xa) / (yb - ya));
            }
        }
        std::sort(crossings.begin(), crossings.end());
        for (size_t i = 0; i + 1 < crossings.size(); i += 2) {
            const int xs = std::max(0, static_cast<int>(std::ceil(crossings[i] - 0.5)));
            const int xe = std::min(width_ - 1, static_cast<int>(std::floor(crossings[i + 1] - 0.5)));
            for (int x = xs; x <= xe; ++x) blend(x, row, argb);
        }
    }
}

void Raster::stroke(const PixelPath &line, double width, std::uint32_t argb) {
    const double half = std::max(0.5, width / 2);
    for (size_t i = 0; i + 1 < line.size(); ++i) {
        const auto [xa, ya] = line[i];
        const auto [xb, yb] = line[i + 1];
        const double length = std::hypot(xb - xa, yb - ya);
        if (!(length > 1e-9) || length > 1e6) continue;
        const double nx = -(yb - ya) / length * half, ny = (xb - xa) / length * half;
        fill({{{xa + nx, ya + ny}, {xb + nx, yb + ny}, {xb - nx, yb - ny}, {xa - nx, ya - ny}}}, argb);
    }
}

void Raster::rectangle(double x0, double y0, double x1, double y1, std::uint32_t argb) {
    fill({{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}}, argb);
}

void Raster::image(const std::uint32_t *argb, int w, int h, double x0, double y0, double x1, double y1) {
    if (w <= 0 || h <= 0 || !(x1 > x0) || !(y1 > y0)) return;
    const int xs = std::max(0, static_cast<int>(x0)), xe = std::min(width_ - 1, static_cast<int>(x1));
    const int ys = std::max(0, static_cast<int>(y0)), ye = std::min(height_ - 1, static_cast<int>(y1));
    for (int y = ys; y <= ye; ++y)
        for (int x = xs; x <= xe; ++x) {
            const int sx = std::clamp(static_cast<int>((x + 0.5 - x0) / (x1 - x0) * w), 0, w - 1);
            const int sy = std::clamp(static_cast<int>((y + 0.5 - y0) / (y1 - y0) * h), 0, h - 1);
            blend(x, y, argb[static_cast<size_t>(sy) * w + sx]);
        }
}

namespace {

void append_bytes(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::string *>(png_get_io_ptr(png))->append(reinterpret_cast<const char *>(data), length);
}

void no_flush(png_structp) {}

}  // namespace

std::string encode_png(const std::uint32_t *argb, int width, int height) {
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_write_struct(&png, &info);
        throw InputError("cannot start a PNG image");
    }
    std::vector<unsigned char> row(static_cast<size_t>(width) * 4);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw InputError("cannot encode the PNG image");
    }
    png_set_write_fn(png, &out, append_bytes, no_flush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint32_t p = argb[static_cast<size_t>(y) * width + x];
            row[4 * x] = (p >> 16) & 255, row[4 * x + 1] = (p >> 8) & 255, row[4 * x + 2] = p & 255,
                    row[4 * x + 3] = p >> 24;
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::string svg_colour(std::uint32_t argb) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "#%06x", argb & 0xffffffu);
    return buffer;
}

}  // namespace vorpix::cli
