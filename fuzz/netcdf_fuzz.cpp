// Any bytes as a netCDF classic file: decode the header, list it, clear it,
// and decode again into the same header.
#include "elog.h"
#include "netcdf.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

static void quiet(int, const char *, void *) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static FILE *sink = nullptr;
    if (!sink) {
        elog_set_handler(quiet, nullptr, nullptr);
        sink = std::fopen("/dev/null", "w");
    }
    // An exact-size copy, so that any read past the end is caught.
    std::vector<unsigned char> bytes(data, data + size);
    NETCDFHdr *hdr = nullptr;
    for (int round = 0; round < 2; ++round) {
        if (netcdf_unstuff_header_sized(bytes.data(), static_cast<long>(bytes.size()), &hdr) < 0) break;
        netcdf_print_header(hdr, sink);
    }
    if (hdr) {
        netcdf_clear_header(hdr);
        std::free(hdr);
    }
    return 0;
}
