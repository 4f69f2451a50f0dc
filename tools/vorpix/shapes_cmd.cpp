// vorpix shapes: the shapes of a shapefile as GeoJSON or SVG, with the
// attributes of the dBase file beside it, read through the feature layer;
// the shape layer of "vorpix render"; and what vorpix index needs to know of
// shapes.
#include "cli.hpp"
#include "commands.hpp"
#include "geo_output.hpp"
#include "render_layers.hpp"

#include "vorpix/clip.hpp"
#include "vorpix/features.hpp"
#include "vorpix/geojson_writer.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vorpix::cli {

using features::Feature;
using features::GeometryType;
using features::ShapefileOptions;
using features::ShapefileReader;

namespace {

// Warnings as the reader gives them, but for records left out, which say
// what this command does with them instead.
features::Warn warning_that(const std::string &consequence) {
    return [consequence](const std::string &line) {
        const std::string left_out = " its geometry is left out";
        print_warning(line.ends_with(left_out) ? line.substr(0, line.size() - left_out.size()) + consequence : line);
    };
}

// Whether every coordinate could be a longitude and latitude.
bool within_degrees(const features::Geometry &g) {
    for (size_t i = 0; i < g.x.size(); ++i)
        if (!(std::fabs(g.x[i]) <= 180 && std::fabs(g.y[i]) <= 90)) return false;
    return true;
}

// The text of the record's first character field, for a picture's titles.
std::string label_of(const ShapefileReader &reader, const Feature &f) {
    const auto &fields = reader.fields();
    for (size_t i = 0; i < fields.size() && i < f.values.size(); ++i)
        if (fields[i].dbase_type == 'C') return f.values[i].text;
    return "";
}

void warn_stored(const ShapefileReader &reader, bool stored, const char *consequence) {
    if (stored && !reader.has_prj())
        print_warning(reader.path() +
                      ": the coordinates are not longitudes and latitudes and no .prj says what they are; they are " +
                      consequence);
}

// An SVG picture of the selected shapes, read twice: once for their extent,
// then drawn a shape at a time.
void write_svg(const std::string &path, const ShapefileOptions &options, Output &out) {
    Feature f;
    double west = INFINITY, east = -INFINITY, south = INFINITY, north = -INFINITY;
    {
        ShapefileOptions quiet = options;  // the drawing pass gives the warnings
        quiet.warn = nullptr;
        ShapefileReader extent(path, quiet);
        while (extent.next(f))
            for (size_t i = 0; i < f.geometry.x.size(); ++i) {
                west = std::min(west, f.geometry.x[i]), east = std::max(east, f.geometry.x[i]);
                south = std::min(south, f.geometry.y[i]), north = std::max(north, f.geometry.y[i]);
            }
    }
    if (west > east) west = east = south = north = 0;
    // By halves: the spans of coordinates near the largest doubles overflow.
    double margin = std::max({east / 2 - west / 2, north / 2 - south / 2, 1e-6}) * 0.04;
    if (!std::isfinite(west - margin) || !std::isfinite(east + margin) || !std::isfinite(south - margin) ||
        !std::isfinite(north + margin))
        margin = 0;
    SvgMap svg(Box{west - margin, east + margin, south - margin, north + margin}, 1000);
    svg.background("#f4f1e8");
    ShapefileReader reader(path, options);
    while (reader.next(f)) {
        const features::Geometry &g = f.geometry;
        const std::string label = label_of(reader, f);
        const std::string title = label.empty() ? "" : "<title>" + xml_text(label) + "</title>";
        auto element = [&](const std::string &open, const std::string &attributes) {
            svg.element(title.empty() ? open + attributes + "/>"
                                      : open + attributes + ">" + title + "</" + open.substr(1) + ">");
        };
        auto run_data = [&](size_t r, bool closed) {
            const auto n = static_cast<int>(g.runs[r + 1] - g.runs[r]);
            return svg.path_data(g.x.data() + g.runs[r], g.y.data() + g.runs[r], n, closed);
        };
        switch (g.type) {
        case GeometryType::Polygon:
        case GeometryType::MultiPolygon:
            for (size_t p = 0; p < g.polygon_count(); ++p) {
                std::string d;
                for (size_t r = g.parts[p]; r < g.parts[p + 1]; ++r) d += run_data(r, true);
                element("<path", " d=\"" + d +
                                     "\" fill=\"#d9c7a0\" fill-rule=\"evenodd\" stroke=\"#6b5a3c\" "
                                     "stroke-width=\"0.6\"");
            }
            break;
        case GeometryType::LineString:
        case GeometryType::MultiLineString:
            for (size_t r = 0; r < g.run_count(); ++r) {
                if (g.runs[r + 1] - g.runs[r] < 2) continue;
                element("<path",
                        " d=\"" + run_data(r, false) + "\" fill=\"none\" stroke=\"#3a78c2\" stroke-width=\"1\"");
            }
            break;
        case GeometryType::Point:
        case GeometryType::MultiPoint:
            for (size_t i = 0; i < g.x.size(); ++i) {
                char circle[128];
                std::snprintf(circle, sizeof circle, " cx=\"%.2f\" cy=\"%.2f\" r=\"3\" fill=\"#a0303a\"", svg.x(g.x[i]),
                              svg.y(g.y[i]));
                element("<circle", circle);
            }
            break;
        case GeometryType::None: break;
        }
        out.append(svg.take());
    }
    out.append(svg.finish());
}

}  // namespace

