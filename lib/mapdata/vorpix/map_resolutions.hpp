// The five resolutions that shoreline, border and river files come in, as
// selections name them.
#ifndef VORPIX_MAP_RESOLUTIONS_HPP
#define VORPIX_MAP_RESOLUTIONS_HPP

namespace vorpix {

inline const char *const resolution_names[5] = {"crude", "low", "intermediate", "high", "full"};

// Resolutions by their first character; anything else is intermediate.
inline int resolution_index(const char *resolution) {
    switch (resolution ? resolution[0] : '\0') {
    case 'c': return 0;
    case 'l': return 1;
    case 'h': return 3;
    case 'f': return 4;
    default: return 2;
    }
}

}  // namespace vorpix

#endif
