// Any bytes as a dBase file: decode, read every record's fields, list.
#include "fuzz_input.hpp"
#include "esri.h"
#include "esri_release.hpp"
#include "redblack.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vorpix::fuzz::silence();
    const auto bytes = vorpix::fuzz::exact_copy(data, size);
    ESRIDBASEStr dbf{};
    if (esri_decode_dbase_file_sized(&dbf, bytes.data(), static_cast<long>(bytes.size())) == 0) {
        Arr *fields = nullptr;
        for (int r = 0; r < dbf.hdr.numrecs && r < 4096; ++r) esri_get_dbase_fields(&dbf, r, &fields);
        if (fields) freearr(fields, std::free);
        // The listing has a line per record slot, even of no width: a header
        // can claim two billion of them in a few bytes.
        char prefix[] = "";
        if (dbf.hdr.numrecs <= 4096) esri_print_dbase_file(prefix, &dbf);
    }
    vorpix::esri::release_dbase_file(&dbf);
    return 0;
}
