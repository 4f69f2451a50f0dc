// Pillow's decodes of the DDS fixtures (tests/fixtures/dds/*.pillow), and the
// pixel comparison of ours against them with the differences that our rules
// explain.
#ifndef VORPIX_TEST_DDS_ORACLE_HPP
#define VORPIX_TEST_DDS_ORACLE_HPP

#include "test_files.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace vorpix::test {

struct PillowLevel {
    std::uint32_t width, height;
    std::vector<std::uint32_t> argb;  // width x height, row by row
};

// The levels as pillow_decode.py writes them: width, height, then RGBA bytes.
inline std::vector<PillowLevel> read_pillow_levels(const std::string &path) {
    const auto bytes = read_file(path);
    std::vector<PillowLevel> levels;
    auto word = [&](size_t at) {
        return std::uint32_t(bytes.at(at)) | std::uint32_t(bytes.at(at + 1)) << 8 |
               std::uint32_t(bytes.at(at + 2)) << 16 | std::uint32_t(bytes.at(at + 3)) << 24;
    };
    for (size_t at = 0; at < bytes.size();) {
        PillowLevel level{word(at), word(at + 4), {}};
        at += 8;
        for (size_t i = 0; i < size_t(level.width) * level.height; ++i, at += 4)
            level.argb.push_back(std::uint32_t(bytes.at(at + 3)) << 24 | std::uint32_t(bytes.at(at)) << 16 |
                                 std::uint32_t(bytes.at(at + 1)) << 8 | bytes.at(at + 2));
        levels.push_back(std::move(level));
    }
    return levels;
}

// Pillow expands 5:6:5 endpoints by bit replication; our shift-and-add rule
// gives one more or one less for these component values (and agrees with
// rounding v * 255 / 31 or / 63 except at 20, 25, 29 and 53).
inline bool expansion_disagrees(unsigned value, bool six_bits) {
    const std::vector<unsigned> five = {3, 7, 20, 24, 25, 28, 29}, six = {11, 12, 13, 14, 15, 48, 49, 50, 51, 52, 53};
    const auto &values = six_bits ? six : five;
    return std::find(values.begin(), values.end(), value) != values.end();
}

struct Comparison {
    size_t exact = 0;
    size_t opaque_black = 0;  // DXT1 three-colour index 3: ours 0xFF000000, Pillow transparent
    size_t unexplained = 0;
    std::string first_unexplained;
};

// Compares a level of width x height pixels decoded by us (row stride
// width) with Pillow's, given the level's blocks (8 bytes for DXT1, 16 for DXT5).
inline Comparison compare_with_pillow(const std::uint32_t *ours, const PillowLevel &pillow, const unsigned char *blocks,
                                      bool dxt5) {
    Comparison c;
    const size_t block_size = dxt5 ? 16 : 8, per_row = (pillow.width + 3) / 4;
    for (std::uint32_t y = 0; y < pillow.height; ++y)
        for (std::uint32_t x = 0; x < pillow.width; ++x) {
            const std::uint32_t a = ours[size_t(y) * pillow.width + x], b = pillow.argb[size_t(y) * pillow.width + x];
            if (a == b) {
                ++c.exact;
                continue;
            }
            const unsigned char *block = blocks + ((y / 4) * per_row + x / 4) * block_size + (dxt5 ? 8 : 0);
            const unsigned c0 = block[0] | block[1] << 8, c1 = block[2] | block[3] << 8;
            const std::uint32_t indices = block[4] | block[5] << 8 | block[6] << 16 | std::uint32_t(block[7]) << 24;
            const unsigned index = (indices >> (2 * ((y % 4) * 4 + x % 4))) & 3;
            if (!dxt5 && c0 <= c1 && index == 3 && a == 0xFF000000u && b == 0) {
                ++c.opaque_black;
                continue;
            }
            bool explained = (a >> 24) == (b >> 24);
            for (int channel = 0; channel < 3 && explained; ++channel) {  // red, green, blue
                const int shift = 16 - 8 * channel;
                const int diff = int((a >> shift) & 0xff) - int((b >> shift) & 0xff);
                if (diff == 0) continue;
                auto component = [channel](unsigned colour) {
                    return channel == 0 ? colour >> 11 : channel == 1 ? (colour >> 5) & 63 : colour & 31;
                };
                explained = (diff == 1 || diff == -1) && (expansion_disagrees(component(c0), channel == 1) ||
                                                          expansion_disagrees(component(c1), channel == 1));
            }
            if (explained) continue;  // channels one apart where an endpoint component decodes differently
            if (c.unexplained++ == 0) {
                char text[96];
                std::snprintf(text, sizeof text, "(%u, %u): ours %08x, Pillow %08x", x, y, a, b);
                c.first_unexplained = text;
            }
        }
    return c;
}

}  // namespace vorpix::test

#endif
