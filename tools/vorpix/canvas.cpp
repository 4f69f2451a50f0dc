#include "canvas.hpp"

#include "cli.hpp"
#include "geo_output.hpp"

#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace vorpix::cli {

namespace {

// DejaVu comes with every Debian desktop and the fonts-dejavu-core package;
// fontconfig falls back to another sans face without it.
constexpr const char *font_family = "DejaVu Sans";

// Cairo and fontconfig keep the fonts they load until told otherwise; they
// are let go at exit, so that leak checkers see only the program's own.
struct FontsReleasedAtExit {
    ~FontsReleasedAtExit() {
        cairo_debug_reset_static_data();
        FcFini();
    }
} fonts_released_at_exit;

double channel(std::uint32_t argb, int shift) { return ((argb >> shift) & 255) / 255.0; }

void set_colour(cairo_t *cr, std::uint32_t argb) {
    cairo_set_source_rgba(cr, channel(argb, 16), channel(argb, 8), channel(argb, 0), channel(argb, 24));
}

// Greyscale antialiasing: colour fringes would show on a map's pastels.
void prepare_text(cairo_t *cr) {
    cairo_font_options_t *options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);
}

void select_font(cairo_t *cr, const TextStyle &style) {
    cairo_select_font_face(cr, font_family, CAIRO_FONT_SLANT_NORMAL,
                           style.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, style.size);
}

// A path's points as both canvases draw them: points that are not numbers
// are left out, and coordinates beyond a thousand pictures are brought in
// to there, so that neither the SVG's integers nor cairo's fixed-point
// numbers overflow. A segment so far out is off the picture anyway.
// The path itself when it needs nothing of this, else the copy made in fixed.
const PixelPath &drawable(const PixelPath &path, PixelPath &fixed) {
    constexpr double far = 1e6;
    auto near = [](double v) { return std::fabs(v) <= far; };  // false for NaN
    if (std::all_of(path.begin(), path.end(), [&](const auto &p) { return near(p.first) && near(p.second); }))
        return path;
    fixed.clear();
    for (const auto &[x, y] : path)
        if (!std::isnan(x) && !std::isnan(y)) fixed.emplace_back(std::clamp(x, -far, far), std::clamp(y, -far, far));
    return fixed;
}

double anchored_x(double x, double advance, Anchor anchor) {
    return anchor == Anchor::Start ? x : anchor == Anchor::Middle ? x - advance / 2 : x - advance;
}

