// S3TC block decompression: hand-worked blocks for every mode, every pair of
// alpha endpoints against Pillow, and the image geometry at sides that are
// not multiples of 4. Whole files against Pillow are in dds_strdefs_test.
#include "dds.h"

#include "dds_oracle.hpp"
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace vorpix::test;

constexpr std::uint32_t sentinel = 0xDEADBEEFu;

std::array<unsigned char, 8> dxt1_block(unsigned c0, unsigned c1, std::uint32_t indices) {
    const std::uint64_t bits = c0 | std::uint64_t(c1) << 16 | std::uint64_t(indices) << 32;
    std::array<unsigned char, 8> b{};
    for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(bits >> (8 * i));
    return b;
}

// Two alphas, every alpha code 0, then a colour block.
std::array<unsigned char, 16> dxt5_block(unsigned a0, unsigned a1, unsigned c0, unsigned c1, std::uint32_t indices) {
    std::array<unsigned char, 16> b{static_cast<unsigned char>(a0), static_cast<unsigned char>(a1)};
    const auto colour = dxt1_block(c0, c1, indices);
    std::copy(colour.begin(), colour.end(), b.begin() + 8);
    return b;
}

std::vector<std::uint32_t> decode_dxt1_block(const std::array<unsigned char, 8> &block) {
    std::vector<std::uint32_t> image(16, sentinel);
    DecompressBlockDXT1(0, 0, 4, block.data(), image.data());
    return image;
}

// Every row uses indices 0, 1, 2, 3 from left to right, so each row shows
// the block's four colours in order.
struct Dxt1Case {
    const char *name;
    unsigned c0, c1;
    std::array<std::uint32_t, 4> colours;
};

void PrintTo(const Dxt1Case &c, std::ostream *os) { *os << c.name; }

class S3tcDxt1Modes : public ::testing::TestWithParam<Dxt1Case> {};

TEST_P(S3tcDxt1Modes, DecodesTheFourIndices) {
    const auto &c = GetParam();
    const auto image = decode_dxt1_block(dxt1_block(c.c0, c.c1, 0xE4E4E4E4u));
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) EXPECT_EQ(image[4 * j + i], c.colours[i]) << std::hex << "pixel " << i << "," << j;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(HandWorked, S3tcDxt1Modes, ::testing::Values(
    Dxt1Case{"FourColourWhiteOverBlackInterpolatesInThirds", 0xFFFF, 0x0000, {0xFFFFFFFFu, 0xFF000000u, 0xFFAAAAAAu, 0xFF555555u}},
    Dxt1Case{"ThreeColourBlackUnderWhiteAveragesAndEndsInOpaqueBlack", 0x0000, 0xFFFF, {0xFF000000u, 0xFFFFFFFFu, 0xFF7F7F7Fu, 0xFF000000u}},
    // 0x1234: red 2 -> 16, green 17 -> 69, blue 20 -> 164.
    Dxt1Case{"EqualEndpointsAreThreeColour", 0x1234, 0x1234, {0xFF1045A4u, 0xFF1045A4u, 0xFF1045A4u, 0xFF000000u}},
    // Red 31 -> 255 and 1 -> 8: (510 + 8) / 3 = 172, (255 + 16) / 3 = 90.
    Dxt1Case{"ThirdsTruncate", 0xF800, 0x0800, {0xFFFF0000u, 0xFF080000u, 0xFFAC0000u, 0xFF5A0000u}},
    // Red 20, green 53, blue 25 against red 29: 164, 214, 205 and 238, one
    // below rounding; the half-way colour truncates (201, 107, 102).
    Dxt1Case{"EndpointsExpandByTheShiftAndAddRule", (20u << 11) | (53u << 5) | 25u, 29u << 11, {0xFFA4D6CDu, 0xFFEE0000u, 0xFFC96B66u, 0xFF000000u}}),
    [](const auto &info) { return std::string(info.param.name); });
// clang-format on

