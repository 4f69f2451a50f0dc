// The ESRI structure tables: one row per field of every structure that
// shapefiles and dBase files hold, in the order of the file, checked when
// compiled; the sets that give each structure type its table (or its own
// decoder and printer); and the names of the types. Included once, by
// esri_strdefs.cpp.
#ifndef VORPIX_ESRI_TABLES_HPP
#define VORPIX_ESRI_TABLES_HPP

#include "esri.h"

#include "esri_types.hpp"

#include <cstddef>
#include <iterator>

// The rows stand one to a line, as the format lays the fields out.
// clang-format off

namespace {

using enum vorpix::esri::StructureType;

constexpr ESRIStrdef make_row(const char *name, int type, int number, size_t offset_number, size_t offset,
                              int bigendian) {
    ESRIStrdef row{};
    for (size_t i = 0; name[i] && i + 1 < sizeof row.name; ++i) row.name[i] = name[i];
    row.type = type;
    row.number = number;
    row.offset_number = static_cast<int>(offset_number);
    row.offset = static_cast<int>(offset);
    row.bigendian = bigendian;
    return row;
}

constexpr int LE = 0, BE = 1;

// A row of n items stored in the member itself.
#define FIXED(S, member, type, n, order) make_row(#member, type, n, 0, offsetof(S, member), order)
// A row whose item count is the int member `counter`; the items go to a new array.
#define COUNTED(S, member, type, counter) make_row(#member, type, 0, offsetof(S, counter), offsetof(S, member), LE)

constexpr ESRIStrdef SHPPOINT_Strdef[] = {
    FIXED(ESRISHPPOINTStr, x, ESRI_DOUBLE, 1, LE),
    FIXED(ESRISHPPOINTStr, y, ESRI_DOUBLE, 1, LE),
};

constexpr ESRIStrdef SHPBOX_Strdef[] = {
    FIXED(ESRISHPBOXStr, xmin, ESRI_DOUBLE, 1, LE),
    FIXED(ESRISHPBOXStr, ymin, ESRI_DOUBLE, 1, LE),
    FIXED(ESRISHPBOXStr, xmax, ESRI_DOUBLE, 1, LE),
    FIXED(ESRISHPBOXStr, ymax, ESRI_DOUBLE, 1, LE),
};

// Lengths and the magic are big-endian, everything after them little-endian.
constexpr ESRIStrdef SHPFILEHDR_Strdef[] = {
    FIXED(ESRISHPFILEHDRStr, magic, ESRI_INT, 1, BE),
    FIXED(ESRISHPFILEHDRStr, unused1, ESRI_INT, 1, BE),
    FIXED(ESRISHPFILEHDRStr, unused2, ESRI_INT, 1, BE),
    FIXED(ESRISHPFILEHDRStr, unused3, ESRI_INT, 1, BE),
    FIXED(ESRISHPFILEHDRStr, unused4, ESRI_INT, 1, BE),
    FIXED(ESRISHPFILEHDRStr, unused5, ESRI_INT, 1, BE),
    FIXED(ESRISHPFILEHDRStr, length, ESRI_INT, 1, BE),
    FIXED(ESRISHPFILEHDRStr, version, ESRI_INT, 1, LE),
    FIXED(ESRISHPFILEHDRStr, shape_type, ESRI_INT, 1, LE),
    FIXED(ESRISHPFILEHDRStr, xmin, ESRI_DOUBLE, 1, LE),
    FIXED(ESRISHPFILEHDRStr, ymin, ESRI_DOUBLE, 1, LE),
    FIXED(ESRISHPFILEHDRStr, xmax, ESRI_DOUBLE, 1, LE),
    FIXED(ESRISHPFILEHDRStr, ymax, ESRI_DOUBLE, 1, LE),
    FIXED(ESRISHPFILEHDRStr, zmin, ESRI_DOUBLE, 1, LE),
    FIXED(ESRISHPFILEHDRStr, zmax, ESRI_DOUBLE, 1, LE),
    FIXED(ESRISHPFILEHDRStr, mmin, ESRI_DOUBLE, 1, LE),
    FIXED(ESRISHPFILEHDRStr, mmax, ESRI_DOUBLE, 1, LE),
};

constexpr ESRIStrdef SHPRECHDR_Strdef[] = {
    FIXED(ESRISHPRECHDRStr, number, ESRI_INT, 1, BE),
    FIXED(ESRISHPRECHDRStr, length, ESRI_INT, 1, BE),
};

constexpr ESRIStrdef SHPRECNULL_Strdef[] = {
    FIXED(ESRISHPRECNULLStr, shape_type, ESRI_INT, 1, LE),
};

constexpr ESRIStrdef SHPRECPOINT_Strdef[] = {
    FIXED(ESRISHPRECPOINTStr, shape_type, ESRI_INT, 1, LE),
    FIXED(ESRISHPRECPOINTStr, x, ESRI_DOUBLE, 1, LE),
    FIXED(ESRISHPRECPOINTStr, y, ESRI_DOUBLE, 1, LE),
};

constexpr ESRIStrdef SHPRECPOINTM_Strdef[] = {
    FIXED(ESRISHPRECPOINTMStr, shape_type, ESRI_INT, 1, LE),
    FIXED(ESRISHPRECPOINTMStr, x, ESRI_DOUBLE, 1, LE),
    FIXED(ESRISHPRECPOINTMStr, y, ESRI_DOUBLE, 1, LE),
    FIXED(ESRISHPRECPOINTMStr, m, ESRI_DOUBLE, 1, LE),
};

constexpr ESRIStrdef SHPRECPOINTZ_Strdef[] = {
    FIXED(ESRISHPRECPOINTZStr, shape_type, ESRI_INT, 1, LE),
    FIXED(ESRISHPRECPOINTZStr, x, ESRI_DOUBLE, 1, LE),
    FIXED(ESRISHPRECPOINTZStr, y, ESRI_DOUBLE, 1, LE),
    FIXED(ESRISHPRECPOINTZStr, z, ESRI_DOUBLE, 1, LE),
    FIXED(ESRISHPRECPOINTZStr, m, ESRI_DOUBLE, 1, LE),
};

constexpr ESRIStrdef SHPRECMPOINT_Strdef[] = {
    FIXED(ESRISHPRECMPOINTStr, shape_type, ESRI_INT, 1, LE),
    FIXED(ESRISHPRECMPOINTStr, bbox, ESRI_BOX, 1, LE),
    FIXED(ESRISHPRECMPOINTStr, numpoints, ESRI_INT, 1, LE),
    COUNTED(ESRISHPRECMPOINTStr, points, ESRI_POINT, numpoints),
};

constexpr ESRIStrdef SHPRECMPOINTM_Strdef[] = {
    FIXED(ESRISHPRECMPOINTMStr, shape_type, ESRI_INT, 1, LE),
    FIXED(ESRISHPRECMPOINTMStr, bbox, ESRI_BOX, 1, LE),
    FIXED(ESRISHPRECMPOINTMStr, numpoints, ESRI_INT, 1, LE),
    COUNTED(ESRISHPRECMPOINTMStr, points, ESRI_POINT, numpoints),
    FIXED(ESRISHPRECMPOINTMStr, mmin, ESRI_DOUBLE, 1, LE),
    FIXED(ESRISHPRECMPOINTMStr, mmax, ESRI_DOUBLE, 1, LE),
    COUNTED(ESRISHPRECMPOINTMStr, marray, ESRI_DOUBLE, numpoints),
};

constexpr ESRIStrdef SHPRECMPOINTZ_Strdef[] = {
    FIXED(ESRISHPRECMPOINTZStr, shape_type, ESRI_INT, 1, LE),
    FIXED(ESRISHPRECMPOINTZStr, bbox, ESRI_BOX, 1, LE),
    FIXED(ESRISHPRECMPOINTZStr, numpoints, ESRI_INT, 1, LE),
    COUNTED(ESRISHPRECMPOINTZStr, points, ESRI_POINT, numpoints),
    FIXED(ESRISHPRECMPOINTZStr, zmin, ESRI_DOUBLE, 1, LE),
    FIXED(ESRISHPRECMPOINTZStr, zmax, ESRI_DOUBLE, 1, LE),
    COUNTED(ESRISHPRECMPOINTZStr, zarray, ESRI_DOUBLE, numpoints),
    FIXED(ESRISHPRECMPOINTZStr, mmin, ESRI_DOUBLE, 1, LE),
    FIXED(ESRISHPRECMPOINTZStr, mmax, ESRI_DOUBLE, 1, LE),
    COUNTED(ESRISHPRECMPOINTZStr, marray, ESRI_DOUBLE, numpoints),
};

#define POLY_ROWS(S)                                                                                    \
    FIXED(S, shape_type, ESRI_INT, 1, LE), FIXED(S, bbox, ESRI_BOX, 1, LE),                             \
        FIXED(S, numparts, ESRI_INT, 1, LE), FIXED(S, numpoints, ESRI_INT, 1, LE),                      \
        COUNTED(S, parts, ESRI_INT, numparts), COUNTED(S, points, ESRI_POINT, numpoints)
#define M_ROWS(S)                                                                                       \
    FIXED(S, mmin, ESRI_DOUBLE, 1, LE), FIXED(S, mmax, ESRI_DOUBLE, 1, LE),                             \
        COUNTED(S, marray, ESRI_DOUBLE, numpoints)
#define Z_ROWS(S)                                                                                       \
    FIXED(S, zmin, ESRI_DOUBLE, 1, LE), FIXED(S, zmax, ESRI_DOUBLE, 1, LE),                             \
        COUNTED(S, zarray, ESRI_DOUBLE, numpoints)

constexpr ESRIStrdef SHPRECPOLYL_Strdef[] = {POLY_ROWS(ESRISHPRECPOLYGStr)};
constexpr ESRIStrdef SHPRECPOLYG_Strdef[] = {POLY_ROWS(ESRISHPRECPOLYGStr)};
constexpr ESRIStrdef SHPRECPOLYLM_Strdef[] = {POLY_ROWS(ESRISHPRECPOLYGMStr), M_ROWS(ESRISHPRECPOLYGMStr)};
constexpr ESRIStrdef SHPRECPOLYGM_Strdef[] = {POLY_ROWS(ESRISHPRECPOLYGMStr), M_ROWS(ESRISHPRECPOLYGMStr)};
constexpr ESRIStrdef SHPRECPOLYLZ_Strdef[] = {POLY_ROWS(ESRISHPRECPOLYGZStr), Z_ROWS(ESRISHPRECPOLYGZStr),
                                              M_ROWS(ESRISHPRECPOLYGZStr)};
constexpr ESRIStrdef SHPRECPOLYGZ_Strdef[] = {POLY_ROWS(ESRISHPRECPOLYGZStr), Z_ROWS(ESRISHPRECPOLYGZStr),
                                              M_ROWS(ESRISHPRECPOLYGZStr)};

constexpr ESRIStrdef SHPRECMULTIPA_Strdef[] = {
    FIXED(ESRISHPRECMULTIPAStr, shape_type, ESRI_INT, 1, LE),
    FIXED(ESRISHPRECMULTIPAStr, bbox, ESRI_BOX, 1, LE),
    FIXED(ESRISHPRECMULTIPAStr, numparts, ESRI_INT, 1, LE),
    FIXED(ESRISHPRECMULTIPAStr, numpoints, ESRI_INT, 1, LE),
    COUNTED(ESRISHPRECMULTIPAStr, parts, ESRI_INT, numparts),
    COUNTED(ESRISHPRECMULTIPAStr, parttypes, ESRI_INT, numparts),
    COUNTED(ESRISHPRECMULTIPAStr, points, ESRI_POINT, numpoints),
    Z_ROWS(ESRISHPRECMULTIPAStr),
    M_ROWS(ESRISHPRECMULTIPAStr),
};

#define DBASEHDR_ROWS                                                                                   \
    FIXED(ESRIDBASEHDRStr, flags, ESRI_UCHAR, 1, LE), FIXED(ESRIDBASEHDRStr, date_update, ESRI_UCHAR, 3, LE), \
        FIXED(ESRIDBASEHDRStr, numrecs, ESRI_INT, 1, LE), FIXED(ESRIDBASEHDRStr, numbyteshdr, ESRI_SHORT, 1, LE), \
        FIXED(ESRIDBASEHDRStr, numbytesrec, ESRI_SHORT, 1, LE), FIXED(ESRIDBASEHDRStr, unused1, ESRI_SHORT, 1, LE), \
        FIXED(ESRIDBASEHDRStr, incomplete, ESRI_UCHAR, 1, LE), FIXED(ESRIDBASEHDRStr, encrypted, ESRI_UCHAR, 1, LE), \
        FIXED(ESRIDBASEHDRStr, unused2, ESRI_INT, 1, LE), FIXED(ESRIDBASEHDRStr, unused3, ESRI_INT, 1, LE),     \
        FIXED(ESRIDBASEHDRStr, unused4, ESRI_INT, 1, LE), FIXED(ESRIDBASEHDRStr, mdx, ESRI_UCHAR, 1, LE),       \
        FIXED(ESRIDBASEHDRStr, langid, ESRI_UCHAR, 1, LE), FIXED(ESRIDBASEHDRStr, unused5, ESRI_SHORT, 1, LE)

constexpr ESRIStrdef DBASEHDR5_Strdef[] = {DBASEHDR_ROWS};
constexpr ESRIStrdef DBASEHDR7_Strdef[] = {
    DBASEHDR_ROWS,
    FIXED(ESRIDBASEHDRStr, langdr, ESRI_CHAR, 32, LE),
    FIXED(ESRIDBASEHDRStr, unused6, ESRI_INT, 1, LE),
};

// File order, not member order.
constexpr ESRIStrdef DBASEFIELDDESCR5_Strdef[] = {
    FIXED(ESRIDBASEFIELDDESCRStr, name, ESRI_CHAR, 11, LE),
    FIXED(ESRIDBASEFIELDDESCRStr, type, ESRI_CHAR, 1, LE),
    FIXED(ESRIDBASEFIELDDESCRStr, unused4, ESRI_INT, 1, LE),
    FIXED(ESRIDBASEFIELDDESCRStr, length, ESRI_UCHAR, 1, LE),
    FIXED(ESRIDBASEFIELDDESCRStr, count, ESRI_UCHAR, 1, LE),
    FIXED(ESRIDBASEFIELDDESCRStr, workid, ESRI_SHORT, 1, LE),
    FIXED(ESRIDBASEFIELDDESCRStr, example, ESRI_UCHAR, 1, LE),
    FIXED(ESRIDBASEFIELDDESCRStr, unused5, ESRI_UCHAR, 10, LE),
    FIXED(ESRIDBASEFIELDDESCRStr, mdx, ESRI_UCHAR, 1, LE),
};

// A level-7 name is 32 bytes and spills over the members after name; level-7
// files are refused before any descriptor is read, so only the listing of a
// hand-made structure ever meets this table.
constexpr ESRIStrdef DBASEFIELDDESCR7_Strdef[] = {
    FIXED(ESRIDBASEFIELDDESCRStr, name, ESRI_CHAR, 32, LE),
    FIXED(ESRIDBASEFIELDDESCRStr, type, ESRI_CHAR, 1, LE),
    FIXED(ESRIDBASEFIELDDESCRStr, length, ESRI_UCHAR, 1, LE),
    FIXED(ESRIDBASEFIELDDESCRStr, count, ESRI_UCHAR, 1, LE),
    FIXED(ESRIDBASEFIELDDESCRStr, unused1, ESRI_SHORT, 1, LE),
    FIXED(ESRIDBASEFIELDDESCRStr, mdx, ESRI_UCHAR, 1, LE),
    FIXED(ESRIDBASEFIELDDESCRStr, unused2, ESRI_SHORT, 1, LE),
    FIXED(ESRIDBASEFIELDDESCRStr, next, ESRI_INT, 1, LE),
    FIXED(ESRIDBASEFIELDDESCRStr, unused3, ESRI_INT, 1, LE),
};

#undef FIXED
#undef COUNTED
#undef POLY_ROWS
#undef M_ROWS
#undef Z_ROWS
#undef DBASEHDR_ROWS

// Bytes of one item of a type code, in the stream and in memory alike.
constexpr size_t item_bytes(int type) {
    switch (type) {
    case ESRI_INT: return 4;
    case ESRI_DOUBLE: return 8;
    case ESRI_POINT: return sizeof(ESRISHPPOINTStr);
    case ESRI_BOX: return sizeof(ESRISHPBOXStr);
    case ESRI_CHAR:
    case ESRI_UCHAR: return 1;
    case ESRI_SHORT: return 2;
    default: return 0;
    }
}

// Empty when the table is consistent, else what is wrong with it: every row
// lies inside the destination, and every count member is an earlier int row.
constexpr const char *table_defect(const ESRIStrdef *rows, size_t n, size_t str_size) {
    for (size_t i = 0; i < n; ++i) {
        const ESRIStrdef &r = rows[i];
        if (!r.name[0]) return "a row has no name";
        if (r.offset < 0 || r.number < 0) return "a row has a negative offset or count";
        if (r.number > 0) {
            if (static_cast<size_t>(r.offset) + static_cast<size_t>(r.number) * item_bytes(r.type) > str_size)
                return "a row runs past the destination";
            continue;
        }
        if (r.type < ESRI_INT || r.type > ESRI_BOX) continue;  // ignored by the engine
        if (static_cast<size_t>(r.offset) + sizeof(void *) > str_size) return "an array member lies outside";
        bool counted = false;
        for (size_t j = 0; j < i; ++j)
            if (rows[j].offset == r.offset_number && rows[j].type == ESRI_INT && rows[j].number == 1) counted = true;
        if (!counted) return "a count member is not an earlier int row";
    }
    return "";
}

template <size_t N>
constexpr bool consistent(const ESRIStrdef (&rows)[N], size_t str_size) {
    return table_defect(rows, N, str_size)[0] == '\0';
}

static_assert(consistent(SHPPOINT_Strdef, sizeof(ESRISHPPOINTStr)));
static_assert(consistent(SHPBOX_Strdef, sizeof(ESRISHPBOXStr)));
static_assert(consistent(SHPFILEHDR_Strdef, sizeof(ESRISHPFILEHDRStr)));
static_assert(consistent(SHPRECHDR_Strdef, sizeof(ESRISHPRECHDRStr)));
static_assert(consistent(SHPRECNULL_Strdef, sizeof(ESRISHPRECNULLStr)));
static_assert(consistent(SHPRECPOINT_Strdef, sizeof(ESRISHPRECPOINTStr)));
static_assert(consistent(SHPRECPOINTM_Strdef, sizeof(ESRISHPRECPOINTMStr)));
static_assert(consistent(SHPRECPOINTZ_Strdef, sizeof(ESRISHPRECPOINTZStr)));
static_assert(consistent(SHPRECMPOINT_Strdef, sizeof(ESRISHPRECMPOINTStr)));
static_assert(consistent(SHPRECMPOINTM_Strdef, sizeof(ESRISHPRECMPOINTMStr)));
static_assert(consistent(SHPRECMPOINTZ_Strdef, sizeof(ESRISHPRECMPOINTZStr)));
static_assert(consistent(SHPRECPOLYL_Strdef, sizeof(ESRISHPRECPOLYGStr)));
static_assert(consistent(SHPRECPOLYG_Strdef, sizeof(ESRISHPRECPOLYGStr)));
static_assert(consistent(SHPRECPOLYLM_Strdef, sizeof(ESRISHPRECPOLYGMStr)));
static_assert(consistent(SHPRECPOLYGM_Strdef, sizeof(ESRISHPRECPOLYGMStr)));
static_assert(consistent(SHPRECPOLYLZ_Strdef, sizeof(ESRISHPRECPOLYGZStr)));
static_assert(consistent(SHPRECPOLYGZ_Strdef, sizeof(ESRISHPRECPOLYGZStr)));
static_assert(consistent(SHPRECMULTIPA_Strdef, sizeof(ESRISHPRECMULTIPAStr)));
static_assert(consistent(DBASEHDR5_Strdef, sizeof(ESRIDBASEHDRStr)));
static_assert(consistent(DBASEHDR7_Strdef, sizeof(ESRIDBASEHDRStr)));
static_assert(consistent(DBASEFIELDDESCR5_Strdef, sizeof(ESRIDBASEFIELDDESCRStr)));
static_assert(consistent(DBASEFIELDDESCR7_Strdef, sizeof(ESRIDBASEFIELDDESCRStr)));

struct Codedef {
    int code;
    const char *str;
};

// Searched in order; the first match wins, so code 0 reads "Null".
constexpr Codedef SHAPETYPE_Codedef[] = {
    {shape_null, "Null"},
    {str_shapefile, "File"},
    {str_record, "Record"},
    {str_point, "Point"},
    {str_box, "Box"},
    {str_file_header, "FileHdr"},
    {str_record_header, "RecordHdr"},
    {shape_null, "RecordNULL"},
    {shape_point, "RecordPoint"},
    {shape_multipoint, "RecordMultiPoint"},
    {shape_polyline, "RecordPolyLine"},
    {shape_polygon, "RecordPolygon"},
    {shape_point_m, "RecordPointM"},
    {shape_multipoint_m, "RecordMultiPointM"},
    {shape_polyline_m, "RecordPolyLineM"},
    {shape_polygon_m, "RecordPolygonM"},
    {shape_point_z, "RecordPointZ"},
    {shape_multipoint_z, "RecordMultiPointZ"},
    {shape_polyline_z, "RecordPolyLineZ"},
    {shape_polygon_z, "RecordPolygonZ"},
    {shape_multipatch, "RecordMultiPatch"},
    {str_dbase_file, "DbaseFile"},
    {str_dbase_header5, "DbaseFileHDR5"},
    {str_dbase_header7, "DbaseFileHDR7"},
    {str_field_descriptor5, "DbaseFieldDescriptor5"},
    {str_field_descriptor7, "DbaseFieldDescriptor7"},
    {str_field_properties, "DbaseFieldProperties"},
};

}  // namespace

