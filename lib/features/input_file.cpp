#include "input_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace vorpix::features {
namespace {

// Records are small: a window of this size serves thousands of them per read.
constexpr std::size_t window_size = 1 << 20;

const char *kind_of(mode_t mode) {
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

}  // namespace

InputFile::InputFile(const std::string &path) : path_(path) {
    // Non-blocking, so that opening a FIFO without a writer does not hang;
    // it is refused below anyway.
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) throw Error(ErrorCode::Io, path, "", std::string("cannot open: ") + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        const int error = errno;
        ::close(fd_);
        throw Error(ErrorCode::Io, path, "", std::string("cannot open: ") + std::strerror(error));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd_);
        throw Error(ErrorCode::Io, path, "",
                    S_ISDIR(st.st_mode)
                        ? "is a directory"
                        : std::string("is ") + kind_of(st.st_mode) + "; vorpix reads regular files only");
    }
    size_ = static_cast<std::uint64_t>(st.st_size);
}

InputFile::~InputFile() {
    if (fd_ >= 0) ::close(fd_);
}

void InputFile::fill(std::uint64_t offset, std::size_t length) {
    const std::size_t want = std::max(length,
                                      static_cast<std::size_t>(std::min<std::uint64_t>(window_size, size_ - offset)));
    try {
        if (window_.size() < want) {
            // A range larger than the window: exactly its size, never more.
            std::vector<unsigned char>().swap(window_);
            window_.resize(want);
        }
    } catch (const std::bad_alloc &) {
        throw Error(
            ErrorCode::Memory, path_, "",
            std::to_string(length) + " bytes at byte " + std::to_string(offset) + ": not enough memory to read them");
    }
    start_ = offset;
    held_ = 0;
    while (held_ < want) {
        const ssize_t n = ::pread(fd_, window_.data() + held_, want - held_, static_cast<off_t>(offset + held_));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw Error(ErrorCode::Io, path_, "", std::string("cannot read: ") + std::strerror(errno));
        if (n == 0) break;  // the file shrank: what is missing is not there
        held_ += static_cast<std::size_t>(n);
    }
}

const unsigned char *InputFile::at(std::uint64_t offset, std::size_t length) {
    if (offset > size_ || length > size_ - offset) return nullptr;
    if (offset < start_ || offset + length > start_ + held_) {
        fill(offset, length);
        if (length > held_) return nullptr;
    }
    return window_.data() + (offset - start_);
}

std::vector<unsigned char> InputFile::all() {
    std::vector<unsigned char> bytes;
    try {
        bytes.resize(static_cast<std::size_t>(size_));
    } catch (const std::bad_alloc &) {
        throw Error(ErrorCode::Memory, path_, "", std::to_string(size_) + " bytes: not enough memory to read it");
    }
    std::size_t used = 0;
    while (used < bytes.size()) {
        const ssize_t n = ::pread(fd_, bytes.data() + used, bytes.size() - used, static_cast<off_t>(used));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw Error(ErrorCode::Io, path_, "", std::string("cannot read: ") + std::strerror(errno));
        if (n == 0) break;  // the file shrank
        used += static_cast<std::size_t>(n);
    }
    bytes.resize(used);
    return bytes;
}

std::string InputFile::head(std::size_t most, bool *whole) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size_, most));
    const unsigned char *p = at(0, n);
    if (whole) *whole = size_ <= most;
    return p ? std::string(reinterpret_cast<const char *>(p), n) : std::string();
}

std::string file_beside(const std::string &path, const std::vector<std::string> &extensions) {
    const auto dot = path.find_last_of('.');
    const std::string stem = dot == std::string::npos || path.find('/', dot) != std::string::npos ? path
                                                                                                  : path.substr(0, dot);
    for (const std::string &ext : extensions) {
        std::error_code error;
        if (std::filesystem::is_regular_file(stem + ext, error)) return stem + ext;
    }
    return "";
}

}  // namespace vorpix::features
