// The features of a map source, one at a time: what the readers of the
// vorpix library decode, with what users need beyond it (typed attributes in
// UTF-8, coordinates in longitude and latitude, exact clipping and the cut at
// the antimeridian) applied as the features stream. Memory stays bounded by
// the largest single feature, whatever the size of the files.
#ifndef VORPIX_FEATURES_HPP
#define VORPIX_FEATURES_HPP

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct ESRISHPRECStr;

namespace vorpix::features {

// What went wrong, as data: a caller never parses the message.
enum class ErrorCode {
    Invalid,      // the data do not add up, or a value cannot be used
    Io,           // a file cannot be opened or read
    Unsupported,  // a valid file of a kind or version not read
    Memory,       // not enough memory
};

class Error : public std::runtime_error {
public:
    // The whole message, for errors that name their own place.
    explicit Error(const std::string &message, ErrorCode code = ErrorCode::Invalid)
        : std::runtime_error(message), code_(code), reason_(message) {}
    // "FILE: PLACE: REASON", the place left out when empty.
    Error(ErrorCode code, std::string file, std::string place, std::string reason)
        : std::runtime_error(file + ": " + (place.empty() ? "" : place + ": ") + reason),
          code_(code),
          file_(std::move(file)),
          place_(std::move(place)),
          reason_(std::move(reason)) {}
    ErrorCode code() const { return code_; }
    const std::string &file() const { return file_; }
    const std::string &place() const { return place_; }  // "record 12", "header", or ""
    const std::string &reason() const { return reason_; }

private:
    ErrorCode code_;
    std::string file_, place_, reason_;
};

// Warnings (a record left out, text that does not convert) go to this
// callback, one line each without a newline; none are printed otherwise.
using Warn = std::function<void(const std::string &)>;

enum class GeometryType : std::uint8_t { None, Point, MultiPoint, LineString, MultiLineString, Polygon, MultiPolygon };
const char *geometry_name(GeometryType type);  // "Point"..., "" for None

// A geometry as flat arrays. Points i of x, y (and z, m when the source has
// them, else empty) are grouped in runs: run r holds the points
// runs[r] to runs[r+1]-1 (a line, or a ring written closed, its first point
// repeated last). Polygon p holds runs parts[p] to parts[p+1]-1, its
// exterior counter-clockwise first and then its holes clockwise. Lines and
// points leave parts empty; a Point or MultiPoint is one run.
struct Geometry {
    GeometryType type = GeometryType::None;
    std::vector<double> x, y, z, m;
    std::vector<std::uint32_t> runs;   // size: number of runs + 1 (empty when none)
    std::vector<std::uint32_t> parts;  // polygons only: number of polygons + 1
    bool has_z() const { return !z.empty(); }
    bool has_m() const { return !m.empty(); }
    std::size_t run_count() const { return runs.empty() ? 0 : runs.size() - 1; }
    std::size_t polygon_count() const { return parts.empty() ? 0 : parts.size() - 1; }
    void clear();
};

enum class ValueType : std::uint8_t { Null, Integer, Real, Boolean, String, Date };

struct Value {
    ValueType type = ValueType::Null;
    std::int64_t integer = 0;  // Integer; Boolean 0 or 1; Date as YYYYMMDD
    double real = 0;           // Real
    std::string text;          // String, in UTF-8
};

struct Field {
    std::string name;  // in UTF-8
    char dbase_type;   // the table's type letter: C, N, F, L, D, ...
    int width, decimals;
};

struct Feature {
    long id = -1;          // the record's number from 0
    bool deleted = false;  // marked deleted in the table
    Geometry geometry;
    std::vector<Value> values;  // one per field of the reader, in its order
};

// A box in degrees: west to east, where east below west runs across 180.
struct Box {
    double west, east, south, north;
};

// A rectangle in the coordinates a reader gives, as they are: no turns of
// longitude, so that it serves projected systems too.
struct Rectangle {
    double xmin, ymin, xmax, ymax;
};

// What the main file's header says of all its shapes.
struct ShapefileHeader {
    int shape_type = -1;  // the file's shape type (0 null, 1 point, 3 arc, 5 polygon, ...); -1 for a table alone
    double xmin = 0, ymin = 0, xmax = 0, ymax = 0, zmin = 0, zmax = 0, mmin = 0, mmax = 0;
};

struct ShapefileOptions {
    std::string dbf;                     // the table; "" for the .dbf beside the shapefile
    bool attributes = true;              // false: no table, no values
    std::string encoding;                // the table's text encoding, over what .cpg and the table say
    std::string fallback;                // the encoding when neither the table nor .cpg names one ("" ISO-8859-1)
    bool deleted = false;                // give records marked deleted too
    bool transform = true;               // to longitude and latitude on WGS 84 where the .prj says how
    bool rfc7946 = true;                 // longitudes within +-180, lines and areas cut at the antimeridian
    std::optional<Box> box;              // only the features that meet the box (longitude and latitude)
    std::vector<std::string> columns;    // only these fields, in this order (all when empty)
    std::optional<Rectangle> rectangle;  // only the features that meet it, in the coordinates given
    Warn warn;                           // where warnings go
    std::function<void(const std::string &)> opened;  // told of each file opened
};

// The features of a shapefile set (.shp with its .shx, .dbf, .prj and .cpg),
// or of a .dbf alone (every feature with no geometry). Records are found
// through the .shx offsets when it lists them, else one after another by
// their content lengths.
class ShapefileReader {
public:
    explicit ShapefileReader(const std::string &path, ShapefileOptions options = {});
    ~ShapefileReader();
    ShapefileReader(const ShapefileReader &) = delete;
    ShapefileReader &operator=(const ShapefileReader &) = delete;

