// DDS textures in the tool: "vorpix texture" (one mipmap level as PNG) and
// the texture layer of "vorpix render".
#include "cli.hpp"
#include "commands.hpp"
#include "canvas.hpp"
#include "render_layers.hpp"

#include "vorpix/texture.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace vorpix::cli {
namespace {

int run_texture(int argc, char **argv) {
    Args args(argc, argv, {"o", "level"});
    args.allow_flags({});
    if (args.positional().size() != 1) throw UsageError("name one DDS file");
    if (!args.has("o")) throw UsageError("name the PNG file to write with -o");
    const long index = args.integer("level", 0);
    if (index < 0) throw UsageError("--level wants 0 or more");
    const std::string &path = args.positional()[0];
    const features::TextureReader texture(path, note_input);
    if (static_cast<std::uint64_t>(index) >= texture.levels())
        throw InputError(path + ": has " + std::to_string(texture.levels()) + " mipmap level" +
                         (texture.levels() == 1 ? "" : "s") + ", no level " + std::to_string(index));
    const features::TextureLevel level = texture.level(static_cast<std::uint64_t>(index));
    if (level.width == 0 || level.height == 0)
        throw InputError(path + ": mipmap level " + std::to_string(index) + " is " + std::to_string(level.width) + "x" +
                         std::to_string(level.height) + " pixels: nothing to write");
    if (level.width > 1u << 20 || level.height > 1u << 20)
        throw InputError(path + ": mipmap level " + std::to_string(index) + " is too large for a PNG here");
    Output out(args.get("o"));
    out.append(encode_png(level.argb.data(), static_cast<int>(level.width), static_cast<int>(level.height)));
    out.commit();
    return 0;
}

}  // namespace

// The texture covers the whole world in plate carree, 180W to 180E and 90N
// to 90S. The level drawn is the smallest one that still has at least the
// picture's pixels per degree; only the part inside the box is kept, once for
// each whole turn of longitude that the box reaches.
void add_texture_layer(Picture &pic, const std::string &path, Progress &progress) {
    progress.say("texture");
    const features::TextureReader texture(path, note_input);
    if (texture.levels() == 0) throw InputError(path + ": the texture holds no mipmap level");
    const double wanted = pic.width / (pic.box.east - pic.box.west);  // pixels per degree
    std::uint64_t index = 0, w = texture.width(), h = texture.height();
    for (; index + 1 < texture.levels() && w / 2 > 0 && h / 2 > 0; ++index, w /= 2, h /= 2) {
        const std::uint64_t next_width = w / 2;
        if (next_width / 360.0 < wanted) break;
    }
    const features::TextureLevel level = texture.level(index);
    if (level.width == 0 || level.height == 0) return;
    const double south = std::max(-90.0, pic.box.south), north = std::min(90.0, pic.box.north);
    if (!(north > south)) return;
    const auto W = static_cast<double>(level.width), H = static_cast<double>(level.height);
    const long y0 = std::clamp(static_cast<long>(std::floor((90 - north) / 180 * H)), 0L, static_cast<long>(H) - 1);
    const long y1 = std::clamp(static_cast<long>(std::ceil((90 - south) / 180 * H)), y0 + 1, static_cast<long>(H));
    for (double shift = std::floor((pic.box.west + 180) / 360) * 360; shift - 180 < pic.box.east; shift += 360) {
        const double west = std::max(pic.box.west, shift - 180), east = std::min(pic.box.east, shift + 180);
        if (!(east > west)) continue;
        const long x0 = std::clamp(static_cast<long>(std::floor((west - shift + 180) / 360 * W)), 0L,
                                   static_cast<long>(W) - 1);
        const long x1 = std::clamp(static_cast<long>(std::ceil((east - shift + 180) / 360 * W)), x0 + 1,
                                   static_cast<long>(W));
        Op op{Op::Image, {}, 0, 0, {}, static_cast<int>(x1 - x0), static_cast<int>(y1 - y0), "texture"};
        op.image.reserve(static_cast<size_t>((x1 - x0) * (y1 - y0)));
        for (long y = y0; y < y1; ++y)
            for (long x = x0; x < x1; ++x) op.image.push_back(level.argb[static_cast<size_t>(y) * level.width + x]);
        op.rings.push_back(
            {{shift - 180 + x0 * 360 / W, 90 - y1 * 180 / H}, {shift - 180 + x1 * 360 / W, 90 - y0 * 180 / H}});
        pic.ops.push_back(std::move(op));
    }
}

const Command texture_command{"texture", "a DDS texture's mipmap level as PNG",
                              "usage: vorpix texture FILE.dds -o OUT.png [--level N]\n\n"
                              "Decompresses one mipmap level of a DXT1 or DXT5 texture and writes it as a\n"
                              "PNG with its alpha. Level 0 is the largest; each level halves the sides of\n"
                              "the one before (a side of 1 becomes 0, and such a level cannot be written).\n"
                              "DXT1's three-colour blocks decode their fourth colour as opaque black.\n"
                              "  --level N  the mipmap level to write; default 0\n"
                              "  -o OUT     the PNG file to write\n",
                              run_texture};

}  // namespace vorpix::cli
