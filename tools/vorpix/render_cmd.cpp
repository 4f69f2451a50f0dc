// vorpix render: one map picture of a box from every layer the library reads:
// a texture underneath, shorelines, borders, rivers and shapes, with a
// graticule and a legend; as SVG, or PNG when asked.
#include "cli.hpp"
#include "commands.hpp"
#include "raster.hpp"
#include "render_layers.hpp"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace vorpix::cli {

Picture::Picture(const Box &b, int w) : box(b), width(std::max(16, w)) {
    const double span_lon = std::max(box.east - box.west, 1e-9), span_lat = std::max(box.north - box.south, 1e-9);
    height = std::max(16, static_cast<int>(std::lround(width * span_lat / span_lon)));
}

double Picture::x(double lon) const { return (lon - box.west) / (box.east - box.west) * width; }
double Picture::y(double lat) const { return (box.north - lat) / (box.north - box.south) * height; }

void Picture::add_legend(const std::string &label, std::uint32_t colour, bool line) {
    for (const auto &entry : legend)
        if (entry.label == label) return;
    legend.push_back({label, colour, line});
}

Progress::Progress() : enabled_(::isatty(2) != 0) {}

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

PixelPath to_pixels(const Picture &pic, const Ring &ring) {
    PixelPath out;
    out.reserve(ring.size());
    for (const auto &[lon, lat] : ring) out.emplace_back(pic.x(lon), pic.y(lat));
    return out;
}

std::string svg_path_data(const Picture &pic, const std::vector<Ring> &rings, bool closed) {
    std::string d;
    char buffer[64];
    for (const auto &ring : rings) {
        for (size_t i = 0; i < ring.size(); ++i) {
            std::snprintf(buffer, sizeof buffer, "%c%.2f %.2f", i ? 'L' : 'M', pic.x(ring[i].first),
                          pic.y(ring[i].second));
            d += buffer;
        }
        if (closed && !ring.empty()) d += "Z";
    }
    return d;
}

double graticule_step(const Box &box) {
    const double span = std::max(box.east - box.west, box.north - box.south);
    for (double step : {1.0, 2.0, 5.0, 10.0, 15.0, 30.0})
        if (span / step <= 12) return step;
    return 60;
}

void add_graticule(Picture &pic) {
    const double step = graticule_step(pic.box);
    for (double lon = std::ceil(pic.box.west / step) * step; lon <= pic.box.east; lon += step)
        pic.ops.push_back({Op::Stroke, {{{lon, pic.box.south}, {lon, pic.box.north}}}, 0x60404040u, 0.6, {}, 0, 0, ""});
    for (double lat = std::ceil(pic.box.south / step) * step; lat <= pic.box.north; lat += step)
        pic.ops.push_back({Op::Stroke, {{{pic.box.west, lat}, {pic.box.east, lat}}}, 0x60404040u, 0.6, {}, 0, 0, ""});
}

std::string format_degrees(double v, char positive, char negative) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g°%c", std::fabs(v), v < 0 ? negative : positive);
    return buffer;
}