    const std::vector<Field> &fields() const;
    long record_count() const;            // records in the file (from the .shx or the table), -1 when not known
    bool lonlat() const;                  // coordinates given are longitudes and latitudes
    bool has_prj() const;                 // a .prj said what the coordinates are
    const std::string &encoding() const;  // the table's text encoding; "" without a table
    const std::string &path() const;
    // The next feature that the options let through; false at the end.
    bool next(Feature &feature);
    // The feature of one record by its number, whatever the options' box
    // and deleted settings; false when there is no such record.
    bool read(long recno, Feature &feature);
    // The same for a record decoded elsewhere (a database fetch), with the
    // attributes of the table's record recno.
    void feature_of(const ESRISHPRECStr &record, long recno, Feature &feature);
    // Whether a record starts at offset in the main file: one of the offsets
    // that the .shx lists, or without one, a record header there that frames
    // a record of a shape type within the file.
    bool starts_record(std::uint64_t offset);
    // Of the record read last: its place in the main file and its shape type.
    std::uint64_t record_offset() const;
    int record_shape_type() const;
    // next() goes on from record recno: through the .shx at once, without
    // one by walking the record headers (only from where it stands when
    // recno lies ahead). Beyond the last record, next() ends.
    void seek(long recno);
    // The main file's header, as read when the reader opened it.
    const ShapefileHeader &header() const;
    // The text of the .prj beside the shapefile (its coordinate system, as
    // WKT), whatever the transform option says; "" without one. An Error
    // when it cannot be read.
    std::string coordinate_system() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// What the attributes of one feature write as a JSON object's members,
// "name":value, comma-separated without braces.
void json_members(const std::vector<Field> &fields, const std::vector<Value> &values, std::string &out);
// A value as JSON text.
void json_value(const Value &value, std::string &out);
// A string as JSON text, quoted, with control characters escaped.
void json_string(const std::string &text, std::string &out);
// The shortest text that reads back as the double.
void json_number(double value, std::string &out);

}  // namespace vorpix::features

#endif
