// What every fuzz target does before decoding an input.
#ifndef VORPIX_FUZZ_INPUT_HPP
#define VORPIX_FUZZ_INPUT_HPP

#include "elog.h"
#include "vector_paths.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace vorpix::fuzz {

// Most inputs fail somewhere and many decode into long listings: the error
// log and standard output are silenced once per process.
inline void silence() {
    static const bool silenced = [] {
        elog_set_handler([](int, const char *, void *) {}, nullptr, nullptr);
        return std::freopen("/dev/null", "w", stdout) != nullptr;
    }();
    (void)silenced;
}

// An exact-size heap copy of the input, so that any read past the end is
// caught by the address sanitizer.
template <typename Byte = unsigned char>
std::vector<Byte> exact_copy(const uint8_t *data, size_t size) {
    return std::vector<Byte>(data, data + size);
}

// A property that must hold: otherwise the run stops here and libFuzzer
// keeps the input.
inline void require(bool holds, const char *what) {
    if (holds) return;
    std::fprintf(stderr, "property does not hold: %s\n", what);
    std::abort();
}

// What print() writes to standard output, which is otherwise silenced.
template <typename Print>
std::string printed(Print &&print) {
    char *text = nullptr;
    size_t length = 0;
    FILE *memory = open_memstream(&text, &length);
    if (!memory) std::abort();
    FILE *const silenced = stdout;
    stdout = memory;
    print();
    std::fclose(memory);
    stdout = silenced;
    std::string out(text, length);
    std::free(text);
    return out;
}

}  // namespace vorpix::fuzz

#endif