// Every pair of alpha endpoints, each with its eight codes, written and
// decoded by Python and Pillow alone.
TEST(S3tcDxt5, EveryPairOfAlphasDecodesAsPillowDecodesIt) {
    TempDir dir;
    const std::string dds = dir.file("pairs.dds"), pillow = dir.file("pairs.pillow");
    const std::string python = python_command();
    ASSERT_EQ(run_command(python + " " + fixture_path("dds/alpha_pairs.py") + " " + dds).status, 0);
    ASSERT_EQ(run_command(python + " " + fixture_path("dds/pillow_decode.py") + " " + dds + " " + pillow).status, 0);
    const auto file = read_file(dds);
    const auto levels = read_pillow_levels(pillow);
    ASSERT_EQ(levels.size(), 1u);
    const auto &level = levels[0];
    ASSERT_EQ(file.size(), 128 + size_t(level.width / 4) * (level.height / 4) * 16);
    std::vector<std::uint32_t> ours(size_t(level.width) * level.height);
    BlockDecompressImageDXT5(level.width, level.height, file.data() + 128, ours.data());
    for (size_t k = 0; k < ours.size(); ++k) {
        const size_t x = k % level.width, y = k / level.width;
        ASSERT_EQ(ours[k], level.argb[k])
            << "alphas " << y / 4 << " and " << x / 4 << ", code " << (4 * (y % 4) + x % 4) % 8;
    }
}

// Images of solid blocks, block b coloured with a distinct 5:6:5 value, so
// that every pixel shows which block wrote it.
struct Geometry {
    unsigned long width, height;
};

void PrintTo(const Geometry &g, std::ostream *os) { *os << g.width << "x" << g.height; }

class S3tcImageGeometry : public ::testing::TestWithParam<Geometry> {};

TEST_P(S3tcImageGeometry, WritesWholeBlockRowsButNoColumnPastTheWidth) {
    const auto [width, height] = GetParam();
    const unsigned long bx = (width + 3) / 4, by = (height + 3) / 4;
    std::vector<unsigned char> dxt1, dxt5;
    std::vector<std::uint32_t> colour_of;  // the decoded colour of each block
    for (unsigned long b = 0; b < bx * by; ++b) {
        const unsigned c = static_cast<unsigned>(0x0841u * (b + 1));  // red, green, blue b+1 in their fields
        const auto block = dxt1_block(c, c, 0);
        dxt1.insert(dxt1.end(), block.begin(), block.end());
        const auto block5 = dxt5_block(255, 255, c, c, 0);
        dxt5.insert(dxt5.end(), block5.begin(), block5.end());
        colour_of.push_back(decode_dxt1_block(block)[0]);
    }
    const size_t rows = 4 * by, pixels = width * rows;
    for (bool five : {false, true}) {
        std::vector<std::uint32_t> image(pixels + 8, sentinel);
        if (five) BlockDecompressImageDXT5(width, height, dxt5.data(), image.data());
        else BlockDecompressImageDXT1(width, height, dxt1.data(), image.data());
        for (size_t y = 0; y < rows; ++y)
            for (size_t x = 0; x < width; ++x)
                ASSERT_EQ(image[y * width + x], colour_of[(y / 4) * bx + x / 4])
                    << (five ? "DXT5" : "DXT1") << " pixel " << x << "," << y;
        for (size_t i = pixels; i < image.size(); ++i) EXPECT_EQ(image[i], sentinel) << "written past the rows";
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Sides, S3tcImageGeometry, ::testing::Values(
    Geometry{5, 5}, Geometry{1, 1}, Geometry{13, 7}, Geometry{8, 4}, Geometry{2, 9}, Geometry{0, 5}, Geometry{5, 0}, Geometry{0, 0}),
    [](const auto &info) { return std::to_string(info.param.width) + "x" + std::to_string(info.param.height); });
// clang-format on

TEST(S3tcBlock, BlockAtTheRightEdgeWritesOnlyColumnsInsideTheWidth) {
    // A 5-wide image: the block at x = 4 writes column 4 of rows 0 to 3 only.
    std::vector<std::uint32_t> image(5 * 4, sentinel);
    DecompressBlockDXT1(4, 0, 5, dxt1_block(0xFFFF, 0xFFFF, 0).data(), image.data());
    for (size_t i = 0; i < image.size(); ++i) EXPECT_EQ(image[i], i % 5 == 4 ? 0xFFFFFFFFu : sentinel) << i;
    // A block wholly past the width writes nothing.
    std::vector<std::uint32_t> small(4 * 4, sentinel);
    DecompressBlockDXT5(4, 0, 4, dxt5_block(0, 0, 0, 0, 0).data(), small.data());
    for (auto p : small) EXPECT_EQ(p, sentinel);
}

}  // namespace
