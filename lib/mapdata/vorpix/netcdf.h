/* netCDF classic headers (version byte 1) decoded from memory, their text
 * listing, and the binned border and river maps built on them. */
#ifndef VORPIX_NETCDF_H
#define VORPIX_NETCDF_H

#include <stdio.h>

#include "vorpix_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Arr Arr;

/* netCDF value types; 10 to 12 are the list tags. */
#define NETCDF_BYTE 1
#define NETCDF_CHAR 2
#define NETCDF_SHORT 3
#define NETCDF_INT 4
#define NETCDF_FLOAT 5
#define NETCDF_DOUBLE 6
#define NETCDF_DIMENSION 10
#define NETCDF_VARIABLE 11
#define NETCDF_ATTRIBUTE 12

/* n values of a type in host order; char values carry a NUL after the last. */
typedef struct NETCDFValues {
    int type;
    int n;
    void *values;
} NETCDFValues;

typedef struct NETCDFDim {
    char *name;
    int value; /* 0 marks the record (unlimited) dimension */
} NETCDFDim;

typedef struct NETCDFAttr {
    char *name;
    NETCDFValues values;
} NETCDFAttr;

typedef struct NETCDFVar {
    char *name;
    int ndims;
    NETCDFDim **dims; /* point into the header's dims */
    int nattrs;
    NETCDFAttr *attrs;
    int type;
    int vsize;
    int begin; /* offset of the data from the header's first byte */
    int fixed; /* 1 when no dimension has length 0 */
} NETCDFVar;

typedef struct NETCDFHdr {
    unsigned char *stream; /* the magic's address; the bytes are borrowed */
    int numrecs;
    NETCDFDim *dims;
    int dims_n;
    NETCDFAttr *attrs;
    int attrs_n;
    NETCDFVar *vars;
    int vars_n;
    Arr *vars_array; /* variable name to its NETCDFVar in vars; NULL without variables */
} NETCDFHdr;

/* Decoders. Each advances *stream past what it read and trusts the counts
 * and lengths it meets, failing only on a negative one. 0 (a new string for
 * netcdf_unstuff_string), or -1 (NULL) with a message in the error log. */
VORPIX_API int netcdf_unstuff_header(unsigned char **stream, NETCDFHdr **hdr);
VORPIX_API int netcdf_unstuff_attrs(unsigned char **stream, int *nattrs, NETCDFAttr **attrs);
VORPIX_API int netcdf_unstuff_values(unsigned char **stream, NETCDFValues *values);
VORPIX_API char *netcdf_unstuff_string(unsigned char **stream);
/* Releases everything the header owns (not the record itself). Returns 0. */
VORPIX_API int netcdf_clear_header(NETCDFHdr *hdr);

/* Decodes the header of a whole file of size bytes at data, as
 * netcdf_unstuff_header does, and also fails (-1, with a message naming the
 * item and the byte offset) when a count or length is negative or anything,
 * a variable's data included, lies outside the size bytes. */
VORPIX_API int netcdf_unstuff_header_sized(const unsigned char *data, long size, NETCDFHdr **hdr);

/* Texts in a 32-character buffer of each function, overwritten by its next call. */
VORPIX_API char *netcdf_type2str(int type);
VORPIX_API char *netcdf_value2str(int type, int i, void *values);
/* Writes the listing of hdr to file. Returns 0. */
VORPIX_API int netcdf_print_header(NETCDFHdr *hdr, FILE *file);

/* One binned border or river file and its bound variables. The byte
 * pointers address big-endian arrays inside the file's bytes. */
typedef struct NETCDFMapBorder {
    char name[64];
    NETCDFHdr *hdr;
    double lon_binsize;
    double lat_binsize;
    int nbin;
    int nbinlon;
    int nbinlat;
    unsigned char *seg0_bin;
    unsigned char *nseg_bin;
    unsigned char *npts_seg;
    unsigned char *levl_seg;
    unsigned char *pts0_seg;
    unsigned char *lon_pts;
    unsigned char *lat_pts;
} NETCDFMapBorder;

VORPIX_API int gmtmap_open(void **handle);
VORPIX_API int gmtmap_select(void *handle, char *types, char *resolution, double bb_lonwest, double bb_loneast,
                             double bb_latsouth, double bb_latnorth);
/* As gmtmap_select, and every kind named with a mask other than 0 also
 * takes its segments of level 0, for which a mask has no bit and which
 * gmtmap_select never takes: in the river files, double-lined rivers and
 * river-lakes. Messages are those of gmtmap_select. */
VORPIX_API int gmtmap_select_with_level0(void *handle, char *types, char *resolution, double bb_lonwest,
                                         double bb_loneast, double bb_latsouth, double bb_latnorth);
/* Releases a map object made by gmtmap_open: its selection and the headers
 * it decoded. The files it read stay available to other map objects (the
 * host keeps one copy of an unchanged file); bytes given through
 * gmtmap_use_data stay the caller's. NULL is accepted. Returns 0. */
VORPIX_API int gmtmap_close(void *handle);
VORPIX_API int gmtmap_process_border_hdr(NETCDFMapBorder *map);
VORPIX_API int gmtmap_nextseg(void *handle, int *npts, int *npts_size, float **lon, float **lat, char *type,
                              int *level);

/* As gmtmap_process_border_hdr, for a file of size bytes whose header is
 * map->hdr: also fails when a bound array lies outside the file, its length
 * disagrees with the bin and segment counts, or a bin count is not positive. */
VORPIX_API int gmtmap_process_border_hdr_sized(NETCDFMapBorder *map, long size);

/* Makes size bytes at data the file of a kind ('p' borders, 'r' rivers) at
 * the resolution named by its first character, as if it had been found and
 * mapped: its header is decoded and bound now, and later selections read it.
 * The bytes must outlive the map object. Empties the selection. 0, or -1
 * when they do not decode or bind. */
VORPIX_API int gmtmap_use_data(void *handle, char kind, const char *resolution, const unsigned char *data, long size);

#ifdef __cplusplus
}
#endif

#endif
