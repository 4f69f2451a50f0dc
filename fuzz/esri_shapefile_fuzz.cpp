// Any bytes as a shapefile: decode, list, release; then decode again.
#include "fuzz_input.hpp"
#include "esri.h"
#include "esri_release.hpp"

#include <cstdint>
#include <cstdio>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vorpix::fuzz::silence();
    const auto bytes = vorpix::fuzz::exact_copy(data, size);
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