// The decoders and printers that the sets without a table name in its place.
// The engine calls neither decoder through its set: a record is decoded by
// the record decoder's own code on the reader the engine holds, so that a
// sized decode stays bounded, and the field-properties block consumes
// nothing. The printer calls the print functions through their sets.
static int esri_decode_shapefile_record(void *estruc, unsigned char *stream0, unsigned char **stream);
static int esri_decode_dbase_field_properties(void *estruc, unsigned char *stream0, unsigned char **stream);
static void esri_print_shapefile_callback(char *prefix, void *estruc, int recno);
static void esri_print_dbase_file_callback(char *prefix, void *dstruc, int recno);
static void esri_print_dbase_field_properties(char *prefix, void *estruc, int recno);

namespace {

#define SET(code, S, table) ESRIStrdefs{code, static_cast<int>(sizeof(S)), table, static_cast<int>(std::size(table)), nullptr, nullptr}

const ESRIStrdefs esri_strdefs[] = {
    {str_shapefile, static_cast<int>(sizeof(ESRISHPStr)), nullptr, 0, nullptr, esri_print_shapefile_callback},
    {str_record, static_cast<int>(sizeof(ESRISHPRECStr)), nullptr, 0, esri_decode_shapefile_record, nullptr},
    SET(str_point, ESRISHPPOINTStr, SHPPOINT_Strdef),
    SET(str_box, ESRISHPBOXStr, SHPBOX_Strdef),
    SET(str_file_header, ESRISHPFILEHDRStr, SHPFILEHDR_Strdef),
    SET(str_record_header, ESRISHPRECHDRStr, SHPRECHDR_Strdef),
    SET(shape_null, ESRISHPRECNULLStr, SHPRECNULL_Strdef),
    SET(shape_point, ESRISHPRECPOINTStr, SHPRECPOINT_Strdef),
    SET(shape_multipoint, ESRISHPRECMPOINTStr, SHPRECMPOINT_Strdef),
    SET(shape_polyline, ESRISHPRECPOLYGStr, SHPRECPOLYL_Strdef),
    SET(shape_polygon, ESRISHPRECPOLYGStr, SHPRECPOLYG_Strdef),
    SET(shape_point_m, ESRISHPRECPOINTMStr, SHPRECPOINTM_Strdef),
    SET(shape_multipoint_m, ESRISHPRECMPOINTMStr, SHPRECMPOINTM_Strdef),
    SET(shape_polyline_m, ESRISHPRECPOLYGMStr, SHPRECPOLYLM_Strdef),
    SET(shape_polygon_m, ESRISHPRECPOLYGMStr, SHPRECPOLYGM_Strdef),
    SET(shape_point_z, ESRISHPRECPOINTZStr, SHPRECPOINTZ_Strdef),
    SET(shape_multipoint_z, ESRISHPRECMPOINTZStr, SHPRECMPOINTZ_Strdef),
    SET(shape_polyline_z, ESRISHPRECPOLYGZStr, SHPRECPOLYLZ_Strdef),
    SET(shape_polygon_z, ESRISHPRECPOLYGZStr, SHPRECPOLYGZ_Strdef),
    SET(shape_multipatch, ESRISHPRECMULTIPAStr, SHPRECMULTIPA_Strdef),
    {str_dbase_file, static_cast<int>(sizeof(ESRIDBASEStr)), nullptr, 0, nullptr, esri_print_dbase_file_callback},
    SET(str_dbase_header5, ESRIDBASEHDRStr, DBASEHDR5_Strdef),
    SET(str_dbase_header7, ESRIDBASEHDRStr, DBASEHDR7_Strdef),
    SET(str_field_descriptor5, ESRIDBASEFIELDDESCRStr, DBASEFIELDDESCR5_Strdef),
    SET(str_field_descriptor7, ESRIDBASEFIELDDESCRStr, DBASEFIELDDESCR7_Strdef),
    {str_field_properties, static_cast<int>(sizeof(ESRIDBASEFIELDPROPSStr)), nullptr, 0, esri_decode_dbase_field_properties,
     esri_print_dbase_field_properties},
};
#undef SET

// clang-format on

}  // namespace

#endif
