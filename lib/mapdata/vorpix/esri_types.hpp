// The ESRI structure type codes. A record's shape type selects the structure
// of its shape, so the format's shape types serve as codes as they stand; the
// shapefile's framing and the dBase structures have codes of their own.
#ifndef VORPIX_ESRI_TYPES_HPP
#define VORPIX_ESRI_TYPES_HPP

namespace vorpix::esri {

enum StructureType : int {
    shape_null = 0,
    shape_point = 1,
    shape_polyline = 3,
    shape_polygon = 5,
    shape_multipoint = 8,
    shape_point_z = 11,
    shape_polyline_z = 13,
    shape_polygon_z = 15,
    shape_multipoint_z = 18,
    shape_point_m = 21,
    shape_polyline_m = 23,
    shape_polygon_m = 25,
    shape_multipoint_m = 28,
    shape_multipatch = 31,
    str_record_header = 58,
    str_file_header = 59,
    str_box = 60,
    str_point = 61,
    str_record = 62,
    str_shapefile = 63,
    str_dbase_file = 101,
    str_dbase_header5 = 102,
    str_dbase_header7 = 103,
    str_field_descriptor5 = 104,
    str_field_descriptor7 = 105,
    str_field_properties = 106,
};

}  // namespace vorpix::esri

#endif