std::string to_svg(const Picture &pic) {
    std::string out;
    char head[256];
    std::snprintf(head, sizeof head,
                  "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
                  "font-family=\"sans-serif\">\n",
                  pic.width, pic.height, pic.width, pic.height);
    out += head;
    out += "<rect width=\"100%\" height=\"100%\" fill=\"" + svg_colour(pic.background) + "\"/>\n";
    for (const auto &op : pic.ops) {
        const double opacity = (op.colour >> 24) / 255.0;
        char alpha[32];
        std::snprintf(alpha, sizeof alpha, "%.3f", opacity);
        switch (op.kind) {
        case Op::Fill:
            out += "<path d=\"" + svg_path_data(pic, op.rings, true) + "\" fill=\"" + svg_colour(op.colour) +
                   "\" fill-opacity=\"" + alpha + "\" fill-rule=\"evenodd\" stroke=\"#6b5a3c\" stroke-width=\"0.4\"/>\n";
            break;
        case Op::Stroke: {
            char width[32];
            std::snprintf(width, sizeof width, "%.2f", op.width);
            out += "<path d=\"" + svg_path_data(pic, op.rings, false) + "\" fill=\"none\" stroke=\"" +
                   svg_colour(op.colour) + "\" stroke-opacity=\"" + alpha + "\" stroke-width=\"" + width + "\"/>\n";
            break;
        }
        case Op::Image: {
            const std::string png = encode_png(op.image.data(), op.image_width, op.image_height);
            static const char *digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
            std::string b64;
            for (size_t i = 0; i < png.size(); i += 3) {
                const unsigned v = (static_cast<unsigned char>(png[i]) << 16) |
                                   (i + 1 < png.size() ? static_cast<unsigned char>(png[i + 1]) << 8 : 0) |
                                   (i + 2 < png.size() ? static_cast<unsigned char>(png[i + 2]) : 0);
                b64 += digits[(v >> 18) & 63];
                b64 += digits[(v >> 12) & 63];
                b64 += i + 1 < png.size() ? digits[(v >> 6) & 63] : '=';
                b64 += i + 2 < png.size() ? digits[v & 63] : '=';
            }
            const Ring &r = op.rings.at(0);
            char place[160];
            std::snprintf(place, sizeof place,
                          "<image x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" preserveAspectRatio=\"none\" ",
                          pic.x(r[0].first), pic.y(r[1].second), pic.x(r[1].first) - pic.x(r[0].first),
                          pic.y(r[0].second) - pic.y(r[1].second));
            out += place + std::string("href=\"data:image/png;base64,") + b64 + "\"/>\n";
            break;
        }
        }
    }
    // Graticule labels along the bottom and left edges.
    const double step = graticule_step(pic.box);
    char text[256];
    for (double lon = std::ceil(pic.box.west / step) * step; lon <= pic.box.east; lon += step) {
        std::snprintf(text, sizeof text, "<text x=\"%.1f\" y=\"%d\" font-size=\"11\" fill=\"#303030\">%s</text>\n",
                      pic.x(lon) + 2, pic.height - 4, format_degrees(lon, 'E', 'W').c_str());
        out += text;
    }
    for (double lat = std::ceil(pic.box.south / step) * step; lat <= pic.box.north; lat += step) {
        if (pic.y(lat) > pic.height - 16) continue;  // the longitude labels sit there
        std::snprintf(text, sizeof text, "<text x=\"3\" y=\"%.1f\" font-size=\"11\" fill=\"#303030\">%s</text>\n",
                      pic.y(lat) - 3, format_degrees(lat, 'N', 'S').c_str());
        out += text;
    }
    // The legend, top right.
    const int rows = static_cast<int>(pic.legend.size());
    if (rows) {
        const int lx = pic.width - 170, ly = 10;
        std::snprintf(text, sizeof text,
                      "<rect x=\"%d\" y=\"%d\" width=\"160\" height=\"%d\" fill=\"#ffffff\" fill-opacity=\"0.85\" "
                      "stroke=\"#606060\"/>\n",
                      lx, ly, 10 + 18 * rows);
        out += text;
        for (int i = 0; i < rows; ++i) {
            const auto &e = pic.legend[static_cast<size_t>(i)];
            const int y = ly + 8 + 18 * i;
            if (e.line)
                std::snprintf(text, sizeof text,
                              "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"%s\" stroke-width=\"2\"/>\n",
                              lx + 8, y + 6, lx + 28, y + 6, svg_colour(e.colour).c_str());
            else
                std::snprintf(text, sizeof text,
                              "<rect x=\"%d\" y=\"%d\" width=\"20\" height=\"12\" fill=\"%s\" stroke=\"#606060\"/>\n",
                              lx + 8, y, svg_colour(e.colour).c_str());
            out += text;
            out += "<text x=\"" + std::to_string(lx + 36) + "\" y=\"" + std::to_string(y + 11) +
                   "\" font-size=\"12\" fill=\"#202020\">" + e.label + "</text>\n";
        }
    }
    return out + "</svg>\n";
}

