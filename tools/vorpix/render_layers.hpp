// The picture that "vorpix render" composes, and the layers it draws from
// each reader of the library.
#ifndef VORPIX_RENDER_LAYERS_HPP
#define VORPIX_RENDER_LAYERS_HPP

#include "cli.hpp"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vorpix::cli {

using Ring = std::vector<std::pair<double, double>>;  // longitude, latitude

// One drawing operation in map coordinates; images take their corners
// (south-west, north-east) from rings[0].
struct Op {
    enum Kind { Fill, Stroke, Image } kind;
    std::vector<Ring> rings;
    std::uint32_t colour;  // ARGB
    double width;          // stroke width in pixels
    std::vector<std::uint32_t> image;
    int image_width, image_height;
    std::string label;
};

struct LegendEntry {
    std::string label;
    std::uint32_t colour;
    bool line;
};

struct Picture {
    Picture(const Box &box, int width);
    double x(double lon) const;
    double y(double lat) const;
    void add_legend(const std::string &label, std::uint32_t colour, bool line);

    Box box;
    int width, height;
    std::uint32_t background = 0xffbcd8f0u;  // sea
    std::vector<Op> ops;
    std::vector<LegendEntry> legend;
};

// Shows what is being done on standard error, when that is a terminal.
class Progress {
public:
    Progress();
    ~Progress();
    void say(const std::string &what);

private:
    bool enabled_;
    bool shown_ = false;
};

void add_coast_layer(Picture &pic, const std::string &res, const std::string &kinds, Progress &progress);
void add_line_layer(Picture &pic, bool rivers, const std::string &res, Progress &progress);
void add_shape_layer(Picture &pic, const std::string &shapefile, Progress &progress);
void add_texture_layer(Picture &pic, const std::string &dds, Progress &progress);

}  // namespace vorpix::cli

#endif
