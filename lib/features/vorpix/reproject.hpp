// Coordinates of a shapefile's coordinate system (its .prj file) turned into
// longitude and latitude on WGS 84, as GDAL's ogr2ogr -t_srs EPSG:4326 does.
#ifndef VORPIX_FEATURES_REPROJECT_HPP
#define VORPIX_FEATURES_REPROJECT_HPP

#include "vorpix/features.hpp"

#include <cstddef>
#include <memory>
#include <string>

namespace vorpix::features {

// The least and greatest coordinates of a file, as its header gives them.
struct Extent {
    double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
    bool operator==(const Extent &) const = default;
};

class ToLonLat {
public:
    // From the system that the WKT text names, for coordinates within
    // extent when one is given. An Error naming file when PROJ cannot read
    // it.
    ToLonLat(const std::string &wkt, const std::string &file, const Extent *extent = nullptr);
    ~ToLonLat();
    ToLonLat(const ToLonLat &) = delete;
    ToLonLat &operator=(const ToLonLat &) = delete;
    // False for a geographic system on WGS 84, whose coordinates pass unchanged.
    bool transforms() const { return transform_ != nullptr; }
    // Whether the system is geographic: its numbers are degrees.
    bool geographic() const { return geographic_; }
    // Whether the operation is chosen point by point, as for any extent,
    // rather than once for the extent given.
    bool per_point() const { return per_point_; }
    // n points in place, x and y each a stride of doubles apart.
    void apply(double *x, double *y, std::size_t stride, std::size_t n) const;

private:
    void *context_ = nullptr;
    void *transform_ = nullptr;
    bool geographic_ = false;
    bool per_point_ = true;
};

// What the .prj file beside a shapefile says of its coordinates: whether
// they are (or are made) longitude and latitude, and the transformation
// that makes them so. Without a .prj, or with one that PROJ cannot read
// (then with a warning), nothing is known and the coordinates stay as stored.
// extent, the file's own, lets PROJ choose among fewer operations.
// A thread keeps the last few transformations it made, by their .prj text:
// a program that reads many files in one system asks PROJ once.
struct Coordinates {
    std::shared_ptr<const ToLonLat> transform;
    bool lonlat = false;      // longitudes and latitudes, as stored or once transformed
    bool geographic = false;  // the stored numbers are degrees
    std::string prj;          // the .prj read, or ""
};
Coordinates coordinates_of(const std::string &shp, const Warn &warn, const Extent *extent = nullptr);

}  // namespace vorpix::features

#endif
