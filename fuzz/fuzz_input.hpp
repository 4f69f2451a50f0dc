// What every fuzz target does before decoding an input.
#ifndef VORPIX_FUZZ_INPUT_HPP
#define VORPIX_FUZZ_INPUT_HPP

#include "elog.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
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

}  // namespace vorpix::fuzz

#endif
