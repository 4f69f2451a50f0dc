// A file read through a window of bounded size: the bytes of any range are
// at hand while no more than the window and the largest range asked for is
// ever held in memory.
#ifndef VORPIX_FEATURES_INPUT_FILE_HPP
#define VORPIX_FEATURES_INPUT_FILE_HPP

#include "vorpix/features.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorpix::features {

class InputFile {
public:
    // Opens a regular file for reading; anything else is refused with an
    // Error naming it.
    explicit InputFile(const std::string &path);
    ~InputFile();
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;

    const std::string &path() const { return path_; }
    std::uint64_t size() const { return size_; }
    // The length bytes at offset, valid until the next call; null when they
    // run past the end of the file.
    const unsigned char *at(std::uint64_t offset, std::size_t length);
    // The whole file in memory of its own (for decoders that take all of
    // it); Error (Memory) when there is not enough.
    std::vector<unsigned char> all();
    // Up to most bytes from the start, and whether that was all.
    std::string head(std::size_t most, bool *whole);

private:
    void fill(std::uint64_t offset, std::size_t length);
    std::string path_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::vector<unsigned char> window_;
    std::uint64_t start_ = 0;  // the file offset of window_[0]
    std::size_t held_ = 0;     // bytes of window_ that hold the file
};

// The first of path's companions (its name with one of the extensions in
// place of its own) that is a regular file, or "".
std::string file_beside(const std::string &path, const std::vector<std::string> &extensions);

}  // namespace vorpix::features

#endif