std::string to_png(const Picture &pic) {
    Raster raster(pic.width, pic.height, pic.background);
    for (const auto &op : pic.ops) {
        switch (op.kind) {
        case Op::Fill: {
            std::vector<PixelPath> rings;
            for (const auto &ring : op.rings) rings.push_back(to_pixels(pic, ring));
            raster.fill(rings, op.colour);
            break;
        }
        case Op::Stroke:
            for (const auto &ring : op.rings) raster.stroke(to_pixels(pic, ring), op.width, op.colour);
            break;
        case Op::Image: {
            const Ring &r = op.rings.at(0);
            raster.image(op.image.data(), op.image_width, op.image_height, pic.x(r[0].first), pic.y(r[1].second),
                         pic.x(r[1].first), pic.y(r[0].second));
            break;
        }
        }
    }
    // The legend's swatches (a raster has no text).
    const int lx = pic.width - 40;
    for (size_t i = 0; i < pic.legend.size(); ++i) {
        const double y = 10 + 18.0 * static_cast<double>(i);
        raster.rectangle(lx - 2, y - 2, lx + 22, y + 14, 0xff606060u);
        raster.rectangle(lx, y, lx + 20, y + 12, pic.legend[i].colour | 0xff000000u);
    }
    return encode_png(raster.pixels().data(), raster.width(), raster.height());
}

int run_render(int argc, char **argv) {
    Args args(argc, argv, {"box", "res", "shapes", "texture", "width", "o", "kinds"});
    args.allow_flags({"png", "borders", "rivers", "no-coast", "no-graticule"});
    if (!args.positional().empty()) throw UsageError("unexpected argument \"" + args.positional()[0] + "\"");
    const Box box = parse_box(args.get("box", "-180/180/-90/90"));
    if (!(box.east > box.west)) throw UsageError("the box's east edge must lie east of its west edge");
    const long width = args.integer("width", 1200);
    if (width < 16 || width > 20000) throw UsageError("--width wants 16 to 20000 pixels");
    Picture pic(box, static_cast<int>(width));
    const std::string res = args.get("res", "l");
    Progress progress;
    if (args.has("texture")) add_texture_layer(pic, args.get("texture"), progress);
    if (!args.flag("no-coast")) add_coast_layer(pic, res, args.get("kinds", "f:0"), progress);
    if (args.flag("rivers")) add_line_layer(pic, true, res, progress);
    if (args.flag("borders")) add_line_layer(pic, false, res, progress);
    if (args.has("shapes")) add_shape_layer(pic, args.get("shapes"), progress);
    if (!args.flag("no-graticule")) add_graticule(pic);
    Output out(args.get("o"));
    progress.say("writing");
    out.append(args.flag("png") ? to_png(pic) : to_svg(pic));
    out.commit();
    return 0;
}

}  // namespace

const Command render_command{
    "render", "one map picture of a box from every layer, as SVG or PNG",
    "usage: vorpix render [--box W/E/S/N] [--res RES] [--kinds KINDS] [--borders] [--rivers]\n"
    "                     [--shapes FILE.shp] [--texture FILE.dds] [--width PIXELS]\n"
    "                     [--no-coast] [--no-graticule] [--png] [-o OUT]\n\n"
    "Draws, for the box (default the whole world), from the bottom up: a DDS\n"
    "texture covering the whole world (plate carree, 180W to 180E), the sea,\n"
    "shoreline polygons (land, lakes, islands in lakes, ponds), rivers, national\n"
    "borders and the shapes of a shapefile, then a graticule and a legend.\n"
    "  --res RES      resolution of shorelines, borders and rivers (c l i h f);\n"
    "                 default l\n"
    "  --kinds KINDS  the shoreline kinds, as for 'vorpix coast'; default f:0\n"
    "  --width PIXELS the picture's width; its height follows the box; default 1200\n"
    "  --png          write a PNG picture instead of SVG (the PNG has no text)\n"
    "  -o OUT         write to OUT instead of standard output\n"
    "Progress is shown on standard error when it is a terminal.\n",
    run_render};

}  // namespace vorpix::cli
