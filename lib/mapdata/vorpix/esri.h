/* ESRI shapefiles (.shp) and dBase files (.dbf) decoded from memory by one
 * table-driven engine, their text listings, and the fetch of one shape record
 * named by a database row. */
#ifndef VORPIX_ESRI_H
#define VORPIX_ESRI_H

#include <stdio.h>

#include "db.h"
#include "vorpix_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Tbl Tbl;
typedef struct Arr Arr;

/* Item type codes of a field descriptor row. */
#define ESRI_INT 1
#define ESRI_DOUBLE 2
#define ESRI_POINT 3
#define ESRI_BOX 4
#define ESRI_CHAR 5
#define ESRI_UCHAR 6
#define ESRI_SHORT 7

/* One row of a structure's field table: number 0 takes the item count from
 * the int member at offset_number and stores a new array in the member. */
typedef struct ESRIStrdef {
    char name[32];
    int type;
    int number;
    int offset_number;
    int offset;
    int bigendian;
} ESRIStrdef;

typedef struct ESRIStrdefs {
    int str_type;
    int str_size;
    const ESRIStrdef *strdef;
    int strdef_size;
    int (*unstuff)(void *estruc, unsigned char *stream0, unsigned char **stream);
    void (*print)(char *prefix, void *estruc, int recno);
} ESRIStrdefs;

typedef struct ESRISHPPOINTStr {
    double x;
    double y;
} ESRISHPPOINTStr;

typedef struct ESRISHPBOXStr {
    double xmin;
    double ymin;
    double xmax;
    double ymax;
} ESRISHPBOXStr;

/* The 100-byte main-file header; length is in 16-bit words. */
typedef struct ESRISHPFILEHDRStr {
    int magic;
    int unused1;
    int unused2;
    int unused3;
    int unused4;
    int unused5;
    int length;
    int version;
    int shape_type;
    double xmin;
    double ymin;
    double xmax;
    double ymax;
    double zmin;
    double zmax;
    double mmin;
    double mmax;
} ESRISHPFILEHDRStr;

typedef struct ESRISHPRECHDRStr {
    int number;
    int length; /* of the contents, in 16-bit words */
} ESRISHPRECHDRStr;

typedef struct ESRISHPRECStr {
    unsigned long offset; /* of the record header from the file's first byte */
    int shape_type;
    ESRISHPRECHDRStr hdr;
    void *record; /* the shape structure of shape_type */
} ESRISHPRECStr;

typedef struct ESRISHPStr {
    ESRISHPFILEHDRStr hdr;
    Tbl *records; /* of ESRISHPRECStr *, in file order */
} ESRISHPStr;

/* Shape structures, one per shape type; arrays are owned by the structure. */
typedef struct ESRISHPRECNULLStr {
    int shape_type;
} ESRISHPRECNULLStr;

typedef struct ESRISHPRECPOINTStr {
    int shape_type;
    double x;
    double y;
} ESRISHPRECPOINTStr;

typedef struct ESRISHPRECPOINTMStr {
    int shape_type;
    double x;
    double y;
    double m;
} ESRISHPRECPOINTMStr;

typedef struct ESRISHPRECPOINTZStr {
    int shape_type;
    double x;
    double y;
    double z;
    double m;
} ESRISHPRECPOINTZStr;

typedef struct ESRISHPRECMPOINTStr {
    int shape_type;
    ESRISHPBOXStr bbox;
    int numpoints;
    ESRISHPPOINTStr *points;
} ESRISHPRECMPOINTStr;

typedef struct ESRISHPRECMPOINTMStr {
    int shape_type;
    ESRISHPBOXStr bbox;
    int numpoints;
    ESRISHPPOINTStr *points;
    double mmin;
    double mmax;
    double *marray;
} ESRISHPRECMPOINTMStr;

typedef struct ESRISHPRECMPOINTZStr {
    int shape_type;
    ESRISHPBOXStr bbox;
    int numpoints;
    ESRISHPPOINTStr *points;
    double zmin;
    double zmax;
    double *zarray;
    double mmin;
    double mmax;
    double *marray;
} ESRISHPRECMPOINTZStr;

/* PolyLine and Polygon records. */
typedef struct ESRISHPRECPOLYGStr {
    int shape_type;
    ESRISHPBOXStr bbox;
    int numparts;
    int numpoints;
    int *parts;
    ESRISHPPOINTStr *points;
} ESRISHPRECPOLYGStr;

