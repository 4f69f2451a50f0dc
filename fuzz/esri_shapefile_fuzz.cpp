// Any bytes as a shapefile: decode, list, release; then decode again.
// Wherever the sized decoder succeeds, the plain one decodes the same (but
// for Z records without measures, which only the sized one can tell), and
// each record decoded alone, given the bytes from its place on, is the
// record decoded with the file. Any bytes after the header decode alone as
// a record or fail.
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
            for (int k = 0; k < cnttbl(shp.records); ++k) {
                const auto *rec = static_cast<ESRISHPRECStr *>(gettbl(shp.records, k));
                // From its place to the end of the file: the file's decoder
                // reads a shape on past its content length where the counts
                // say so.
                const size_t length = bytes.size() - rec->offset;
                ESRISHPRECStr alone{};
                vorpix::fuzz::require(
                    esri_decode_shapefile_record_sized(&alone, bytes.data() + rec->offset, static_cast<long>(length),
                                                       static_cast<long>(rec->offset)) == 0,
                    "a record does not decode alone");
                vorpix::fuzz::require(
                    vorpix::fuzz::printed([&] { esri_print_shapefile_record(prefix, &alone, k); }) ==
                        vorpix::fuzz::printed([&] { esri_print_shapefile_record(prefix, gettbl(shp.records, k), k); }),
                    "a record decodes otherwise alone");
                esri_release_shapefile_record(&alone);
            }
            if (any_lacks_measures(shp)) {
                esri_release_shapefile(&shp);
                continue;
            }
            ESRISHPStr plain{};
            unsigned char *stream = bytes.data();
            vorpix::fuzz::require(esri_decode_shapefile(&plain, bytes.data(), &stream) == 0, "the plain decoder fails");
            vorpix::fuzz::require(vorpix::fuzz::printed([&] { esri_print_shapefile(prefix, &plain); }) == sized,
                                  "the plain decoder decodes otherwise");
            esri_release_shapefile(&plain);
        }
        esri_release_shapefile(&shp);
    }
    if (bytes.size() > 100) {
        ESRISHPRECStr alone{};
        if (esri_decode_shapefile_record_sized(&alone, bytes.data() + 100, static_cast<long>(bytes.size() - 100),
                                               100) == 0)
            vorpix::fuzz::printed([&] { esri_print_shapefile_record(prefix, &alone, 0); });
        esri_release_shapefile_record(&alone);
    }
    return 0;
}