class PngCanvas final : public Canvas {
public:
    PngCanvas(int width, int height, Sink sink)
        : sink_(std::move(sink)),
          surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)),
          cr_(cairo_create(surface_)) {
        prepare_text(cr_);
        // Round joins and caps cost much more to draw and, at the widths
        // of map lines, look the same as these.
        cairo_set_line_join(cr_, CAIRO_LINE_JOIN_BEVEL);
        cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);
        cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_EVEN_ODD);
    }
    ~PngCanvas() override {
        cairo_destroy(cr_);
        cairo_surface_destroy(surface_);
    }
    PngCanvas(const PngCanvas &) = delete;
    PngCanvas &operator=(const PngCanvas &) = delete;

    // Cairo's stroker slows down with the length of a path far faster than
    // linearly (a star of a million points took minutes), so lines go to it
    // in runs of at most a thousand segments, a few thousand segments a
    // stroke; the joins lost at the cuts are too small to see.
    void stroke_in_pieces(const std::vector<PixelPath> &paths, bool closed) {
        constexpr size_t run = 200, batch = 200;
        size_t queued = 0;
        PixelPath fixed;
        for (const auto &given : paths) {
            const PixelPath &p = drawable(given, fixed);
            const size_t n = p.size(), segments = n < 2 ? 0 : closed ? n : n - 1;
            for (size_t first = 0; first < segments;) {
                const size_t last = std::min(segments, first + run);
                cairo_move_to(cr_, p[first].first, p[first].second);
                for (size_t i = first + 1; i <= last; ++i) cairo_line_to(cr_, p[i % n].first, p[i % n].second);
                if (closed && first == 0 && last == segments) cairo_close_path(cr_);
                queued += last - first;
                first = last;
                if (queued >= batch) {
                    cairo_stroke(cr_);
                    queued = 0;
                }
            }
        }
        if (queued) cairo_stroke(cr_);
        cairo_new_path(cr_);
    }

    void path(const std::vector<PixelPath> &paths, bool closed, const PathStyle &style) override {
        cairo_new_path(cr_);
        if (style.fill >> 24) {
            PixelPath fixed;
            for (const auto &given : paths) {
                const PixelPath &p = drawable(given, fixed);
                if (p.empty()) continue;
                cairo_move_to(cr_, p[0].first, p[0].second);
                for (size_t i = 1; i < p.size(); ++i) cairo_line_to(cr_, p[i].first, p[i].second);
                if (closed) cairo_close_path(cr_);
            }
            set_colour(cr_, style.fill);
            cairo_fill(cr_);
        }
        if (style.stroke >> 24 && style.width > 0) {
            set_colour(cr_, style.stroke);
            cairo_set_line_width(cr_, style.width);
            const double dashes[] = {style.dash, style.dash * 0.7};
            cairo_set_dash(cr_, dashes, style.dash > 0 ? 2 : 0, 0);
            stroke_in_pieces(paths, closed);
        }
    }

    void image(const std::uint32_t *argb, int width, int height, double x0, double y0, double x1, double y1) override {
        if (width <= 0 || height <= 0) return;
        cairo_surface_t *source = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
        cairo_surface_flush(source);
        unsigned char *data = cairo_image_surface_get_data(source);
        const int stride = cairo_image_surface_get_stride(source);
        // Cairo keeps its pixels with the colour multiplied by alpha.
        for (int y = 0; y < height; ++y) {
            auto *row = reinterpret_cast<std::uint32_t *>(data + static_cast<size_t>(y) * stride);
            for (int x = 0; x < width; ++x) {
                const std::uint32_t p = argb[static_cast<size_t>(y) * width + x], a = p >> 24;
                auto mul = [a](std::uint32_t c) { return (c * a + 127) / 255; };
                row[x] = (a << 24) | (mul((p >> 16) & 255) << 16) | (mul((p >> 8) & 255) << 8) | mul(p & 255);
            }
        }
        cairo_surface_mark_dirty(source);
        cairo_save(cr_);
        cairo_rectangle(cr_, x0, y0, x1 - x0, y1 - y0);
        cairo_clip(cr_);
        cairo_translate(cr_, x0, y0);
        cairo_scale(cr_, (x1 - x0) / width, (y1 - y0) / height);
        cairo_set_source_surface(cr_, source, 0, 0);
        cairo_pattern_set_extend(cairo_get_source(cr_), CAIRO_EXTEND_PAD);
        cairo_paint(cr_);
        cairo_restore(cr_);
        cairo_surface_destroy(source);
    }

    void text(double x, double y, const std::string &utf8, const TextStyle &style) override {
        select_font(cr_, style);
        cairo_text_extents_t extents;
        cairo_text_extents(cr_, utf8.c_str(), &extents);
        cairo_new_path(cr_);
        cairo_move_to(cr_, anchored_x(x, extents.x_advance, style.anchor), y);
        if (style.halo >> 24) {
            cairo_text_path(cr_, utf8.c_str());
            set_colour(cr_, style.halo);
            cairo_set_line_width(cr_, 3);
            cairo_set_dash(cr_, nullptr, 0, 0);
            cairo_stroke(cr_);
            cairo_move_to(cr_, anchored_x(x, extents.x_advance, style.anchor), y);
        }
        set_colour(cr_, style.colour);
        cairo_show_text(cr_, utf8.c_str());
        cairo_new_path(cr_);
    }

    std::string finish() override {
        cairo_surface_flush(surface_);
        const int width = cairo_image_surface_get_width(surface_), height = cairo_image_surface_get_height(surface_);
        const int stride = cairo_image_surface_get_stride(surface_);
        const unsigned char *data = cairo_image_surface_get_data(surface_);
        std::vector<std::uint32_t> argb(static_cast<size_t>(width) * height);
        for (int y = 0; y < height; ++y) {
            const auto *row = reinterpret_cast<const std::uint32_t *>(data + static_cast<size_t>(y) * stride);
            for (int x = 0; x < width; ++x) {
                const std::uint32_t p = row[x], a = p >> 24;
                auto straight = [a](std::uint32_t c) {
                    return a ? std::min<std::uint32_t>(255, (c * 255 + a / 2) / a) : 0;
                };
                argb[static_cast<size_t>(y) * width + x] = a == 255
                                                               ? p
                                                               : (a << 24) | straight((p >> 16) & 255) << 16 |
                                                                     straight((p >> 8) & 255) << 8 | straight(p & 255);
            }
        }
        std::string png = encode_png(argb.data(), width, height);
        if (!sink_) return png;
        sink_(png.data(), png.size());
        return {};
    }

private:
    Sink sink_;
    cairo_surface_t *surface_;
    cairo_t *cr_;
};

