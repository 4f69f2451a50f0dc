// The picture that "vorpix render" composes, and the layers it draws from
// each reader of the library.
#ifndef VORPIX_RENDER_LAYERS_HPP
#define VORPIX_RENDER_LAYERS_HPP

#include "canvas.hpp"
#include "cli.hpp"
#include "vorpix/clip.hpp"
#include "vorpix/geojson_writer.hpp"
#include "vorpix/map_readers.hpp"
#include "vorpix/projection.hpp"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vorpix::cli {

using Ring = geo::Ring;

// One drawing operation in map coordinates; images take their corners
// (south-west, north-east) from rings[0]. Fills are outlined in a darker
// shade of their colour unless an outline is given; width is the outline's
// or the line's width in pixels.
struct Op {
    enum Kind { Fill, Stroke, Image } kind;
    std::vector<Ring> rings;
    std::uint32_t colour;  // ARGB
    double width;
    std::vector<std::uint32_t> image;
    int image_width, image_height;
    std::string label;
    std::uint32_t outline = 0;
    double dash = 0;  // pixels; 0 draws a solid line
    // Already clipped to the frame; others are clipped, and moved by whole
    // turns into it, before they are drawn.
    bool framed = false;
};

struct LegendEntry {
    std::string label;
    PathStyle style;
    bool line;
};

// The most pixels a picture holds (a world 10000 pixels wide is 50 million):
// each takes several bytes in the drawing and in the PNG.
inline constexpr long long max_pixels = 50'000'000;

// The map's frame is its box as given, east of west: a box from 160 to 200
// runs on across 180, and every layer is moved by whole turns into it. In a
// projection, the frame is drawn as the projection shows it: its edge (an
// ellipse, a circle) bounds the map, and a margin round it holds labels.
struct Picture {
    // box is taken as a frame (see geo::frame_of), checked against the
    // projection. A picture of more than max_pixels is a usage error.
    Picture(const Box &box, int width, const features::MapProjection &projection = {});
    // Pixels of a longitude and a latitude on the plain grid.
    double x(double lon) const;
    double y(double lat) const;
    // Points in degrees to pixels, in place, in the picture's projection.
    void pixels_of(std::vector<double> &lon, std::vector<double> &lat) const;
    bool projected() const { return !projection.plain(); }
    // A fill's or a line's legend entry, in the look its ops are drawn with.
    void add_legend(const std::string &label, std::uint32_t colour, bool line);
    void add_legend(const std::string &label, const PathStyle &style, bool line);

    Box box;
    int width, height;
    features::MapProjection projection;
    // Projected maps: the projection's x and y of the picture's top-left
    // corner, and pixels per projected unit.
    double left = 0, top = 0, scale = 1;
    std::uint32_t background = 0xffc6dcefu;  // sea
    std::vector<Op> ops;
    // Layers whose ops are made afresh from their source at each visit rather
    // than kept, drawn above ops in order: a shapefile's shapes, however many
    // they are, in the memory of one. Their ops come framed.
    using OpStream = std::function<void(const std::function<void(Op &&)> &)>;
    std::vector<OpStream> streamed;
    std::vector<LegendEntry> legend;
};

// What a fill looks like on the map and in the legend.
PathStyle fill_style(const Op &op);
// Ops drawn alike.
bool same_look(const Op &a, const Op &b);

// Shows what is being done on standard error, when that is a terminal.
class Progress {
public:
    explicit Progress(bool to_terminal = true);
    ~Progress();
    void say(const std::string &what);

private:
    bool enabled_;
    bool shown_ = false;
};

// "ice-front" or "grounding-line", as --antarctica takes them.
features::AntarcticOutline parse_antarctica(const std::string &text);

// The readers of the map files as the commands open them: each file read is
// noted as an input, and a resolution that is not installed is named in
// one line with how to install it (missing_map_file).
features::ShorelineOptions shoreline_options(const std::string &res, const std::string &kinds, const Box &box,
                                             features::AntarcticOutline antarctica);
features::BorderOptions border_options(const std::string &res, const std::string &kinds, const Box &box);

// Every feature of a map file's reader, written to out as a GeoJSON
// FeatureCollection as it comes: its values as properties, no id beside
// them, coordinates and boxes as degrees (features::json_degrees). The
// number of features written.
template <typename Reader>
long write_geojson(Reader &reader, const std::vector<features::Field> &fields, Output &out) {
    features::GeoJsonWriter::Options options;
    options.ids = false;
    options.rounded_degrees = true;
    features::GeoJsonWriter writer([&out](const char *data, std::size_t size) { out.append(data, size); }, options);
    features::Feature feature;
    while (reader.next(feature)) writer.write(feature, fields);
    writer.finish();
    return writer.count();
}

void add_coast_layer(Picture &pic, const std::string &res, const std::string &kinds,
                     features::AntarcticOutline antarctica, Progress &progress);
// Antarctica's grounding line as a line, over a coast drawn to the ice front.
void add_grounding_line(Picture &pic, const std::string &res, Progress &progress);
// kinds: words p:LEVELS (borders) or r:LEVELS (rivers), as gmtmap_select reads them.
void add_line_layer(Picture &pic, bool rivers, const std::string &kinds, const std::string &res, Progress &progress);
void add_shape_layer(Picture &pic, const std::string &shapefile, Progress &progress);
void add_texture_layer(Picture &pic, const std::string &dds, Progress &progress);

// Where the legend goes. Auto takes the corner of the map that holds no land
// (of the candidates, the one crossed by the fewest lines), or a strip below
// the map when every corner holds some.
enum class LegendPlace { Auto, None, TopRight, TopLeft, BottomRight, BottomLeft, Below };

struct RenderRequest {
    Box box{-180, 180, -90, 90};
    features::MapProjection projection;  // the plain grid unless named
    int width = 1200;
    std::string res = "l", kinds = "f:0";
    features::AntarcticOutline antarctica = features::AntarcticOutline::IceFront;
    bool grounding_line = false;  // drawn as a line too, over the ice front
    std::string line_res;         // borders and rivers, when not those of res
    std::string border_kinds = "p:7", river_kinds = "r:4095";
    bool coast = true, borders = false, rivers = false, graticule = true;
    std::string shapes, texture;  // files, or empty
    LegendPlace legend = LegendPlace::Auto;
};

// The finished picture's bytes, SVG or PNG: the layers composed, each
// clipped to the frame, then drawn. Given a sink, an SVG goes to it as it is
// drawn, a PNG when it is done, and the bytes returned are none.
std::string render_map(const RenderRequest &request, bool png, Progress &progress, const Sink &sink = {});
Picture compose(const RenderRequest &request, Progress &progress);
std::string draw(const Picture &pic, bool graticule, bool png, LegendPlace legend = LegendPlace::Auto,
                 const Sink &sink = {});

}  // namespace vorpix::cli

#endif
