#include "datafile.h"

#include "redblack.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#ifndef VORPIX_BUILTIN_DATA_PATH
#define VORPIX_BUILTIN_DATA_PATH ""
#endif

namespace {

struct Mapping {
    char *data;
    long size;
};

// Zero-length files all share this address: mmap cannot map them.
char empty_file[1];

bool is_regular_file(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

char *copy_string(const std::string &s) {
    auto *out = static_cast<char *>(std::malloc(s.size() + 1));
    if (out) std::memcpy(out, s.c_str(), s.size() + 1);
    return out;
}

// Looks for name under each directory of a ':'-separated list.
char *search(std::string_view dirs, const char *name) {
    while (true) {
        const size_t colon = dirs.find(':');
        const std::string_view dir = dirs.substr(0, colon);
        if (!dir.empty()) {
            std::string path(dir);
            if (path.back() != '/') path += '/';
            path += name;
            if (is_regular_file(path)) return copy_string(path);
        }
        if (colon == std::string_view::npos) return nullptr;
        dirs.remove_prefix(colon + 1);
    }
}

long map_whole_file(const char *path, char **data) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        ::close(fd);
        return -1;
    }
    if (st.st_size == 0) {
        ::close(fd);
        *data = empty_file;
        return 0;
    }
    void *address = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (address == MAP_FAILED) return -1;
    *data = static_cast<char *>(address);
    return static_cast<long>(st.st_size);
}

}  // namespace

extern "C" {

const char *datafile_default_path(void) { return VORPIX_BUILTIN_DATA_PATH; }

char *datafile(const char *env, const char *name) {
    if (!name || !*name) return nullptr;
    try {
        if (name[0] == '/') return is_regular_file(name) ? copy_string(name) : nullptr;
        if (const char *listed = std::getenv(env ? env : VORPIX_DATA_PATH_ENV))
            if (char *found = search(listed, name)) return found;
        return search(VORPIX_BUILTIN_DATA_PATH, name);
    } catch (...) {
        return nullptr;
    }
}

long mapfile(const char *path, Arr **cache, char **data) {
    if (!path || !data) return -1;
    if (cache) {
        if (!*cache && !(*cache = newarr(nullptr))) return -1;
        if (auto *known = static_cast<Mapping *>(getarr(*cache, path))) {
            *data = known->data;
            return known->size;
        }
    }
    char *address = nullptr;
    const long size = map_whole_file(path, &address);
    if (size < 0) return -1;
    if (cache) {
        // The record lives as long as the mapping: until the process ends.
        auto *record = static_cast<Mapping *>(std::malloc(sizeof(Mapping)));
        if (record) {
            *record = Mapping{address, size};
            setarr(*cache, path, record);
        }
    }
    *data = address;
    return size;
}

}  // extern "C"
