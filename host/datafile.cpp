#include "datafile.h"

#include "redblack.h"

#include <dlfcn.h>
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
#ifndef VORPIX_LIB_TO_DATA
#define VORPIX_LIB_TO_DATA "../share/vorpix"
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

// The data directory beside this library, as installed, then the built-in ones.
const std::string &default_path() {
    static const std::string path = [] {
        std::string out;
        Dl_info info;
        if (dladdr(reinterpret_cast<void *>(&datafile), &info) && info.dli_fname) {
            std::string lib = info.dli_fname;
            const size_t slash = lib.rfind('/');
            if (slash != std::string::npos) out = lib.substr(0, slash + 1) + VORPIX_LIB_TO_DATA + ":";
        }
        return out + VORPIX_BUILTIN_DATA_PATH;
    }();
    return path;
}

}  // namespace

extern "C" {

const char *datafile_default_path(void) { return default_path().c_str(); }

char *datafile(const char *env, const char *name) {
    if (!name || !*name) return nullptr;
    try {
        if (name[0] == '/') return is_regular_file(name) ? copy_string(name) : nullptr;
        if (const char *listed = std::getenv(env ? env : VORPIX_DATA_PATH_ENV))
            if (char *found = search(listed, name)) return found;
        return search(default_path(), name);
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