void write_shapes(const ShapesRequest &request) {
    ShapefileOptions options = request.read;
    // GeoJSON wants longitudes within 180; a picture draws them as stored.
    options.rfc7946 = request.format != Format::Svg;
    options.warn = print_warning;
    options.opened = note_input;
    ShapefileReader reader(request.path, options);
    Output out(request.output);
    if (request.format == Format::Svg) {
        write_svg(request.path, options, out);
        out.commit();
        return;
    }
    features::GeoJsonWriter json(
        [&out](const char *data, size_t size) { out.append(data, size); },
        {.sequence = request.format == Format::Seq, .bbox = true, .degrees_only = !reader.lonlat()});
    Feature f;
    bool stored = false;  // coordinates that cannot be longitudes and latitudes, written as they are
    while (reader.next(f)) {
        stored = stored || (!reader.lonlat() && !within_degrees(f.geometry));
        json.write(f, reader.fields());
    }
    json.finish();
    if (options.transform) warn_stored(reader, stored, "written as stored, which RFC 7946 GeoJSON does not allow");
    out.commit();
}

namespace {

int run_shapes(int argc, char **argv) {
    Args args(argc, argv, {"o", "dbf", "encoding", "box"});
    args.allow_flags({"svg", "geojson", "seq", "no-dbf", "deleted", "no-transform"});
    if (args.positional().size() != 1) throw UsageError("name one shapefile");
    ShapesRequest request;
    request.path = args.positional()[0];
    request.format = choose_format(args, {Format::GeoJson, Format::Seq, Format::Svg});
    request.output = args.get("o");
    request.read.dbf = args.get("dbf");
    request.read.attributes = !args.flag("no-dbf");
    request.read.encoding = args.get("encoding");
    request.read.deleted = args.flag("deleted");
    request.read.transform = !args.flag("no-transform");
    request.read.box = box_option(args);
    write_shapes(request);
    return 0;
}

}  // namespace

std::vector<IndexedShape> index_shapefile(const std::string &path) {
    ShapefileOptions options;
    options.attributes = false;
    options.deleted = true;
    options.transform = false;
    options.rfc7946 = false;
    options.warn = warning_that(" it is indexed without a box");
    options.opened = note_input;
    ShapefileReader reader(path, options);
    std::vector<IndexedShape> out;
    Feature f;
    while (reader.next(f)) {
        IndexedShape e{static_cast<long>(reader.record_offset()),
                       static_cast<int>(f.id),
                       reader.record_shape_type(),
                       {NAN, NAN, NAN, NAN}};
        const features::Geometry &g = f.geometry;
        for (size_t i = 0; i < g.x.size(); ++i) {
            e.box[0] = std::isnan(e.box[0]) ? g.x[i] : std::min(e.box[0], g.x[i]);
            e.box[1] = std::isnan(e.box[1]) ? g.y[i] : std::min(e.box[1], g.y[i]);
            e.box[2] = std::isnan(e.box[2]) ? g.x[i] : std::max(e.box[2], g.x[i]);
            e.box[3] = std::isnan(e.box[3]) ? g.y[i] : std::max(e.box[3], g.y[i]);
        }
        out.push_back(e);
    }
    return out;
}

