// Any bytes as a netCDF classic file: decode the header, list it, clear it,
// and decode again into the same header.
#include "fuzz_input.hpp"
#include "netcdf.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vorpix::fuzz::silence();
    const auto bytes = vorpix::fuzz::exact_copy(data, size);
    NETCDFHdr *hdr = nullptr;
    for (int round = 0; round < 2; ++round) {
        if (netcdf_unstuff_header_sized(bytes.data(), static_cast<long>(bytes.size()), &hdr) < 0) break;
        netcdf_print_header(hdr, stdout);
    }
    if (hdr) {
        netcdf_clear_header(hdr);
        std::free(hdr);
    }
    return 0;
}
