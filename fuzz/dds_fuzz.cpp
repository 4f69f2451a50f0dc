// Any bytes as a DDS file: every level and one chosen level through the
// sized decoder, the listing of what decoded, and wherever the sized decoder
// succeeds, the plain one decodes the same. The bytes after the first two are
// also DXT5 and DXT1 blocks of a small image whose sides those two give,
// decoded alike on the vector and the portable paths.
#include "fuzz_input.hpp"
#include "arrays.h"
#include "dds.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using vorpix::fuzz::require;

void release(DDSFILEStr *file) {
    if (file && file->argb_mipmaps) freetbl(file->argb_mipmaps, std::free);
    std::free(file);
}

bool same_file(const DDSFILEStr &a, const DDSFILEStr &b) {
    if (a.dwMagic != b.dwMagic || std::memcmp(&a.header, &b.header, sizeof a.header) != 0 ||
        std::memcmp(&a.header10, &b.header10, sizeof a.header10) != 0 || a.argb_first_level != b.argb_first_level ||
        !a.argb_mipmaps != !b.argb_mipmaps)
        return false;
    if (!a.argb_mipmaps) return true;
    const int entries = cnttbl(a.argb_mipmaps);
    if (entries != cnttbl(b.argb_mipmaps)) return false;
    std::uint64_t w = a.header.dwWidth, h = a.header.dwHeight;
    for (int level = 0; level < a.argb_first_level; ++level) w /= 2, h /= 2;
    for (int i = 0; i < entries; ++i, w /= 2, h /= 2) {
        const void *x = gettbl(a.argb_mipmaps, i), *y = gettbl(b.argb_mipmaps, i);
        // Whole block rows are written.
        if (!x != !y || (x && std::memcmp(x, y, w * ((h + 3) / 4 * 4) * sizeof(unsigned int)) != 0)) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vorpix::fuzz::silence();
    auto bytes = vorpix::fuzz::exact_copy(data, size);
    for (int index : {-1, static_cast<int>(size % 7)}) {
        DDSFILEStr *sized = nullptr, *plain = nullptr;
        if (dds_decode_file_sized(&sized, index, bytes.data(), static_cast<long>(bytes.size())) == 0) {
            dds_print_file(const_cast<char *>("> "), sized);
            unsigned char *stream = bytes.data();
            require(dds_decode_file(&plain, index, bytes.data(), &stream) == 0, "the plain decoder fails");
            require(same_file(*sized, *plain), "the plain decoder decodes otherwise");
            require(stream >= bytes.data() && stream <= bytes.data() + bytes.size(), "the plain decoder ends outside");
        }
        release(sized);
        release(plain);
    }

    if (size >= 2) {
        const unsigned long width = data[0] % 23, height = data[1] % 23;
        const size_t blocks = ((width + 3) / 4) * ((height + 3) / 4);
        if (blocks * 16 <= size - 2) {
            const std::vector<unsigned char> stored(data + 2, data + 2 + blocks * 16);
            const size_t pixels = width * ((height + 3) / 4 * 4);
            const auto [vector, portable] = vorpix::on_both_paths([&] {
                std::vector<unsigned int> dxt5(pixels, 0xDEADBEEFu), dxt1(pixels, 0xDEADBEEFu);
                BlockDecompressImageDXT5(width, height, stored.data(), dxt5.data());
                BlockDecompressImageDXT1(width, height, stored.data(), dxt1.data());
                // Block by block as well, the right edge's blocks cut to the width.
                std::vector<unsigned int> one_by_one(pixels, 0xDEADBEEFu);
                for (unsigned long k = 0; k < blocks; ++k)
                    DecompressBlockDXT5(4 * (k % ((width + 3) / 4)), 4 * (k / ((width + 3) / 4)), width,
                                        stored.data() + 16 * k, one_by_one.data());
                require(one_by_one == dxt5, "block by block differs from the whole image");
                dxt5.insert(dxt5.end(), dxt1.begin(), dxt1.end());
                return dxt5;
            });
            require(vector == portable, "the vector and portable paths decode otherwise");
        }
    }
    return 0;
}
