// A DDS file as the library decodes it, released with its levels.
#ifndef VORPIX_FEATURES_DDS_FILE_HPP
#define VORPIX_FEATURES_DDS_FILE_HPP

#include "arrays.h"
#include "dds.h"

#include <cstdlib>

namespace vorpix::features {

struct DdsFile {
    DDSFILEStr *file = nullptr;
    DdsFile() = default;
    DdsFile(const DdsFile &) = delete;
    DdsFile &operator=(const DdsFile &) = delete;
    ~DdsFile() {
        if (file && file->argb_mipmaps) freetbl(file->argb_mipmaps, std::free);
        std::free(file);
    }
};

}  // namespace vorpix::features

#endif
