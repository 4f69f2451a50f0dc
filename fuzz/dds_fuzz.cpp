// Any bytes as a DDS file: every level and one chosen level through the
// sized decoder, the listing of what decoded, and the bytes after the first
// two as DXT5 blocks of a small image whose sides those two give.
#include "fuzz_input.hpp"
#include "arrays.h"
#include "dds.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vorpix::fuzz::silence();
    const auto bytes = vorpix::fuzz::exact_copy(data, size);
    DDSFILEStr *file = nullptr;
    for (int index : {-1, static_cast<int>(size % 7)}) {
        if (dds_decode_file_sized(&file, index, bytes.data(), static_cast<long>(bytes.size())) == 0)
            dds_print_file(const_cast<char *>("> "), file);
    }
    if (file && file->argb_mipmaps) freetbl(file->argb_mipmaps, std::free);
    std::free(file);

    if (size >= 2) {
        const unsigned long width = data[0] % 23, height = data[1] % 23;
        const size_t blocks = ((width + 3) / 4) * ((height + 3) / 4);
        if (blocks * 16 <= size - 2) {
            std::vector<unsigned char> stored(data + 2, data + 2 + blocks * 16);
            std::vector<unsigned int> image(width * ((height + 3) / 4 * 4));
            BlockDecompressImageDXT5(width, height, stored.data(), image.data());
            BlockDecompressImageDXT1(width, height, stored.data(), image.data());
        }
    }
    return 0;
}