std::string colour_attribute(const char *name, std::uint32_t argb) {
    char buffer[64];
    const unsigned alpha = argb >> 24;
    if (alpha == 255) std::snprintf(buffer, sizeof buffer, " %s=\"#%06x\"", name, argb & 0xffffffu);
    else
        std::snprintf(buffer, sizeof buffer, " %s=\"#%06x\" %s-opacity=\"%.3f\"", name, argb & 0xffffffu, name,
                      alpha / 255.0);
    return buffer;
}

// Tenths of a pixel are finer than any renderer shows; shorter text keeps
// large maps quick to write and to read. Written by hand: these numbers are
// most of a map's bytes.
// v in tenths, rounded half away from zero as lround rounds, within 1e13.
long long tenths_of(double v) {
    if (!(std::fabs(v) <= 1e12)) v = std::isnan(v) ? 0 : std::copysign(1e12, v);
    const double scaled = v * 10;
    auto tenths = static_cast<long long>(scaled);              // toward zero, and exact
    const double rest = scaled - static_cast<double>(tenths);  // exact too
    return tenths + static_cast<long long>(rest >= 0.5) - static_cast<long long>(rest <= -0.5);
}

// A number of tenths as decimal text at out, which has room for
// number_room bytes, as short as it reads: "-12.3", "12", ".5", "0"; the
// end.
constexpr size_t number_room = 24;
char *put_tenths(char *out, long long tenths) {
    if (tenths < 0) *out++ = '-', tenths = -tenths;
    auto whole = static_cast<unsigned long long>(tenths / 10);
    const auto tenth = static_cast<char>('0' + tenths % 10);
    if (whole == 0 && tenth != '0') {
        out[0] = '.';
        out[1] = tenth;
        return out + 2;
    }
    int digits = 1;
    for (unsigned long long power = 10; digits < 20 && whole >= power; power *= 10) ++digits;
    // Two digits at a time, from the last.
    static constexpr char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    char *end = out + digits, *p = end;
    for (; whole >= 10; whole /= 100) {
        const auto pair = static_cast<size_t>(whole % 100) * 2;
        *--p = pairs[pair + 1];
        *--p = pairs[pair];
    }
    if (p > out) *--p = static_cast<char>('0' + whole);
    if (tenth == '0') return end;
    end[0] = '.';
    end[1] = tenth;
    return end + 2;
}

void append_number(std::string &out, double v) {
    char text[number_room];
    out.append(text, put_tenths(text, tenths_of(v)));
}

