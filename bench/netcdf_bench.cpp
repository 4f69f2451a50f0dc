// Header decoding of a real classic border file held in memory: ours against
// netCDF-C opening the same bytes (nc_open_mem) and inquiring every
// dimension, variable and attribute. The last ratio line is the measure:
// ours decoding again into one header record, whose old blocks serve the new
// pieces. A map object decodes each file once into a new record, as the
// fresh benchmark does.
#include "bench_files.hpp"
#include "bench_ratio.hpp"
#include "netcdf.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef VORPIX_HAVE_NETCDF
// netCDF-C's own header is also named netcdf.h and is shadowed by ours on the
// include path, so the few calls measured are declared here as it declares them.
extern "C" {
typedef int nc_type;
int nc_open_mem(const char *path, int mode, size_t size, void *memory, int *ncidp);
int nc_inq(int ncid, int *ndimsp, int *nvarsp, int *nattsp, int *unlimdimidp);
int nc_inq_dim(int ncid, int dimid, char *name, size_t *lenp);
int nc_inq_attname(int ncid, int varid, int attnum, char *name);
int nc_inq_att(int ncid, int varid, const char *name, nc_type *xtypep, size_t *lenp);
int nc_get_att(int ncid, int varid, const char *name, void *ip);
int nc_inq_var(int ncid, int varid, char *name, nc_type *xtypep, int *ndimsp, int *dimidsp, int *nattsp);
int nc_close(int ncid);
}
constexpr int NC_NOWRITE = 0, NC_NOERR = 0, NC_GLOBAL = -1, NC_MAX_NAME = 256, NC_MAX_VAR_DIMS = 1024;
#endif

namespace {

// The least and greatest repetition besides the median, so that each ratio
// comes with its spread.
void with_extremes(benchmark::internal::Benchmark *b) {
    using Values = const std::vector<double> &;
    b->ComputeStatistics("min", [](Values v) { return *std::min_element(v.begin(), v.end()); });
    b->ComputeStatistics("max", [](Values v) { return *std::max_element(v.begin(), v.end()); });
}

const std::vector<unsigned char> &border_file() {
    static const std::vector<unsigned char> bytes = vorpix::bench::read_or_exit(std::string(VORPIX_SOURCE_DIR) +
                                                                                "/maps/vorpix/binned_border_c.cdf");
    return bytes;
}

void BM_VorpixHeader(benchmark::State &state) {
    const auto &bytes = border_file();
    const unsigned char *data = bytes.data();
    NETCDFHdr *hdr = nullptr;
    for (auto _ : state) {
        if (netcdf_unstuff_header_sized(data, static_cast<long>(bytes.size()), &hdr) < 0) state.SkipWithError("decode");
        benchmark::DoNotOptimize(hdr->vars[hdr->vars_n - 1].begin);
    }
    netcdf_clear_header(hdr);
    std::free(hdr);
}
BENCHMARK(BM_VorpixHeader)->Apply(with_extremes);

// As the peer does with each open: a new header record every time, released
// after the decode, so nothing is reused from one decode to the next.
void BM_VorpixHeaderFresh(benchmark::State &state) {
    const auto &bytes = border_file();
    const unsigned char *data = bytes.data();
    for (auto _ : state) {
        NETCDFHdr *hdr = nullptr;
        if (netcdf_unstuff_header_sized(data, static_cast<long>(bytes.size()), &hdr) < 0) state.SkipWithError("decode");
        benchmark::DoNotOptimize(hdr->vars[hdr->vars_n - 1].begin);
        netcdf_clear_header(hdr);
        std::free(hdr);
    }
}
BENCHMARK(BM_VorpixHeaderFresh)->Apply(with_extremes);

#ifdef VORPIX_HAVE_NETCDF
void BM_NetcdfCHeader(benchmark::State &state) {
    auto bytes = border_file();  // nc_open_mem wants writable memory
    char name[NC_MAX_NAME + 1];
    std::vector<char> value(4096);
    for (auto _ : state) {
        int ncid;
        if (nc_open_mem("border", NC_NOWRITE, bytes.size(), bytes.data(), &ncid) != NC_NOERR) {
            state.SkipWithError("nc_open_mem");
            break;
        }
        int ndims, nvars, ngatts, unlimdim;
        nc_inq(ncid, &ndims, &nvars, &ngatts, &unlimdim);
        for (int d = 0; d < ndims; ++d) {
            size_t length;
            nc_inq_dim(ncid, d, name, &length);
        }
        auto attributes = [&](int varid, int n) {
            for (int a = 0; a < n; ++a) {
                nc_type type;
                size_t length;
                nc_inq_attname(ncid, varid, a, name);
                nc_inq_att(ncid, varid, name, &type, &length);
                if (length * 8 <= value.size()) nc_get_att(ncid, varid, name, value.data());
            }
        };
        attributes(NC_GLOBAL, ngatts);
        for (int v = 0; v < nvars; ++v) {
            nc_type type;
            int vdims[NC_MAX_VAR_DIMS], vndims, vnatts;
            nc_inq_var(ncid, v, name, &type, &vndims, vdims, &vnatts);
            attributes(v, vnatts);
        }
        benchmark::DoNotOptimize(name[0]);
        nc_close(ncid);
    }
}
BENCHMARK(BM_NetcdfCHeader)->Apply(with_extremes);
#endif

}  // namespace

int main(int argc, char **argv) {
    return vorpix::bench::run_with_ratios(
        argc, argv, {{"BM_VorpixHeaderFresh", "BM_NetcdfCHeader"}, {"BM_VorpixHeader", "BM_NetcdfCHeader"}});
}
