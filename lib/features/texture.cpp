// DDS textures read through the library's header decoder and DXT block
// decoders: DXT1 chains with a mipmap count through its file decoder, the
// others walked here by the same halving, level by level.
#include "vorpix/texture.hpp"

#include "dds_file.hpp"
#include "input_file.hpp"
#include "map_support.hpp"

#include "arrays.h"
#include "dds.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace vorpix::features {
namespace {

constexpr std::size_t header_bytes = 128;

std::string fourcc_text(std::uint64_t code) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((code >> (8 * i)) & 0xff);
        s += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
    }
    return s;
}

// A level of 2^32-1 by 2^32-1 pixels takes 2^64 bytes, one more than 64 bits hold.
std::string decimal(unsigned __int128 value) {
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(value % 10)));
        value /= 10;
    } while (value != 0);
    return digits;
}

}  // namespace

struct TextureReader::Impl {
    std::string path;
    std::vector<unsigned char> bytes;
    DDSHEADERStr header{};
    bool dxt5 = false;
    std::uint64_t levels = 1;  // as the decoder walks them: sides halve down to 0

    [[noreturn]] void fail(const std::string &reason, ErrorCode code = ErrorCode::Invalid) const {
        throw Error(code, path, "", reason);
    }

    void read_header() {
        if (bytes.size() < header_bytes)
            fail("not a DDS texture: " + std::to_string(bytes.size()) + " bytes, the headers alone take 128");
        if (std::memcmp(bytes.data(), "DDS ", 4) != 0) fail("not a DDS texture (no \"DDS \" magic)");
        void *record = &header;
        auto *start = bytes.data();
        unsigned char *stream = start + 4;
        MapLog log;
        if (dds_unstuff_stream(DDS_HEADER, &record, start, &stream) < 0) fail(log.reason(), log.code());
        const DDSPIXELFORMATStr &pf = header.ddspf;
        const auto code = static_cast<std::uint32_t>(pf.dwFourCC);
        if (!(pf.dwFlags & DPF_FOURCC) || (code != DDS_FOURCC_DXT1 && code != DDS_FOURCC_DXT5))
            throw Error(ErrorCode::Unsupported, path, "",
                        ((pf.dwFlags & DPF_FOURCC) ? "compressed as " + fourcc_text(pf.dwFourCC)
                                                   : std::string("not compressed")) +
                            "; vorpix draws DXT1 and DXT5 textures only");
        dxt5 = code == DDS_FOURCC_DXT5;
        if ((header.dwFlags & DSD_MIPMAPCOUNT) && (header.dwFlags & DSD_PIXELFORMAT)) levels = header.dwMipMapCount;
    }

    TextureLevel level(std::uint64_t index) const {
        TextureLevel level{header.dwWidth, header.dwHeight, {}};
        for (std::uint64_t k = 0; k < index; ++k) level.width /= 2, level.height /= 2;
        const bool library = !dxt5 && (header.dwFlags & DSD_MIPMAPCOUNT) && (header.dwFlags & DSD_PIXELFORMAT);
        if (library) {
            DdsFile decoded;
            MapLog log;
            if (dds_decode_file_sized(&decoded.file, static_cast<int>(std::min<std::uint64_t>(index, INT32_MAX)),
                                      bytes.data(), static_cast<long>(bytes.size())) < 0)
                fail(log.reason(), log.code());
            const auto *pixels = static_cast<const std::uint32_t *>(gettbl(decoded.file->argb_mipmaps, 0));
            if (!pixels) fail("the texture holds no image");
            level.argb.assign(pixels, pixels + level.width * level.height);
            return level;
        }
        const std::size_t block = dxt5 ? 16 : 8;
        std::size_t offset = header_bytes;
        std::uint64_t w = header.dwWidth, h = header.dwHeight;
        for (std::uint64_t k = 0;; ++k, w /= 2, h /= 2) {
            const std::uint64_t blocks = std::max<std::uint64_t>(1, (w + 3) / 4) *
                                         std::max<std::uint64_t>(1, (h + 3) / 4);
            if (blocks > (bytes.size() - offset) / block)
                fail("truncated: mipmap level " + std::to_string(k) + " needs " +
                     decimal(static_cast<unsigned __int128>(blocks) * block) + " bytes at byte " +
                     std::to_string(offset) + ", " + std::to_string(bytes.size() - offset) + " remain");
            if (k == index) {
                const auto rows = static_cast<std::size_t>((h + 3) / 4 * 4);
                std::vector<std::uint32_t> image(std::max<std::size_t>(1, static_cast<std::size_t>(w) * rows));
                if (dxt5) BlockDecompressImageDXT5(w, h, bytes.data() + offset, image.data());
                else BlockDecompressImageDXT1(w, h, bytes.data() + offset, image.data());
                level.argb.assign(image.begin(), image.begin() + static_cast<long>(w * h));
                return level;
            }
            offset += static_cast<std::size_t>(blocks * block);
        }
    }
};

TextureReader::TextureReader(const std::string &path, const std::function<void(const std::string &)> &opened)
    : impl_(std::make_unique<Impl>()) {
    impl_->path = path;
    InputFile file(path);
    if (opened) opened(path);
    impl_->bytes = file.all();
    impl_->read_header();
}

TextureReader::~TextureReader() = default;
std::uint64_t TextureReader::levels() const { return impl_->levels; }
std::uint64_t TextureReader::width() const { return impl_->header.dwWidth; }
std::uint64_t TextureReader::height() const { return impl_->header.dwHeight; }
bool TextureReader::dxt5() const { return impl_->dxt5; }
TextureLevel TextureReader::level(std::uint64_t index) const { return impl_->level(index); }

}  // namespace vorpix::features
