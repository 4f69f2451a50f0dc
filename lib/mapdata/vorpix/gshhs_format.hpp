// The shoreline file format: polygon headers of either version, and point
// records of 32-bit big-endian micro-degrees. Included once, by gshhsmap.cpp.
#ifndef VORPIX_GSHHS_FORMAT_HPP
#define VORPIX_GSHHS_FORMAT_HPP

#include "gshhsmap.h"

#include "byte_reader.hpp"

#include <cstdint>
#include <cstring>

namespace {

constexpr int header_common_size = 32;
constexpr int point_size = 8;

int header_size_for_version(int version) { return version > 3 ? 44 : 36; }

// Fills hdr from the header at the reader's position and moves past it.
void decode_header(vorpix::ByteReader &in, GSHHSHdr &hdr) {
    std::memset(&hdr, 0, sizeof hdr);
    hdr.id = in.be32s();
    hdr.n = in.be32s();
    const std::uint32_t flag = in.be32();
    hdr.west = in.be32s();
    hdr.east = in.be32s();
    hdr.south = in.be32s();
    hdr.north = in.be32s();
    hdr.area = in.be32s();
    hdr.version = static_cast<std::int32_t>((flag >> 8) & 255);
    hdr.level = static_cast<std::int32_t>(flag & 255);
    if (hdr.version > 3) {
        hdr.area_full = in.be32s();
        hdr.container = in.be32s();
        hdr.ancestor = in.be32s();
    } else {
        hdr.greenwich = in.be16s();
        hdr.source = in.be16s();
    }
    // Level 6 marks Antarctica's grounding line in newer files: it is land.
    if (hdr.level == 6) hdr.level = 1;
}

// Point records are 32-bit big-endian micro-degrees; p is one coordinate of
// a run of points that the caller has checked.
inline double point_coordinate(const unsigned char *p) { return vorpix::BlockReader<4>(p).be32s<0>() * 1e-6; }

}  // namespace

#endif
