// Files that parse but ask for gigabytes, made by
// tests/fixtures/hostile/make_hostile.py once per test program.
#ifndef VORPIX_TEST_HOSTILE_FILES_HPP
#define VORPIX_TEST_HOSTILE_FILES_HPP

#include "test_files.hpp"

#include <stdexcept>
#include <string>

namespace vorpix::test {

inline std::string hostile_file(const std::string &name) {
    static TempDir dir;
    static const bool made =
        run_command(python_command() + " " + fixture_path("hostile/make_hostile.py") + " " + dir.path()).status == 0;
    if (!made) throw std::runtime_error("make_hostile.py failed");
    return dir.file(name);
}

// A command prefix that caps the address space of what it runs, so that a
// reader that tries to take gigabytes fails instead. Address sanitizer
// reserves terabytes of address space up front: there the cap is left off.
inline std::string memory_capped(long megabytes) {
#if defined(__SANITIZE_ADDRESS__)
    (void)megabytes;
    return "";
#else
    return "prlimit --as=" + std::to_string(megabytes) + "000000 ";
#endif
}

}  // namespace vorpix::test

#endif
