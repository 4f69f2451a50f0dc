// Any bytes as a dBase file: decode, read every record's fields, list.
#include "elog.h"
#include "esri.h"
#include "esri_release.hpp"
#include "redblack.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
    ESRIDBASEStr dbf{};
    if (esri_decode_dbase_file_sized(&dbf, bytes.data(), static_cast<long>(bytes.size())) == 0) {
        Arr *fields = nullptr;
        for (int r = 0; r < dbf.hdr.numrecs && r < 4096; ++r) esri_get_dbase_fields(&dbf, r, &fields);
        if (fields) freearr(fields, std::free);
        char prefix[] = "";
        esri_print_dbase_file(prefix, &dbf);
    }
    vorpix::esri::release_dbase_file(&dbf);
    return 0;
}
