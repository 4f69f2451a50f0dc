// Any bytes as a shapefile: decode, list, release; then decode again.
// Wherever the sized decoder succeeds, the plain one decodes the same (but
// for Z records without measures, which only the sized one can tell).
#include "fuzz_input.hpp"
#include "arrays.h"
#include "esri.h"
#include "esri_release.hpp"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Whether the sized decoder, which knows where the data end, read a Z record
// without its measures, as the format allows when the content length stops
// after the Z values; the plain one trusts the record to hold them. A
// PointZ has 28 bytes without its measure and 36 with it.
bool lacks_measures(const ESRISHPRECStr &rec) {
    if (rec.shape_type == 11) return rec.hdr.length >= 14 && rec.hdr.length < 18;
    const auto shape = vorpix::esri::view_shape(rec.shape_type, rec.record);
    return shape.zarray && !shape.marray;
}

bool any_lacks_measures(const ESRISHPStr &shp) {
    for (int k = 0; k < cnttbl(shp.records); ++k)
        if (lacks_measures(*static_cast<const ESRISHPRECStr *>(gettbl(shp.records, k)))) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vorpix::fuzz::silence();
    auto bytes = vorpix::fuzz::exact_copy(data, size);
    char prefix[] = "";
    ESRISHPStr shp{};
    for (int round = 0; round < 2; ++round) {
        if (esri_decode_shapefile_sized(&shp, bytes.data(), static_cast<long>(bytes.size())) == 0) {
            const std::string sized = vorpix::fuzz::printed([&] { esri_print_shapefile(prefix, &shp); });
            if (any_lacks_measures(shp)) {
                vorpix::esri::release_shapefile(&shp);
                continue;
            }
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