namespace {

// What one reading of a shapefile drew.
struct ShapesDrawn {
    bool areas = false, lines = false;  // within the frame: the legend names only those
};

constexpr std::uint32_t shape_fill = 0x9060b060u, shape_line = 0xff7a3fb0u;  // green over the tan land, purple lines

// The ops of every shape of a shapefile in a picture's frame, each given to
// emit as it is made. The first reading warns and notes the file as an
// input; later ones (the picture visits the layer again rather than keep
// it) are quiet.
ShapesDrawn shape_ops(const std::string &path, const Box &box, int width, int height, bool first,
                      const std::function<void(Op &&)> &emit) {
    // Drawn in longitude and latitude, as "vorpix shapes" writes them.
    ShapefileOptions options;
    options.rfc7946 = false;
    if (first) {
        options.warn = warning_that(" it is not drawn");
        options.opened = note_input;
    }
    ShapefileReader reader(path, options);
    ShapesDrawn drawn;
    bool stored = false;  // coordinates that cannot be longitudes and latitudes, drawn as they are
    // Clipped to the frame here rather than with the other layers, so that a
    // ring the geometry refuses is named by its record.
    const geo::Frame frame{box.west, box.east, box.south, box.north};
    auto clipped = [&](long recno, auto clip) {
        try {
            return clip();
        } catch (const InputError &e) {
            throw InputError(features::ErrorCode::Invalid, path, "record " + std::to_string(recno), e.what());
        }
    };
    auto add_fill = [&](const std::vector<Ring> &rings, std::uint32_t colour, long recno) {
        bool any = false;
        for (auto &polygon : clipped(recno, [&] { return geo::clip_polygon(rings, frame); })) {
            Op op{Op::Fill, std::move(polygon), colour, 0, {}, 0, 0, ""};
            op.framed = any = true;
            emit(std::move(op));
        }
        return any;
    };
    Feature f;
    while (reader.next(f)) {
        const features::Geometry &g = f.geometry;
        stored = stored || (!reader.lonlat() && !within_degrees(g));
        auto ring_of = [&g](size_t r, bool ring) {
            Ring points;
            const size_t end = g.runs[r + 1] - (ring && g.runs[r + 1] > g.runs[r] ? 1 : 0);
            points.reserve(end - g.runs[r]);
            for (size_t i = g.runs[r]; i < end; ++i) points.push_back({g.x[i], g.y[i]});
            return points;
        };
        switch (g.type) {
        case GeometryType::Polygon:
        case GeometryType::MultiPolygon:
            for (size_t p = 0; p < g.polygon_count(); ++p) {
                std::vector<Ring> rings;
                for (size_t r = g.parts[p]; r < g.parts[p + 1]; ++r) rings.push_back(ring_of(r, true));
                drawn.areas = add_fill(rings, shape_fill, f.id) || drawn.areas;
            }
            break;
        case GeometryType::LineString:
        case GeometryType::MultiLineString: {
            Op op{Op::Stroke, {}, shape_line, 1.2, {}, 0, 0, ""};
            op.framed = true;
            for (size_t r = 0; r < g.run_count(); ++r)
                for (auto &run : clipped(f.id, [&] { return geo::clip_line(ring_of(r, false), frame); }))
                    op.rings.push_back(std::move(run));
            if (!op.rings.empty()) {
                emit(std::move(op));
                drawn.lines = true;
            }
            break;
        }
        case GeometryType::Point:
        case GeometryType::MultiPoint: {
            // A small square of a fixed size in pixels around each point.
            const double dx = 3 * (box.east - box.west) / width;
            const double dy = 3 * (box.north - box.south) / height;
            for (size_t i = 0; i < g.x.size(); ++i) {
                const double x = g.x[i], y = g.y[i];
                drawn.lines = add_fill({{{x - dx, y - dy}, {x + dx, y - dy}, {x + dx, y + dy}, {x - dx, y + dy}}},
                                       shape_line, f.id) ||
                              drawn.lines;
            }
            break;
        }
        case GeometryType::None: break;
        }
    }
    if (first) warn_stored(reader, stored, "drawn as if they were");
    return drawn;
}

}  // namespace

