// Map projections for drawing: longitude and latitude in degrees to plane
// coordinates in metres, with PROJ doing the arithmetic, and the box of the
// globe that each projection shows whole.
#ifndef VORPIX_FEATURES_PROJECTION_HPP
#define VORPIX_FEATURES_PROJECTION_HPP

#include "vorpix/features.hpp"

#include <cstddef>
#include <memory>
#include <string>

namespace vorpix::features {

class MapProjection {
public:
    // The plain longitude-latitude grid (plate carree): no PROJ at all.
    MapProjection();
    // A projection by name, with optional parameters after slashes:
    //   lonlat                      the plain grid
    //   south-polar[/LAT]           polar stereographic round the south
    //   north-polar[/LAT]           pole, out to LAT (default 50 S or N)
    //   laea/LON/LAT                Lambert azimuthal equal-area round LON LAT
    //   mollweide[/LON], robinson[/LON], equal-earth[/LON], mercator[/LON]
    //                               world maps centred on LON (default 0)
    //   utm/ZONE[n|s]               a UTM zone, north unless s follows
    // Anything else is an Error naming what is known.
    explicit MapProjection(const std::string &text);
    ~MapProjection();
    MapProjection(const MapProjection &other);
    MapProjection &operator=(const MapProjection &other);

    bool plain() const { return kind_ == Kind::Plain; }
    const std::string &name() const { return name_; }
    // The box a map in this projection shows when none is given.
    Box default_box() const;
    // The box as this projection can draw it: its longitudes span at most a
    // turn round the projection's centre, and latitudes that the projection
    // cannot reach (the far pole of a polar map, beyond 85 degrees in
    // Mercator) are an Error. A world map whose centre was not named is
    // centred on the box.
    Box checked_box(const Box &box);
    // The meridian at the middle of the map: a box across it is cut at the
    // meridian half a turn away.
    double central_longitude() const { return lon0_; }
    // Projects n points in place: lon[i], lat[i] in degrees become x, y in
    // metres (east and north). The plain grid leaves them as they are.
    void forward(double *lon, double *lat, std::size_t n) const;

private:
    enum class Kind { Plain, SouthPolar, NorthPolar, Azimuthal, World, Mercator, Utm };
    Kind kind_ = Kind::Plain;
    std::string name_ = "lonlat";
    double lon0_ = 0, lat0_ = 0, limit_ = 0;
    bool centred_ = false;    // the centre's longitude named
    std::string definition_;  // PROJ's, centred on longitude 0
    struct Transform;
    std::unique_ptr<Transform> transform_;
};

}  // namespace vorpix::features

#endif