typedef struct ESRISHPRECPOLYGMStr {
    int shape_type;
    ESRISHPBOXStr bbox;
    int numparts;
    int numpoints;
    int *parts;
    ESRISHPPOINTStr *points;
    double mmin;
    double mmax;
    double *marray;
} ESRISHPRECPOLYGMStr;

typedef struct ESRISHPRECPOLYGZStr {
    int shape_type;
    ESRISHPBOXStr bbox;
    int numparts;
    int numpoints;
    int *parts;
    ESRISHPPOINTStr *points;
    double zmin;
    double zmax;
    double *zarray;
    double mmin;
    double mmax;
    double *marray;
} ESRISHPRECPOLYGZStr;

typedef struct ESRISHPRECMULTIPAStr {
    int shape_type;
    ESRISHPBOXStr bbox;
    int numparts;
    int numpoints;
    int *parts;
    int *parttypes;
    ESRISHPPOINTStr *points;
    double zmin;
    double zmax;
    double *zarray;
    double mmin;
    double mmax;
    double *marray;
} ESRISHPRECMULTIPAStr;

typedef struct ESRIDBASEHDRStr {
    unsigned char flags; /* the version byte */
    unsigned char date_update[3];
    int numrecs;
    short numbyteshdr; /* header area, descriptors and terminator included */
    short numbytesrec; /* one record, deletion flag included */
    short unused1;
    unsigned char incomplete;
    unsigned char encrypted;
    int unused2;
    int unused3;
    int unused4;
    unsigned char mdx;
    unsigned char langid;
    short unused5;
    char langdr[32]; /* level 7 only */
    int unused6;     /* level 7 only */
} ESRIDBASEHDRStr;

typedef struct ESRIDBASEFIELDDESCRStr {
    char name[12];
    char type; /* 'C' character, 'N' numeric, ... */
    unsigned char length;
    unsigned char count;
    short unused1;
    unsigned char mdx;
    short unused2;
    int next;
    int unused3;
    int unused4;
    short workid;
    unsigned char example;
    unsigned char unused5[10];
} ESRIDBASEFIELDDESCRStr;

/* Declared for level-7 files; never filled. */
typedef struct ESRIDBASEFIELDPROPSStr {
    short numstand;
    short startstand;
    short numcust;
    short startcust;
    short numref;
    short startref;
    short startdata;
    short sizestr;
    Tbl *standard_properties;
    Tbl *custom_properties;
    Tbl *referential_properties;
} ESRIDBASEFIELDPROPSStr;

typedef struct ESRIDBASEStr {
    int level;
    ESRIDBASEHDRStr hdr;
    Tbl *field_descriptors; /* of ESRIDBASEFIELDDESCRStr *, in file order */
    ESRIDBASEFIELDPROPSStr field_properties;
    unsigned char *records; /* a copy of numrecs * numbytesrec bytes */
} ESRIDBASEStr;

/* Builds the registry of structure definitions once. Returns 0. */
VORPIX_API int esri_strdefs_init(void);
/* The name of a shape or structure type code, or "Unknown". */
VORPIX_API char *esri_get_shapetype(int shape_type);
/* Decodes one structure of str_type at *stream into *estruc (allocated when
 * NULL, zeroed in any case) and advances *stream. 0, or -1 with a message. */
VORPIX_API int esri_unstuff_stream(int str_type, void **estruc, unsigned char *stream0, unsigned char **stream);

/* A whole main file at *stream (normally stream0) into the caller's zeroed
 * ESRISHPStr. Trusts the lengths and counts it meets. 0 or -1. */
VORPIX_API int esri_decode_shapefile(void *estruc, unsigned char *stream0, unsigned char **stream);
/* A level-5 dBase file at *stream into the caller's zeroed ESRIDBASEStr.
 * 0 or -1. */
VORPIX_API int esri_decode_dbase_file(void *dstruc, unsigned char *stream0, unsigned char **stream);
/* Record recno's character and numeric fields as a new Arr from trimmed
 * name to trimmed value (values released with free). 0 or -1. */
VORPIX_API int esri_get_dbase_fields(ESRIDBASEStr *dbstr, int recno, Arr **fields);

/* Sized forms for whole files of size bytes at data: as the plain decoders,
 * and also -1, with a message naming the record and the problem, when a
 * count, length or offset is negative or runs past the data. Nothing outside
 * the size bytes is read. */