void add_shape_layer(Picture &pic, const std::string &path, Progress &progress) {
    progress.say("shapes: " + path);
    // Read once here for the legend and its warnings, keeping nothing; the
    // picture reads the file again each time it visits the layer, so that
    // memory holds one shape, not the file.
    const ShapesDrawn drawn = shape_ops(path, pic.box, pic.width, pic.height, true, [](Op &&) {});
    pic.streamed.push_back(
        [path, box = pic.box, width = pic.width, height = pic.height](const std::function<void(Op &&)> &emit) {
            shape_ops(path, box, width, height, false, emit);
        });
    if (drawn.areas) pic.add_legend("shapes", shape_fill, false);
    if (drawn.lines) pic.add_legend("shape lines and points", shape_line, true);
}

const Command shapes_command{"shapes", "shapes of a shapefile as GeoJSON or SVG",
                             "usage: vorpix shapes FILE.shp|FILE.dbf [--geojson | --seq | --svg]\n"
                             "                    [--dbf FILE.dbf | --no-dbf] [--encoding NAME] [--deleted]\n"
                             "                    [--box W/E/S/N] [--no-transform] [-o OUT]\n\n"
                             "Writes every shape of a shapefile as a GeoJSON Feature (Point, MultiPoint,\n"
                             "LineString, MultiLineString, Polygon or MultiPolygon; null for Null shapes)\n"
                             "as it reads it, with its record number (from 0) as the Feature's \"id\" and\n"
                             "every field of the dBase file beside it (same name, .dbf) as a property of\n"
                             "its own name: numeric fields (N, F) as numbers, blank or overflowed ones as\n"
                             "null; logical fields (L) as true, false or null; dates (D) as \"YYYY-MM-DD\"\n"
                             "or null; others as text without surrounding blanks, null when blank. A .dbf\n"
                             "given alone gives its rows as Features without geometry. Records are found\n"
                             "through the .shx when it lists them, else one after another.\n"
                             "Text is converted to UTF-8 from the code page that --encoding names, else\n"
                             "the .cpg file beside the table, else the table's language-driver byte;\n"
                             "text of a table that names none is read as UTF-8 where it is valid UTF-8,\n"
                             "else as ISO-8859-1. Bytes that do not convert become U+FFFD (with one\n"
                             "warning). Records marked deleted are left out.\n"
                             "Polygon rings that run clockwise start a polygon; the counter-clockwise\n"
                             "rings after one are its holes; rings are written counter-clockwise round\n"
                             "areas and clockwise round holes. Z values are the third coordinate; M\n"
                             "values go to the Feature's member \"measures\", shaped like the coordinates\n"
                             "(one number per position, null for \"no data\"). MultiPatch parts become\n"
                             "polygons: triangle strips and fans one per triangle.\n"
                             "A .prj file that names a projected system, or a geographic one on another\n"
                             "datum, is undone to longitude and latitude on WGS 84 (with PROJ);\n"
                             "longitudes beyond 180 are moved or cut at the antimeridian. A .prj that\n"
                             "cannot be read gives a warning; numbers that a geographic .prj calls degrees\n"
                             "and that are none are refused. Part indices must ascend. A shape with a\n"
                             "coordinate that is not a finite number, or a point that PROJ cannot\n"
                             "transform, is written with null geometry and a warning naming its record.\n"
                             "  --geojson      a GeoJSON FeatureCollection (the default)\n"
                             "  --seq          a GeoJSON text sequence (RFC 8142): one Feature per line\n"
                             "  --svg          an SVG picture of the selected shapes instead, each with\n"
                             "                 its first text field as its title\n"
                             "  --dbf FILE     the attributes from FILE;  --no-dbf  without attributes\n"
                             "  --encoding NAME  the code page of the table's text, whatever it says\n"
                             "  --deleted      include deleted records, with the member \"deleted\": true\n"
                             "  --box W/E/S/N  only the records whose shapes meet the box (in longitude\n"
                             "                 and latitude; east below west runs across 180)\n"
                             "  --no-transform write the coordinates as stored, whatever the .prj says\n"
                             "  -o OUT         write to OUT instead of standard output; with no format\n"
                             "                 option, OUT's extension (.svg, .geojsons or .geojson)\n"
                             "                 chooses\n",
                             run_shapes};

}  // namespace vorpix::cli
