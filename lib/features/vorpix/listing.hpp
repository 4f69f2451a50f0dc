// Listings of map files as the vorpix library prints them, written to a
// stream as they are made. A shapefile or a dBase table is read a record at
// a time, so that memory stays bounded by the largest single record whatever
// the size of the file; its listing is the one that the library prints of
// the whole file decoded (esri_print_shapefile, esri_print_dbase_file), byte
// for byte. Failures are Errors naming the file, and what was listed before
// one stays written.
#ifndef VORPIX_FEATURES_LISTING_HPP
#define VORPIX_FEATURES_LISTING_HPP

#include "vorpix/features.hpp"

#include <cstdio>
#include <string>

namespace vorpix::features {

// What a file holds, by its first bytes; dBase and shoreline files, which
// begin with no mark of their own, by their names (.dbf, .b, in any case).
enum class FileKind {
    Unknown,
    NetcdfClassic,
    Netcdf64BitOffset,  // netCDF files that the library does not read
    Netcdf64BitData,
    Netcdf4,
    Dds,
    Shapefile,
    Dbase,
    Shoreline,
};
// Opens the file as InputFile does, refusing what is not a regular file.
FileKind file_kind(const std::string &path);

// The main file's header, then each record in file order as the library's
// whole-file decoder walks them (each record after the bytes that the one
// before it decoded, until the header's file length is used up).
void list_shapefile(const std::string &path, FILE *out);
// The header and field descriptors, then one line per record slot. A table
// whose records are 0 bytes long (no room for the deletion flag) is refused.
void list_dbase_file(const std::string &path, FILE *out);
// A DDS texture with its decoded mipmap levels; the whole file is read.
void list_dds_file(const std::string &path, FILE *out);
// A netCDF classic file's header, as netcdf_print_header prints it.
void list_netcdf_file(const std::string &path, FILE *out);
// A shoreline file's polygon headers, one line each with its offset, after
// a line of column names; the points are passed over a window at a time.
void list_shoreline_file(const std::string &path, FILE *out);

}  // namespace vorpix::features

#endif