VORPIX_API int esri_decode_shapefile_sized(ESRISHPStr *shp, const unsigned char *data, long size);
VORPIX_API int esri_decode_dbase_file_sized(ESRIDBASEStr *dbf, const unsigned char *data, long size);
/* Everything under a decoded shapefile (its records, their shapes and the
 * shapes' arrays); the structure itself stays, zeroed. NULL does nothing. A
 * dBase file goes with esri_release_dbase_file below. */
VORPIX_API void esri_release_shapefile(ESRISHPStr *shp);

/* Beside the whole-file decoders, for readers that take a file a record at a
 * time and never hold all of it. */

/* One main-file record, its 8-byte header and its contents, from size bytes
 * at data (more than the record needs is allowed), into the caller's zeroed
 * ESRISHPRECStr, which records offset as its place in the file. -1 with a
 * message, as the sized decoders give, when the record does not add up. */
VORPIX_API int esri_decode_shapefile_record_sized(ESRISHPRECStr *rec, const unsigned char *data, long size,
                                                  long offset);
/* What a record holds (its shape and the shape's arrays); rec itself stays,
 * zeroed. */
VORPIX_API void esri_release_shapefile_record(ESRISHPRECStr *rec);

/* The header and field descriptors of a level-5 dBase file from its first
 * size bytes at data, into the caller's zeroed ESRIDBASEStr; records stays
 * NULL. The header area must be whole: its length (numbyteshdr) must leave
 * room for the descriptors read and lie within size, and the fields must fit
 * in numbytesrec bytes after the deletion flag. 0, or -1 with a message. */
VORPIX_API int esri_decode_dbase_header_sized(ESRIDBASEStr *dbf, const unsigned char *data, long size);
/* Everything under a dBase structure; the structure itself stays, zeroed. */
VORPIX_API void esri_release_dbase_file(ESRIDBASEStr *dbf);

/* One typed field value of a dBase record. */
#define ESRI_VALUE_NULL 0    /* blank, overflowed ("***") or unreadable */
#define ESRI_VALUE_INTEGER 1 /* N or F without a fraction or exponent, in range: integer */
#define ESRI_VALUE_REAL 2    /* other N, F, O fields: real */
#define ESRI_VALUE_LOGICAL 3 /* L: integer 1 (T, t, Y, y) or 0 (F, f, N, n) */
#define ESRI_VALUE_TEXT 4    /* other types: text, length bytes as stored */
#define ESRI_VALUE_DATE 5    /* D, "YYYYMMDD": integer YYYYMMDD */
typedef struct ESRIDBASEVALUEStr {
    int type;
    long long integer;
    double real;
    const unsigned char *text; /* within the record, trimmed of blanks; not terminated */
    int length;
} ESRIDBASEVALUEStr;
/* The values of one record, the record's size bytes at record starting with
 * its deletion flag, into values[0..count-1], one per field descriptor in
 * file order (fields past count are not read; missing ones are NULL). A
 * field's text ends at its first zero byte; bytes past size read as blanks.
 * 1 when the record is marked deleted ('*'), 0 when not, -1 on bad arguments. */
VORPIX_API int esri_get_dbase_values(const ESRIDBASEStr *dbf, const unsigned char *record, long size,
                                     ESRIDBASEVALUEStr *values, int count);

/* Listings on standard output; each nesting level adds two blanks to prefix. */
VORPIX_API void esri_print_shapefile(char *prefix, void *estruc);
VORPIX_API void esri_print_shapefile_record(char *prefix, void *estruc, int recno);
VORPIX_API void esri_print_dbase_file(char *prefix, void *estruc);
/* The same listings on the stream file, open for writing; the ones above
 * are these on stdout. A shapefile whose records table is NULL lists its
 * header alone, so that a reader that decodes one record at a time can list
 * the file as esri_fprint_shapefile lists the whole of it: the header with
 * records NULL, then each record with esri_fprint_shapefile_record and its
 * number from 0. */
VORPIX_API void esri_fprint_shapefile(FILE *file, char *prefix, void *estruc);
VORPIX_API void esri_fprint_shapefile_record(FILE *file, char *prefix, void *estruc, int recno);
VORPIX_API void esri_fprint_dbase_file(FILE *file, char *prefix, void *estruc);

/* The shape record that a database row names by its "fileid" and "offset",
 * through the database's "filename" table. 0 or -1. The names of file ids and
 * the files read are kept for the process in two caches that all threads
 * share, behind a lock (a file is read again only when it changed): several
 * threads may fetch at once, each through a handle of its own. */
VORPIX_API int esri_get_db_shp_record(Dbptr db, ESRISHPRECStr *record);

#ifdef __cplusplus
}
#endif

#endif
