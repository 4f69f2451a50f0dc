// Any bytes as a shapefile: decode, list, release; then decode again.
#include "elog.h"
#include "esri.h"
#include "esri_release.hpp"

#include <cstdint>
#include <cstdio>
#include <vector>

static void quiet(int, const char *, void *) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = false;
    if (!ready) {
        elog_set_handler(quiet, nullptr, nullptr);
        if (!std::freopen("/dev/null", "w", stdout)) return 0;  // the listing goes to standard output
        ready = true;
    }
    // An exact-size copy, so that any read past the end is caught.
    std::vector<unsigned char> bytes(data, data + size);
    ESRISHPStr shp{};
    for (int round = 0; round < 2; ++round) {
        if (esri_decode_shapefile_sized(&shp, bytes.data(), static_cast<long>(bytes.size())) == 0) {
            char prefix[] = "";
            esri_print_shapefile(prefix, &shp);
        }
        vorpix::esri::release_shapefile(&shp);
    }
    return 0;
}
