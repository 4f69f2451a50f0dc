// Whole files read for the benchmarks, which measure decoding from memory.
#ifndef VORPIX_BENCH_FILES_HPP
#define VORPIX_BENCH_FILES_HPP

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vorpix::bench {

// The bytes of the file at path; a file that cannot be read ends the run.
inline std::vector<unsigned char> read_or_exit(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::exit(1);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace vorpix::bench

#endif
