// Coordinates of a shapefile's coordinate system (its .prj file) turned into
// longitude and latitude on WGS 84, as GDAL's ogr2ogr -t_srs EPSG:4326 does.
#ifndef VORPIX_PROJECTION_HPP
#define VORPIX_PROJECTION_HPP

#include <memory>
#include <string>

namespace vorpix::cli {

class ToLonLat {
public:
    // From the system that the WKT text names. Throws InputError (naming
    // file) when PROJ cannot read it.
    ToLonLat(const std::string &wkt, const std::string &file);
    ~ToLonLat();
    ToLonLat(const ToLonLat &) = delete;
    ToLonLat &operator=(const ToLonLat &) = delete;
    // False for a geographic system, whose coordinates pass unchanged.
    bool transforms() const { return transform_ != nullptr; }
    // n points in place, x and y each a stride of doubles apart.
    void apply(double *x, double *y, size_t stride, size_t n) const;

private:
    void *context_ = nullptr;
    void *transform_ = nullptr;
};

// What the .prj file beside a shapefile says of its coordinates: whether
// they are (or are made) longitude and latitude, and the transformation
// that makes them so when they are projected. Without a .prj, or with one
// that PROJ cannot read (then with a warning on standard error), nothing is
// known and the coordinates are written as stored.
struct Coordinates {
    std::unique_ptr<ToLonLat> transform;
    bool lonlat = false;
};
Coordinates coordinates_of(const std::string &shp);

}  // namespace vorpix::cli

#endif
