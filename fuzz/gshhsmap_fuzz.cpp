// Any bytes as a shoreline file: scan, select boxes and deliver everything,
// on the vector and the portable paths alike to the bit. Wherever the sized
// header and point decoders succeed, the plain ones read the same.
#include "fuzz_input.hpp"
#include "gshhsmap.h"

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using vorpix::fuzz::require;

void walk_headers(std::vector<char> &bytes) {
    const long size = static_cast<long>(bytes.size());
    long position = 0;
    while (position < size) {
        GSHHSHdr sized{}, plain{};
        GSHHSHdr *into = &plain;
        const long start = position;
        if (gshhs_unstuff_hdr_sized(&sized, bytes.data(), size, &position) < 0) return;
        char *stream = bytes.data() + start;
        require(gshhs_unstuff_hdr(&into, &stream) == 0, "the plain header decoder fails");
        require(std::memcmp(&sized, &plain, sizeof sized) == 0, "the plain header decoder decodes otherwise");
        require(stream - bytes.data() == position, "the plain header decoder ends elsewhere");
        long points = position;
        if (gshhs_skip_pts_sized(&sized, size, &position) < 0) return;
        gshhs_skip_pts(&plain, &stream);
        require(stream - bytes.data() == position, "the plain decoder skips the points otherwise");
        // The points that the skip vouched for decode, and end where it ended.
        std::vector<double> lon(static_cast<size_t>(sized.n)), lat(lon.size());
        require(gshhs_unstuff_pts_sized(&sized, bytes.data(), size, &points, lon.data(), lat.data()) == 0,
                "the sized point decoder fails where the skip succeeds");
        require(points == position, "the sized point decoder ends elsewhere");
    }
}

struct Delivered {
    std::vector<int> counts;            // points, capacity, level, antipode and type of each polygon
    std::vector<std::uint32_t> points;  // as bits: NaN is delivered too
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static void *map = nullptr;
    if (!map) {
        vorpix::fuzz::silence();
        gshhsmap_open(&map);
    }
    auto bytes = vorpix::fuzz::exact_copy<char>(data, size);
    walk_headers(bytes);
    if (gshhsmap_use_data(map, "c", bytes.data(), static_cast<long>(bytes.size())) < 0) return 0;
    // The last one takes its sides from the input's last bytes.
    double boxes[][6] = {{-180, 180, -90, 90, 0, 0},
                         {-30, 30, -10, 10, 45, 10},
                         {170, -170, -5, 60, 180, -45},
                         {10, 20, 10, 20, 0, 0},
                         {0, 0, 0, 0, 0, 0}};
    if (size >= 6)
        for (int k = 0; k < 6; ++k)
            boxes[4][k] = (static_cast<int8_t>(data[size - 6 + k])) * (k < 2 || k == 4 ? 3.0 : 0.75);
    for (const auto &b : boxes) {
        const auto [vector, portable] = vorpix::on_both_paths([&] {
            Delivered out;
            char types[] = "c:0 f:0", res[] = "c";
            if (gshhsmap_select(map, types, res, b[0], b[1], b[2], b[3], b[4], b[5]) < 0) return out;
            int npts = 0, level = 0, anti = 0, capacity = 0;
            float *lon = nullptr, *lat = nullptr;
            char type[2] = {};
            while (gshhsmap_nextseg(map, &npts, &capacity, &lon, &lat, type, &level, &anti) == 1) {
                out.counts.insert(out.counts.end(), {npts, capacity, level, anti, type[0]});
                // The even-odd test at points on and beside the polygon's own vertices and edges.
                for (int k = 0; k < npts && k < 3; ++k) {
                    const int next = (k + 1) % npts;
                    out.counts.push_back(gshhsmap_inside_eo(lon[k], lat[k], npts, lon, lat));
                    out.counts.push_back(gshhsmap_inside_eo(0.5f * (lon[k] + lon[next]),
                                                            0.5f * (lat[k] + lat[next]) + 0.01f, npts, lon, lat));
                }
                for (int k = 0; k < npts; ++k)
                    out.points.insert(out.points.end(),
                                      {std::bit_cast<std::uint32_t>(lon[k]), std::bit_cast<std::uint32_t>(lat[k])});
            }
            std::free(lon);
            std::free(lat);
            return out;
        });
        require(vector.counts == portable.counts, "the vector and portable paths deliver other counts");
        require(vector.points == portable.points, "the vector and portable paths deliver other points");
    }
    // The bytes are released; the map must not be asked to read them again.
    gshhsmap_use_data(map, "c", nullptr, 0);
    return 0;
}
