// Features written as GeoJSON (RFC 7946) as they come: a FeatureCollection,
// or a GeoJSON text sequence (RFC 8142), passed to a sink in pieces of
// bounded size.
#ifndef VORPIX_FEATURES_GEOJSON_WRITER_HPP
#define VORPIX_FEATURES_GEOJSON_WRITER_HPP

#include "vorpix/features.hpp"

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vorpix::features {

// The smallest longitude range, possibly across the antimeridian (west
// greater than east, as RFC 7946 writes it), and the latitude range that
// hold every run added; each run is one that does not cross 180. Points that
// are not finite are not held.
class LonLatBox {
public:
    void add(const double *lon, const double *lat, std::size_t n);
    void add(const LonLatBox &other);
    bool empty() const { return spans_.empty(); }
    void clear();
    // "[west,south,east,north]" appended.
    void json(std::string &out) const;
    // The same with each edge written by number (json_degrees, say).
    void json(std::string &out, void (*number)(double, std::string &)) const;

private:
    void compact(std::size_t most);
    std::vector<std::pair<double, double>> spans_;
    double south_ = 90, north_ = -90;
};

// A longitude or latitude as text: a value that came from a float as the
// float's shortest text; others to a billionth of a degree (a tenth of a
// millimetre), so that a point moved by a turn reads 0.5, not
// 0.50000000000011369, and a stored micro-degree 12.345678, not
// 12.345678000000001. Numbers beyond a float's range or too large to round
// to a billionth are written as they are, those that are not finite as
// null.
void json_degrees(double value, std::string &out);

class GeoJsonWriter {
public:
    using Sink = std::function<void(const char *, std::size_t)>;
    struct Options {
        bool sequence = false;         // RFC 8142: each feature after RS, ending with LF; no collection
        bool bbox = true;              // a bbox for each feature and the collection
        bool degrees_only = false;     // no bbox for a feature with numbers that cannot be degrees
        bool ids = true;               // "id": the feature's id (write)
        bool rounded_degrees = false;  // coordinates and boxes as json_degrees writes them
    };
    GeoJsonWriter(Sink sink, Options options);
    // The feature with its attributes (the fields its values follow) as
    // properties, its record number as id, "deleted": true when marked so,
    // and M values as "measures", shaped like the coordinates (null for "no
    // data"). extra: more members of the Feature object, without braces.
    void write(const Feature &feature, const std::vector<Field> &fields, const std::string &extra = "");
    // A feature whose geometry and properties the caller writes (members
    // of the objects, without braces), with its box.
    void write_raw(const std::string &properties, const std::string &geometry_type, const std::string &coordinates,
                   const LonLatBox &box, const std::string &extra = "");
    // The end of the collection; everything reaches the sink.
    void finish();
    long count() const { return count_; }

private:
    void open_feature();
    void close_feature();
    void flush_if_full();
    void coordinates(const Geometry &g, bool measures);
    void position(const Geometry &g, std::size_t i, bool measure);
    void number(double value);
    Sink sink_;
    Options options_;
    std::string out_;
    LonLatBox feature_box_, all_;
    long count_ = 0;
    bool started_ = false;
};

}  // namespace vorpix::features

#endif
