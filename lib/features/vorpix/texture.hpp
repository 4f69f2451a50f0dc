// DDS textures (DXT1 and DXT5) as images: the mipmap levels a file holds and
// any one of them decoded to ARGB pixels.
#ifndef VORPIX_FEATURES_TEXTURE_HPP
#define VORPIX_FEATURES_TEXTURE_HPP

#include "vorpix/features.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vorpix::features {

// One decoded level, width x height pixels, row by row from the top, each
// 0xAARRGGBB.
struct TextureLevel {
    std::uint64_t width = 0, height = 0;
    std::vector<std::uint32_t> argb;
};

class TextureReader {
public:
    // Reads the headers; an Error naming the file when it is no DXT1 or
    // DXT5 texture.
    explicit TextureReader(const std::string &path, const std::function<void(const std::string &)> &opened = nullptr);
    ~TextureReader();
    TextureReader(const TextureReader &) = delete;
    TextureReader &operator=(const TextureReader &) = delete;
    // Levels as the file's chain walks them: each halves the sides of the
    // one before, down to 0.
    std::uint64_t levels() const;
    std::uint64_t width() const;
    std::uint64_t height() const;
    bool dxt5() const;
    // Level index decoded; an Error naming the file when the data run short.
    TextureLevel level(std::uint64_t index) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vorpix::features

#endif
