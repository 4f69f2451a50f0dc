#include "datafile.h"

#include "redblack.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <mutex>
#include <new>
#include <string_view>
#include <vector>

#ifndef VORPIX_INSTALL_DATA_ROOT
#define VORPIX_INSTALL_DATA_ROOT "/usr/local/share/vorpix"
#endif
#ifndef VORPIX_SOURCE_DATA_ROOT
#define VORPIX_SOURCE_DATA_ROOT ""
#endif
#ifndef VORPIX_BUILD_LIB_DIR
#define VORPIX_BUILD_LIB_DIR ""
#endif
#ifndef VORPIX_LIB_TO_DATA
#define VORPIX_LIB_TO_DATA "../share/vorpix"
#endif

namespace {

// A file's contents as read, and what identified the file at the time: a
// cached path is read again once any of these differ.
struct Copy {
    char *data;
    long size;
    dev_t device;
    ino_t inode;
    off_t file_size;
    timespec modified, changed;
};

bool same_file(const struct stat &st, const Copy &c) {
    return st.st_dev == c.device && st.st_ino == c.inode && st.st_size == c.file_size &&
           st.st_mtim.tv_sec == c.modified.tv_sec && st.st_mtim.tv_nsec == c.modified.tv_nsec &&
           st.st_ctim.tv_sec == c.changed.tv_sec && st.st_ctim.tv_nsec == c.changed.tv_nsec;
}

// Zero-length files all share this address.
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

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Reads a regular file whole into memory of its own, which is never
// released. The file is not opened unless it is a regular file (opening a
// FIFO or a device for reading may wait or act), and the copy is private:
// whatever later happens to the file, the memory stays as it was read.
// Anonymous pages, not the heap: a copy never released is not a leak.
bool read_whole_file(const char *path, Copy *copy) {
    struct stat st;
    if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const Descriptor fd(::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return false;
    *copy = Copy{empty_file, 0, st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    if (st.st_size == 0) return true;
    const auto size = static_cast<size_t>(st.st_size);
    void *memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return false;
    auto *bytes = static_cast<char *>(memory);
    // A file that shrinks while it is read gives what it still held.
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd.get(), bytes + done, size - done);
        if (n == 0) break;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::munmap(memory, size);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    ::mprotect(memory, size, PROT_READ);
    copy->data = done ? bytes : empty_file;
    copy->size = static_cast<long>(done);
    return true;
}

// The directory as the file system knows it, without links; "" when none.
std::string real_directory(const std::string &path) {
    char *real = ::realpath(path.c_str(), nullptr);
    if (!real) return "";
    std::string out = real;
    std::free(real);
    struct stat st;
    return ::stat(out.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? out : "";
}

// Whether only root or the library's owner can change what a directory
// holds: the directory and each one above it belong to one of them, and
// none that others may write to lets them replace what it holds (a sticky
// directory such as /tmp keeps each entry to its owner).
bool trusted_directory(const std::string &dir, uid_t owner) {
    std::string at = dir;
    for (bool first = true;; first = false) {
        struct stat st;
        if (::stat(at.c_str(), &st) != 0 || (st.st_uid != 0 && st.st_uid != owner)) return false;
        const bool others_write = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
        if (others_write && (first || !(st.st_mode & S_ISVTX))) return false;
        if (at == "/") return true;
        const size_t slash = at.rfind('/');
        at = slash == 0 ? "/" : at.substr(0, slash);
    }
}

// The built-in data directories, in order. A library run from the
// directory it was built in searches the source tree it was built from,
// then the configured data directory. An installed library searches the
// configured data directory and, when its prefix was moved elsewhere, the
// data directory at the same place relative to itself, if only root or the
// library's owner can change it. Nothing else: a directory beside a build
// tree (say /tmp/share/vorpix for a build in /tmp/build) may be anyone's.
const std::string &default_path() {
    static const std::string path = [] {
        std::string lib_dir;
        uid_t owner = 0;
        Dl_info info;
        if (dladdr(reinterpret_cast<void *>(&datafile), &info) && info.dli_fname) {
            const std::string lib = info.dli_fname;
            const size_t slash = lib.rfind('/');
            struct stat st;
            if (slash != std::string::npos && ::stat(lib.c_str(), &st) == 0) {
                lib_dir = real_directory(lib.substr(0, slash + 1));
                owner = st.st_uid;
            }
        }
        const std::string build_dir = real_directory(VORPIX_BUILD_LIB_DIR);
        if (!lib_dir.empty() && lib_dir == build_dir)
            return std::string(VORPIX_SOURCE_DATA_ROOT ":" VORPIX_INSTALL_DATA_ROOT);
        std::string out = VORPIX_INSTALL_DATA_ROOT;
        if (!lib_dir.empty()) {
            const std::string beside = real_directory(lib_dir + "/" + VORPIX_LIB_TO_DATA);
            if (!beside.empty() && beside != real_directory(VORPIX_INSTALL_DATA_ROOT) &&
                trusted_directory(beside, owner))
                out = beside + ":" + out;
        }
        return out;
    }();
    return path;
}

// Every copy read without a cache of the caller's, by the file it holds: a
// client that opens map objects again and again (each reads its files
// afresh) shares one copy of a file that has not changed, so its memory
// stays that of the files, however long it runs.
struct SharedCopies {
    std::mutex lock;
    std::vector<Copy> copies;
};

SharedCopies &shared_copies() {
    static SharedCopies *shared = new SharedCopies;  // copies live until the process ends
    return *shared;
}

bool shared_copy(const struct stat &st, Copy *out) {
    SharedCopies &shared = shared_copies();
    const std::lock_guard<std::mutex> guard(shared.lock);
    for (const Copy &c : shared.copies)
        if (same_file(st, c)) {
            *out = c;
            return true;
        }
    return false;
}

void keep_shared(const Copy &copy) {
    SharedCopies &shared = shared_copies();
    const std::lock_guard<std::mutex> guard(shared.lock);
    try {
        shared.copies.push_back(copy);
    } catch (const std::bad_alloc &) {
        // Not shared: the next call reads the file again.
    }
}

}  // namespace

extern "C" {

const char *datafile_default_path(void) {
    try {
        return default_path().c_str();
    } catch (...) {
        return "";
    }
}

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
    Copy *known = nullptr;
    if (cache) {
        if (!*cache && !(*cache = newarr(nullptr))) return -1;
        if ((known = static_cast<Copy *>(getarr(*cache, path)))) {
            // A file that is gone leaves the copy read before.
            struct stat st;
            if (::stat(path, &st) != 0 || same_file(st, *known)) {
                *data = known->data;
                return known->size;
            }
        }
    }
    if (!cache) {
        struct stat st;
        Copy same;
        if (::stat(path, &st) == 0 && S_ISREG(st.st_mode) && shared_copy(st, &same)) {
            *data = same.data;
            return same.size;
        }
    }
    Copy fresh;
    if (!read_whole_file(path, &fresh)) return -1;
    if (!cache) keep_shared(fresh);
    if (cache) {
        // The record lives as long as the copies: until the process ends.
        // A changed file's record is updated in place; its older copy stays
        // valid for whoever still holds it.
        if (known) {
            *known = fresh;
        } else if (auto *record = static_cast<Copy *>(std::malloc(sizeof(Copy)))) {
            *record = fresh;
            if (setarr(*cache, path, record) == nullptr && getarr(*cache, path) != record) std::free(record);
        }
    }
    *data = fresh.data;
    return fresh.size;
}

}  // extern "C"
