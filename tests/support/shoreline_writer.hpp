// Shoreline files written from polygons of micro-degree points, for the
// layouts that no tool writes.
#ifndef VORPIX_TEST_SHORELINE_WRITER_HPP
#define VORPIX_TEST_SHORELINE_WRITER_HPP

#include "byte_writer.hpp"

#include <cstdint>
#include <utility>
#include <vector>

namespace vorpix::test {

using Polygon = std::vector<std::pair<std::int32_t, std::int32_t>>;

// A version 7 file whose extents cover the world, so that every polygon is
// selected; polygon k has id k and level 1 + k % 4.
inline std::vector<unsigned char> shoreline_file(const std::vector<Polygon> &polygons) {
    std::vector<unsigned char> out;
    for (size_t id = 0; id < polygons.size(); ++id) {
        const auto &p = polygons[id];
        for (std::int32_t v :
             {static_cast<std::int32_t>(id), static_cast<std::int32_t>(p.size()),
              (7 << 8) | static_cast<std::int32_t>(1 + id % 4), 0, 360000000, -90000000, 90000000, 10, 10, -1, -1})
            put_be32(out, static_cast<std::uint32_t>(v));
        for (const auto &[x, y] : p)
            put_be32(out, static_cast<std::uint32_t>(x)), put_be32(out, static_cast<std::uint32_t>(y));
    }
    return out;
}

}  // namespace vorpix::test

#endif
