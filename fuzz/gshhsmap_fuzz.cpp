// Any bytes as a shoreline file: scan, select boxes and deliver everything.
#include "fuzz_input.hpp"
#include "gshhsmap.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static void *map = nullptr;
    static float *lon = nullptr, *lat = nullptr;
    static int capacity = 0;
    if (!map) {
        vorpix::fuzz::silence();
        gshhsmap_open(&map);
    }
    auto bytes = vorpix::fuzz::exact_copy<char>(data, size);
    if (gshhsmap_use_data(map, "c", bytes.data(), static_cast<long>(bytes.size())) < 0) return 0;
    static const double boxes[][6] = {
        {-180, 180, -90, 90, 0, 0}, {-30, 30, -10, 10, 45, 10}, {170, -170, -5, 60, 180, -45}, {10, 20, 10, 20, 0, 0}};
    for (const auto &b : boxes) {
        char types[] = "c:0 f:0", res[] = "c";
        if (gshhsmap_select(map, types, res, b[0], b[1], b[2], b[3], b[4], b[5]) < 0) continue;
        int npts = 0, level = 0, anti = 0;
        char type[2];
        while (gshhsmap_nextseg(map, &npts, &capacity, &lon, &lat, type, &level, &anti) == 1) {
        }
    }
    // The bytes are released; the map must not be asked to read them again.
    gshhsmap_use_data(map, "c", nullptr, 0);
    return 0;
}
