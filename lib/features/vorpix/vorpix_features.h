/* The feature layer from C: the features of a shapefile set (or a dBase
 * table alone) one at a time, with typed attributes in UTF-8 and coordinates
 * in longitude and latitude. Nothing here throws; errors come back as data. */
#ifndef VORPIX_FEATURES_H
#define VORPIX_FEATURES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct vpx_reader vpx_reader;

/* What went wrong: a code, the file, the place in it and the reason. */
#define VPX_OK 0
#define VPX_INVALID 1     /* the data do not add up, or a value cannot be used */
#define VPX_IO 2          /* a file cannot be opened or read */
#define VPX_UNSUPPORTED 3 /* a valid file of a kind or version not read */
#define VPX_MEMORY 4      /* not enough memory */
typedef struct vpx_error {
    int code;
    char file[512];
    char place[64];
    char message[1024]; /* the whole line: "FILE: PLACE: REASON" */
} vpx_error;

/* Options; a zeroed structure reads everything as vorpix shapes writes it
 * (see vpx_options_init). Strings may be NULL. */
typedef struct vpx_options {
    const char *dbf;      /* the table, or NULL for the .dbf beside the file */
    int no_attributes;    /* 1: no table */
    const char *encoding; /* the table's text encoding, over what it says */
    int deleted;          /* 1: give records marked deleted too */
    int no_transform;     /* 1: coordinates as stored, whatever the .prj says */
    int no_rfc7946;       /* 1: longitudes as stored, no cut at the antimeridian */
    int boxed;            /* 1: only features that meet box (west, east, south, north) */
    double box[4];
} vpx_options;
void vpx_options_init(vpx_options *options);

/* Field value types. */
#define VPX_NULL 0
#define VPX_INTEGER 1
#define VPX_REAL 2
#define VPX_BOOLEAN 3
#define VPX_STRING 4
#define VPX_DATE 5 /* integer YYYYMMDD */
typedef struct vpx_value {
    int type;
    int64_t integer;
    double real;
    const char *text; /* VPX_STRING: UTF-8, terminated */
} vpx_value;

/* Geometry types, as GeoJSON names them. */
#define VPX_NONE 0
#define VPX_POINT 1
#define VPX_MULTIPOINT 2
#define VPX_LINESTRING 3
#define VPX_MULTILINESTRING 4
#define VPX_POLYGON 5
#define VPX_MULTIPOLYGON 6

/* One feature, valid until the next call on its reader. Points i of x and y
 * (z and m when not NULL) form runs: run r holds points runs[r] to
 * runs[r+1]-1; polygon p holds runs parts[p] to parts[p+1]-1, exterior
 * counter-clockwise first, holes clockwise, rings closed. */
typedef struct vpx_feature {
    long id; /* the record's number from 0 */
    int deleted;
    int geometry_type;
    size_t point_count, run_count, polygon_count;
    const double *x, *y, *z, *m;
    const uint32_t *runs, *parts;
    size_t value_count;
    const vpx_value *values;
} vpx_feature;

/* Opens path (.shp or .dbf); NULL with *error filled when it cannot. */
vpx_reader *vpx_open_shapefile(const char *path, const vpx_options *options, vpx_error *error);
/* The fields: their count, and each one's UTF-8 name and dBase type letter. */
int vpx_field_count(const vpx_reader *reader);
const char *vpx_field_name(const vpx_reader *reader, int i);
char vpx_field_type(const vpx_reader *reader, int i);
/* 1 with the next feature, 0 at the end, -1 with *error filled. */
int vpx_next(vpx_reader *reader, vpx_feature *feature, vpx_error *error);
void vpx_close(vpx_reader *reader);

#ifdef __cplusplus
}
#endif

#endif
