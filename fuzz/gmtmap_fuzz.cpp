// Any bytes as a binned border or river file: bind it, select boxes and
// deliver every segment. Wherever the sized binding succeeds, the plain one
// binds the same arrays.
#include "fuzz_input.hpp"
#include "netcdf.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void bind_both_ways(std::vector<unsigned char> &bytes) {
    NETCDFHdr *hdr = nullptr;
    if (netcdf_unstuff_header_sized(bytes.data(), static_cast<long>(bytes.size()), &hdr) == 0) {
        NETCDFMapBorder sized, plain;
        // Compared as bytes: the padding too is zero.
        std::memset(&sized, 0, sizeof sized);
        std::memset(&plain, 0, sizeof plain);
        sized.hdr = plain.hdr = hdr;
        if (gmtmap_process_border_hdr_sized(&sized, static_cast<long>(bytes.size())) == 0) {
            vorpix::fuzz::require(gmtmap_process_border_hdr(&plain) == 0, "the plain binding fails");
            vorpix::fuzz::require(std::memcmp(&sized, &plain, sizeof sized) == 0, "the plain binding binds otherwise");
        }
    }
    if (hdr) netcdf_clear_header(hdr);
    std::free(hdr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static void *map = nullptr;
    static float *lon = nullptr, *lat = nullptr;
    static int capacity = 0;
    if (!map) {
        vorpix::fuzz::silence();
        gmtmap_open(&map);
    }
    auto bytes = vorpix::fuzz::exact_copy(data, size);
    bind_both_ways(bytes);
    if (gmtmap_use_data(map, 'p', "c", bytes.data(), static_cast<long>(bytes.size())) < 0) return 0;
    static const double boxes[][4] = {{-180, 180, -90, 90}, {-30, 30, -10, 10}, {170, -170, -5, 60}, {10, 20, 10, 20}};
    for (const auto &b : boxes) {
        char types[] = "p:4294967295", res[] = "c";
        if (gmtmap_select(map, types, res, b[0], b[1], b[2], b[3]) < 0) continue;
        int npts = 0, level = 0;
        char type[2];
        while (gmtmap_nextseg(map, &npts, &capacity, &lon, &lat, type, &level) == 1) {}
    }
    // The bytes are released; the map must not be asked to read them again.
    gmtmap_use_data(map, 'p', "c", nullptr, 0);
    return 0;
}
