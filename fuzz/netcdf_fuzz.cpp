// Any bytes as a netCDF classic file: decode the header, list it, clear it,
// and decode again into the same header. Wherever the sized decoder
// succeeds, the plain one decodes the same header.
#include "fuzz_input.hpp"
#include "netcdf.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using vorpix::fuzz::require;

bool same_text(const char *a, const char *b) { return (!a && !b) || (a && b && std::strcmp(a, b) == 0); }

bool same_values(const NETCDFValues &a, const NETCDFValues &b) {
    if (a.type != b.type || a.n != b.n || !a.values != !b.values) return false;
    static const size_t sizes[] = {0, 1, 1, 2, 4, 4, 8};
    if (!a.values || a.type < 1 || a.type > 6) return true;
    return std::memcmp(a.values, b.values, static_cast<size_t>(a.n) * sizes[a.type]) == 0;
}

bool same_attrs(int n, const NETCDFAttr *a, const NETCDFAttr *b) {
    for (int i = 0; i < n; ++i)
        if (!same_text(a[i].name, b[i].name) || !same_values(a[i].values, b[i].values)) return false;
    return true;
}

bool same_header(const NETCDFHdr &a, const NETCDFHdr &b) {
    if (a.stream != b.stream || a.numrecs != b.numrecs || a.dims_n != b.dims_n || a.attrs_n != b.attrs_n ||
        a.vars_n != b.vars_n || !a.vars_array != !b.vars_array)
        return false;
    for (int i = 0; i < a.dims_n; ++i)
        if (!same_text(a.dims[i].name, b.dims[i].name) || a.dims[i].value != b.dims[i].value) return false;
    if (!same_attrs(a.attrs_n, a.attrs, b.attrs)) return false;
    for (int i = 0; i < a.vars_n; ++i) {
        const NETCDFVar &x = a.vars[i], &y = b.vars[i];
        if (!same_text(x.name, y.name) || x.ndims != y.ndims || x.nattrs != y.nattrs || x.type != y.type ||
            x.vsize != y.vsize || x.begin != y.begin || x.fixed != y.fixed || !same_attrs(x.nattrs, x.attrs, y.attrs))
            return false;
        for (int k = 0; k < x.ndims; ++k)
            if (x.dims[k] - a.dims != y.dims[k] - b.dims) return false;
    }
    return true;
}

void release(NETCDFHdr *hdr) {
    if (!hdr) return;
    netcdf_clear_header(hdr);
    std::free(hdr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vorpix::fuzz::silence();
    auto bytes = vorpix::fuzz::exact_copy(data, size);
    NETCDFHdr *hdr = nullptr;
    bool decoded = false;
    for (int round = 0; round < 2; ++round) {
        decoded = netcdf_unstuff_header_sized(bytes.data(), static_cast<long>(bytes.size()), &hdr) == 0;
        if (!decoded) break;
        netcdf_print_header(hdr, stdout);
    }
    if (decoded) {
        NETCDFHdr *plain = nullptr;
        unsigned char *stream = bytes.data();
        require(netcdf_unstuff_header(&stream, &plain) == 0, "the plain decoder fails");
        require(same_header(*hdr, *plain), "the plain decoder decodes otherwise");
        require(stream > bytes.data() && stream <= bytes.data() + bytes.size(), "the plain decoder ends outside");
        release(plain);
    }
    release(hdr);
    return 0;
}