std::string base64(const std::string &bytes) {
    static const char *digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) << 8 : 0) |
                           (i + 2 < bytes.size() ? static_cast<unsigned char>(bytes[i + 2]) : 0);
        out += digits[(v >> 18) & 63];
        out += digits[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? digits[(v >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? digits[v & 63] : '=';
    }
    return out;
}

class SvgCanvas final : public Canvas {
public:
    SvgCanvas(int width, int height, Sink sink) : sink_(std::move(sink)) {
        char head[320];
        std::snprintf(head, sizeof head,
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
                      "font-family=\"%s, sans-serif\" stroke-linejoin=\"round\" stroke-linecap=\"round\">\n",
                      width, height, width, height, font_family);
        text_ = head;
    }

    void path(const std::vector<PixelPath> &paths, bool closed, const PathStyle &style) override {
        text_ += "<path d=\"";
        PixelPath fixed;
        // Points are written through a buffer of their own, a few hundred at
        // a time, rather than a character at a time onto the text. After a
        // path's first point, each is written as the step from the one
        // before in whole tenths of a pixel, which add up exactly to where
        // it lies, in about half the bytes.
        char points[8192], *at = points;
        for (const auto &given : paths) {
            const PixelPath &p = drawable(given, fixed);
            long long x0 = 0, y0 = 0;
            for (size_t i = 0; i < p.size(); ++i) {
                if (at > points + sizeof points - 2 * number_room - 3) {
                    text_.append(points, at);
                    at = points;
                }
                const long long x = tenths_of(p[i].first), y = tenths_of(p[i].second);
                *at++ = i ? (i == 1 ? 'l' : ' ') : 'M';
                at = put_tenths(at, x - x0);
                *at++ = ' ';
                at = put_tenths(at, y - y0);
                x0 = x, y0 = y;
            }
            if (closed && !p.empty()) *at++ = 'Z';
        }
        text_.append(points, at);
        text_ += '"';
        if (style.fill >> 24) text_ += colour_attribute("fill", style.fill) + " fill-rule=\"evenodd\"";
        else text_ += " fill=\"none\"";
        if (style.stroke >> 24 && style.width > 0) {
            text_ += colour_attribute("stroke", style.stroke) + " stroke-width=\"";
            append_number(text_, style.width);
            text_ += '"';
            if (style.dash > 0) {
                text_ += " stroke-dasharray=\"";
                append_number(text_, style.dash);
                text_ += ' ';
                append_number(text_, style.dash * 0.7);
                text_ += '"';
            }
        }
        text_ += "/>\n";
        flush();
    }

    void image(const std::uint32_t *argb, int width, int height, double x0, double y0, double x1, double y1) override {
        if (width <= 0 || height <= 0) return;
        char place[192];
        std::snprintf(place, sizeof place,
                      "<image x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" preserveAspectRatio=\"none\" ", x0,
                      y0, x1 - x0, y1 - y0);
        text_ += place + std::string("href=\"data:image/png;base64,") + base64(encode_png(argb, width, height)) +
                 "\"/>\n";
        flush();
    }

    void text(double x, double y, const std::string &utf8, const TextStyle &style) override {
        char place[96];
        std::snprintf(place, sizeof place, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"%g\"", x, y, style.size);
        text_ += place + colour_attribute("fill", style.colour);
        if (style.anchor != Anchor::Start)
            text_ += style.anchor == Anchor::Middle ? " text-anchor=\"middle\"" : " text-anchor=\"end\"";
        if (style.bold) text_ += " font-weight=\"bold\"";
        if (style.halo >> 24)
            text_ += colour_attribute("stroke", style.halo) + " stroke-width=\"3\" paint-order=\"stroke\"";
        text_ += ">" + xml_text(utf8) + "</text>\n";
        flush();
    }

    std::string finish() override {
        text_ += "</svg>\n";
        if (!sink_) return std::move(text_);
        sink_(text_.data(), text_.size());
        return {};
    }

private:
    // Hands what is drawn so far to the sink once it is a good piece.
    void flush() {
        if (!sink_ || text_.size() < (1u << 20)) return;
        sink_(text_.data(), text_.size());
        text_.clear();
    }

    Sink sink_;
    std::string text_;
};

void append_bytes(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::string *>(png_get_io_ptr(png))->append(reinterpret_cast<const char *>(data), length);
}

void no_flush(png_structp) {}

}  // namespace

std::unique_ptr<Canvas> svg_canvas(int width, int height, Sink sink) {
    return std::make_unique<SvgCanvas>(width, height, std::move(sink));
}
std::unique_ptr<Canvas> png_canvas(int width, int height, Sink sink) {
    return std::make_unique<PngCanvas>(width, height, std::move(sink));
}

double text_width(const std::string &utf8, const TextStyle &style) {
    cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
    cairo_t *cr = cairo_create(surface);
    prepare_text(cr);
    select_font(cr, style);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, utf8.c_str(), &extents);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return extents.x_advance;
}

namespace {

// The image through libpng into out, row by row through row (3 or 4 bytes a
// pixel: without alpha when opaque). libpng reports failure by longjmp back
// here, so nothing in this frame needs destroying.
bool write_png(png_structp png, png_infop info, std::string *out, const std::uint32_t *argb, int width, int height,
               bool opaque, unsigned char *row) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, out, append_bytes, no_flush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Maps are mostly flat colour: the cheap filter and a fast level pack
    // them nearly as small as the slow ones, in a fraction of the time.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_compression_level(png, 3);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        unsigned char *at = row;
        for (int x = 0; x < width; ++x) {
            const std::uint32_t p = argb[static_cast<size_t>(y) * width + x];
            *at++ = (p >> 16) & 255, *at++ = (p >> 8) & 255, *at++ = p & 255;
            if (!opaque) *at++ = p >> 24;
        }
        png_write_row(png, row);
    }
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

std::string encode_png(const std::uint32_t *argb, int width, int height) {
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_write_struct(&png, &info);
        throw InputError("cannot start a PNG image");
    }
    // An image with no pixel that shows through (a map on its sea, most
    // textures) is written without alpha: a quarter fewer bytes to pack.
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    const bool opaque = std::all_of(argb, argb + pixels, [](std::uint32_t p) { return p >> 24 == 255; });
    std::vector<unsigned char> row(static_cast<size_t>(width) * (opaque ? 3 : 4));
    const bool written = write_png(png, info, &out, argb, width, height, opaque, row.data());
    png_destroy_write_struct(&png, &info);
    if (!written) throw InputError("cannot encode the PNG image");
    return out;
}

}  // namespace vorpix::cli
