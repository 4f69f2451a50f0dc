// The netCDF classic format's own numbers: the tags that open the lists of a
// header, the smallest encoding of each list entry, the padding of names and
// values to four bytes, and the names and sizes of the value types. Included
// once, by netcdf_strdefs.cpp.
#ifndef VORPIX_NETCDF_TABLES_HPP
#define VORPIX_NETCDF_TABLES_HPP

#include "netcdf.h"

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace {

constexpr std::int32_t tag_absent = 0;
constexpr std::int32_t tag_dimension = 10;
constexpr std::int32_t tag_variable = 11;
constexpr std::int32_t tag_attribute = 12;

// Smallest encodings, so that a count can be checked against what remains
// before anything is allocated for it.
constexpr size_t min_dimension_bytes = 8;   // empty name, length
constexpr size_t min_attribute_bytes = 12;  // empty name, type, count
constexpr size_t min_variable_bytes = 28;   // empty name, ndims, ABSENT, type, vsize, begin

const char *type_name(int type) {
    switch (type) {
    case NETCDF_BYTE: return "byte";
    case NETCDF_CHAR: return "char";
    case NETCDF_SHORT: return "short";
    case NETCDF_INT: return "int";
    case NETCDF_FLOAT: return "float";
    case NETCDF_DOUBLE: return "double";
    case NETCDF_DIMENSION: return "dimension";
    case NETCDF_VARIABLE: return "variable";
    case NETCDF_ATTRIBUTE: return "attribute";
    default: return nullptr;
    }
}

inline size_t fill_of(size_t size) { return (4 - size % 4) % 4; }

int value_size(int type) {
    // NETCDF_BYTE to NETCDF_DOUBLE, which are 1 to 6.
    static constexpr std::int8_t sizes[] = {0, 1, 1, 2, 4, 4, 8};
    static_assert(NETCDF_BYTE == 1 && NETCDF_CHAR == 2 && NETCDF_SHORT == 3 && NETCDF_INT == 4 && NETCDF_FLOAT == 5 &&
                  NETCDF_DOUBLE == 6);
    return static_cast<unsigned>(type) < std::size(sizes) ? sizes[type] : 0;
}

}  // namespace

#endif
