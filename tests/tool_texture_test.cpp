// vorpix texture on DDS files, its PNGs read back by Pillow, and the texture
// layer of "render" across the 180-degree seam.
#include "dds.h"

#include "arrays.h"
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace vorpix::test;

struct Image {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint32_t> argb;
};

// A PNG's pixels as Pillow reads them.
Image read_png(const std::string &path) {
    const auto r = run_command(
        python_command() +
        " -c \"import sys; from PIL import Image; im = Image.open(sys.argv[1]).convert('RGBA'); "
        "d = im.tobytes(); print(*im.size, *[d[i + 3] << 24 | d[i] << 16 | d[i + 1] << 8 | d[i + 2] "
        "for i in range(0, len(d), 4)])\" " +
        path);
    EXPECT_EQ(r.status, 0) << r.output;
    Image image;
    std::istringstream in(r.output);
    in >> image.width >> image.height;
    for (std::uint32_t pixel; in >> pixel;) image.argb.push_back(pixel);
    return image;
}

// Level `index` of a DXT1 chain as the library decodes it.
Image library_level(const std::string &path, int index) {
    auto bytes = read_file(path);
    DDSFILEStr *file = nullptr;
    Image image;
    EXPECT_EQ(dds_decode_file_sized(&file, index, bytes.data(), static_cast<long>(bytes.size())), 0);
    image.width = static_cast<std::uint32_t>(file->header.dwWidth >> index);
    image.height = static_cast<std::uint32_t>(file->header.dwHeight >> index);
    const auto *pixels = static_cast<const std::uint32_t *>(gettbl(file->argb_mipmaps, 0));
    image.argb.assign(pixels, pixels + size_t(image.width) * image.height);
    freetbl(file->argb_mipmaps, std::free);
    std::free(file);
    return image;
}

std::string world_texture() { return std::string(VORPIX_SOURCE_DIR) + "/maps/vorpix/world_texture.dds"; }

// A file cut in its chain, and levels that are not there or have no pixels:
// one line naming the file, status 1.
TEST(ToolTexture, RefusalsAreOneLineNamingTheFile) {
    TempDir dir;
    auto bytes = read_file(fixture_path("dds/dxt1_64x32.dds"));
    bytes.resize(1500);
    const std::string cut = dir.file("cut.dds"), dds = fixture_path("dds/dxt1_32x8.dds");
    write_file(cut, bytes.data(), bytes.size());
    const std::string truncated = ": truncated file: mipmap level 5 (2x1) at byte 1496: 8 bytes needed, 4 remain\n";
    // clang-format off
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"info ", cut, truncated},
        {"texture -o /dev/null ", cut, truncated},
        {"texture --level 6 -o /dev/null ", dds, ": has 6 mipmap levels, no level 6\n"},
        {"texture --level 4 -o /dev/null ", dds, ": mipmap level 4 is 2x0 pixels: nothing to write\n"},
    };
    // clang-format on
    for (const auto &[command, file, message] : cases) {
        const auto r = run_command(tool_command() + " " + command + file + " 2>&1");
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_EQ(r.output, "vorpix: " + file + message) << command;
    }
}

// Each level of a DXT1 chain as the library decodes it, and DXT5 with its alpha.
TEST(ToolTexture, WritesEachLevelAsAPngOfTheDecodedPixels) {
    TempDir dir;
    const std::string dds = fixture_path("dds/dxt1_64x32.dds");
    for (int level : {0, 1, 3, 5}) {
        const std::string out = dir.file("level" + std::to_string(level) + ".png");
        const auto r = run_command(tool_command() + " texture " + dds + " --level " + std::to_string(level) + " -o " +
                                   out + " 2>&1");
        ASSERT_EQ(r.status, 0) << r.output;
        const Image png = read_png(out), ours = library_level(dds, level);
        EXPECT_EQ(png.width, ours.width);
        EXPECT_EQ(png.height, ours.height);
        EXPECT_EQ(png.argb, ours.argb) << "level " << level;
    }
    const std::string dxt5 = fixture_path("dds/dxt5_13x7.dds");
    ASSERT_EQ(run_command(tool_command() + " texture " + dxt5 + " -o " + dir.file("a.png")).status, 0);
    const auto bytes = read_file(dxt5);
    std::vector<std::uint32_t> ours(13 * 8);
    BlockDecompressImageDXT5(13, 7, bytes.data() + 128, ours.data());
    ours.resize(13 * 7);
    const Image png = read_png(dir.file("a.png"));
    EXPECT_EQ(png.argb, ours);
    EXPECT_TRUE(std::any_of(png.argb.begin(), png.argb.end(), [](std::uint32_t p) { return p >> 24 != 255; }));
}

// The whole world at the texture's own size draws the texture pixel for
// pixel; a box from 90E to 270E shows its eastern half, then its western.
TEST(ToolTexture, RenderDrawsTheTextureUnderTheMapAcrossTheSeam) {
    TempDir dir;
    const Image texture = library_level(world_texture(), 0);
    ASSERT_EQ(texture.width, 256u);
    const std::string common = tool_command() + " render --no-coast --no-graticule --png --texture " + world_texture();
    ASSERT_EQ(run_command(common + " --width 256 -o " + dir.file("world.png")).status, 0);
    const Image world = read_png(dir.file("world.png"));
    EXPECT_EQ(world.argb, texture.argb);

    ASSERT_EQ(run_command(common + " --box 90/270/-90/90 --width 128 -o " + dir.file("seam.png")).status, 0);
    const Image seam = read_png(dir.file("seam.png"));
    ASSERT_EQ(seam.width, 128u);
    ASSERT_EQ(seam.height, 128u);
    for (std::uint32_t y = 0; y < 128; ++y)
        for (std::uint32_t x = 0; x < 128; ++x)
            ASSERT_EQ(seam.argb[y * 128 + x], texture.argb[y * 256 + (x + 192) % 256]) << x << "," << y;
}

}  // namespace
