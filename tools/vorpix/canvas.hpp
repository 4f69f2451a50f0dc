// Where "vorpix render" draws: an SVG document or, through cairo, a PNG
// image. Both take the same calls in pixel coordinates, so that the two
// pictures of one map carry the same shapes and the same words.
#ifndef VORPIX_CANVAS_HPP
#define VORPIX_CANVAS_HPP

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vorpix::cli {

using PixelPath = std::vector<std::pair<double, double>>;

// Where a canvas's bytes go as they are made.
using Sink = std::function<void(const char *data, std::size_t size)>;

// Colours are ARGB words; an alpha of 0 means "none".
struct PathStyle {
    std::uint32_t fill = 0;
    std::uint32_t stroke = 0;
    double width = 0;  // stroke width in pixels
    double dash = 0;   // dash length in pixels, 0 for a solid line
};

enum class Anchor { Start, Middle, End };

struct TextStyle {
    double size = 11;  // pixels
    std::uint32_t colour = 0xff202020u;
    Anchor anchor = Anchor::Start;
    bool bold = false;
    std::uint32_t halo = 0;  // an outline behind the letters, for text over the map
};

class Canvas {
public:
    virtual ~Canvas() = default;
    // Paths of one shape, filled together by the even-odd rule.
    virtual void path(const std::vector<PixelPath> &paths, bool closed, const PathStyle &style) = 0;
    virtual void image(const std::uint32_t *argb, int width, int height, double x0, double y0, double x1,
                       double y1) = 0;
    // y is the text's baseline.
    virtual void text(double x, double y, const std::string &utf8, const TextStyle &style) = 0;
    // The finished file's bytes, or what is left of them when the canvas
    // has a sink: then they go to it, and none are returned.
    virtual std::string finish() = 0;
};

// With a sink, an SVG canvas hands its text over in pieces as it is drawn,
// and a PNG canvas its file when finished.
std::unique_ptr<Canvas> svg_canvas(int width, int height, Sink sink = {});
std::unique_ptr<Canvas> png_canvas(int width, int height, Sink sink = {});

// The advance of a text in the canvases' font, in pixels.
double text_width(const std::string &utf8, const TextStyle &style);

// PNG bytes of an ARGB image (alpha kept, unless every pixel is opaque).
std::string encode_png(const std::uint32_t *argb, int width, int height);

}  // namespace vorpix::cli

#endif
