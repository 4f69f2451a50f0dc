// Any bytes as a shapefile: decode, list, release; then decode again.
// Wherever the sized decoder succeeds, the plain one decodes the same.
#include "fuzz_input.hpp"
#include "esri.h"
#include "esri_release.hpp"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vorpix::fuzz::silence();
    auto bytes = vorpix::fuzz::exact_copy(data, size);
    char prefix[] = "";
    ESRISHPStr shp{};
    for (int round = 0; round < 2; ++round) {
        if (esri_decode_shapefile_sized(&shp, bytes.data(), static_cast<long>(bytes.size())) == 0) {
            const std::string sized = vorpix::fuzz::printed([&] { esri_print_shapefile(prefix, &shp); });
            ESRISHPStr plain{};
            unsigned char *stream = bytes.data();
            vorpix::fuzz::require(esri_decode_shapefile(&plain, bytes.data(), &stream) == 0, "the plain decoder fails");
            vorpix::fuzz::require(vorpix::fuzz::printed([&] { esri_print_shapefile(prefix, &plain); }) == sized,
                                  "the plain decoder decodes otherwise");
            vorpix::esri::release_shapefile(&plain);
        }
        vorpix::esri::release_shapefile(&shp);
    }
    return 0;
}
