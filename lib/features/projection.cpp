// Map projections for drawing, through PROJ.
#include "vorpix/projection.hpp"

#include "vorpix/clip.hpp"

#include "proj_library.hpp"

#include <proj.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace vorpix::features {

namespace {

constexpr double degree = 3.14159265358979323846 / 180;
// Mercator's north and south edges, where the map is as tall as it is wide.
constexpr double mercator_limit = 85.0511287798066;

const char *const known =
    "lonlat, south-polar[/LAT], north-polar[/LAT], laea/LON/LAT, mollweide[/LON], robinson[/LON], "
    "equal-earth[/LON], mercator[/LON] or utm/ZONE[s]";

std::vector<std::string> split(const std::string &text) {
    std::vector<std::string> out(1);
    for (const char c : text) {
        if (c == '/') out.emplace_back();
        else out.back() += c;
    }
    return out;
}

double number(const std::string &word, const std::string &text) {
    char *end = nullptr;
    const double v = std::strtod(word.c_str(), &end);
    if (word.empty() || *end != '\0' || !std::isfinite(v))
        throw Error("--proj " + text + ": \"" + word + "\" is not a number of degrees");
    return v;
}

}  // namespace

struct MapProjection::Transform {
    PJ_CONTEXT *context = nullptr;
    PJ *pj = nullptr;
    const ProjLibrary &proj;
    explicit Transform(const std::string &definition) : proj(proj_library()) {
        context = proj.context_create();
        proj.log_level(context, PJ_LOG_NONE);
        pj = proj.create(context, definition.c_str());
        if (!pj) {
            proj.context_destroy(context);
            throw Error("PROJ cannot make the projection \"" + definition + "\"", ErrorCode::Unsupported);
        }
    }
    ~Transform() {
        proj.destroy(pj);
        proj.context_destroy(context);
    }
    Transform(const Transform &) = delete;
    Transform &operator=(const Transform &) = delete;
};

MapProjection::MapProjection() = default;
MapProjection::~MapProjection() = default;

MapProjection::MapProjection(const MapProjection &other)
    : kind_(other.kind_),
      name_(other.name_),
      lon0_(other.lon0_),
      lat0_(other.lat0_),
      limit_(other.limit_),
      centred_(other.centred_),
      definition_(other.definition_) {
    if (!definition_.empty()) transform_ = std::make_unique<Transform>(definition_);
}

MapProjection &MapProjection::operator=(const MapProjection &other) {
    if (this != &other) {
        MapProjection copy(other);
        kind_ = copy.kind_;
        name_ = std::move(copy.name_);
        lon0_ = copy.lon0_, lat0_ = copy.lat0_, limit_ = copy.limit_;
        centred_ = copy.centred_;
        definition_ = std::move(copy.definition_);
        transform_ = std::move(copy.transform_);
    }
    return *this;
}

MapProjection::MapProjection(const std::string &text) : name_(text) {
    const std::vector<std::string> words = split(text);
    const std::string &name = words[0];
    const size_t params = words.size() - 1;
    auto want = [&](size_t low, size_t high) {
        if (params < low || params > high)
            throw Error("--proj " + text + ": " + name + " takes " +
                        (high == 0     ? std::string("no parameters")
                         : low == high ? std::to_string(low) + " parameters"
                                       : "at most " + std::to_string(high) + " parameter") +
                        " after slashes");
    };
    auto longitude = [&](size_t i) {
        const double v = number(words[i], text);
        if (std::fabs(v) > 360) throw Error("--proj " + text + ": the centre's longitude lies within 360 degrees");
        return v;
    };
    if (name == "lonlat" || name == "plate-carree") {
        want(0, 0);
        return;
    }
    if (name == "south-polar" || name == "north-polar") {
        want(0, 1);
        const bool south = name[0] == 's';
        kind_ = south ? Kind::SouthPolar : Kind::NorthPolar;
        const double reach = params ? std::fabs(number(words[1], text)) : 50;
        if (!(reach < 89.5)) throw Error("--proj " + text + ": a polar map reaches out to a latitude below 89.5");
        limit_ = south ? -reach : reach;
        // The true scale of the polar maps people exchange most (70 and 71 degrees).
        definition_ = south ? "+proj=stere +lat_0=-90 +lat_ts=-71 +ellps=WGS84"
                            : "+proj=stere +lat_0=90 +lat_ts=70 +ellps=WGS84";
    } else if (name == "laea") {
        want(2, 2);
        kind_ = Kind::Azimuthal;
        lon0_ = longitude(1);
        lat0_ = number(words[2], text);
        if (std::fabs(lat0_) > 90) throw Error("--proj " + text + ": the centre's latitude lies within 90 degrees");
        definition_ = "+proj=laea +lat_0=" + words[2] + " +ellps=WGS84";
    } else if (name == "mollweide" || name == "robinson" || name == "equal-earth" || name == "mercator") {
        want(0, 1);
        kind_ = name == "mercator" ? Kind::Mercator : Kind::World;
        lon0_ = params ? longitude(1) : 0;
        centred_ = params > 0;
        definition_ = name == "mollweide"  ? "+proj=moll +R=6371008.8"
                      : name == "robinson" ? "+proj=robin +R=6371008.8"
                      : name == "mercator" ? "+proj=merc +ellps=WGS84"
                                           : "+proj=eqearth +ellps=WGS84";
    } else if (name == "utm") {
        want(1, 1);
        kind_ = Kind::Utm;
        std::string zone = words[1];
        bool south = false;
        if (!zone.empty() && (zone.back() == 's' || zone.back() == 'S' || zone.back() == 'n' || zone.back() == 'N')) {
            south = zone.back() == 's' || zone.back() == 'S';
            zone.pop_back();
        }
        const double z = number(zone, text);
        if (z != std::floor(z) || z < 1 || z > 60)
            throw Error("--proj " + text + ": a UTM zone is a number from 1 to 60, then n or s");
        lon0_ = -183 + 6 * z;
        lat0_ = south ? -1 : 1;
        definition_ = std::string("+proj=tmerc +k=0.9996 +x_0=500000 +ellps=WGS84") + (south ? " +y_0=10000000" : "");
    } else {
        throw Error("--proj " + text + ": no such projection; known are " + known);
    }
    transform_ = std::make_unique<Transform>(definition_);
}

Box MapProjection::default_box() const {
    switch (kind_) {
    case Kind::Plain: return {-180, 180, -90, 90};
    case Kind::SouthPolar: return {-180, 180, -90, limit_};
    case Kind::NorthPolar: return {-180, 180, limit_, 90};
    case Kind::Azimuthal:
        if (lat0_ <= -60) return {-180, 180, -90, std::min(lat0_ + 50, 90.0)};
        if (lat0_ >= 60) return {-180, 180, std::max(lat0_ - 50, -90.0), 90};
        return {lon0_ - 45, lon0_ + 45, std::max(lat0_ - 35, -90.0), std::min(lat0_ + 35, 90.0)};
    case Kind::World: return {lon0_ - 180, lon0_ + 180, -90, 90};
    case Kind::Mercator: return {lon0_ - 180, lon0_ + 180, -mercator_limit, mercator_limit};
    case Kind::Utm: return lat0_ < 0 ? Box{lon0_ - 6, lon0_ + 6, -80, 0} : Box{lon0_ - 6, lon0_ + 6, 0, 84};
    }
    return {-180, 180, -90, 90};
}

Box MapProjection::checked_box(const Box &box) {
    const geo::Frame f = geo::frame_of(box);
    const Box out{f.west, f.east, f.south, f.north};
    if ((kind_ == Kind::World || kind_ == Kind::Mercator) && !centred_) lon0_ = (f.west + f.east) / 2;
    switch (kind_) {
    case Kind::Plain: return box;
    case Kind::SouthPolar:
        if (out.north > 60) throw Error("a south-polar map reaches north to 60 degrees at most");
        return out;
    case Kind::NorthPolar:
        if (out.south < -60) throw Error("a north-polar map reaches south to 60 degrees at most");
        return out;
    case Kind::Azimuthal: {
        // The point opposite the centre is spread over the map's whole edge.
        const double far_lat = -lat0_;
        const double far_lon = lon0_ + 180;
        const bool far_inside = far_lat >= out.south && far_lat <= out.north &&
                                (std::fabs(far_lat) == 90 || geo::extent_meets(far_lon, far_lon, far_lat, far_lat, f));
        if (far_inside) throw Error("the box holds the point opposite the map's centre, which laea cannot draw");
        return out;
    }
    case Kind::Mercator:
        if (out.south < -mercator_limit - 1e-9 || out.north > mercator_limit + 1e-9)
            throw Error("a Mercator map reaches 85 degrees north and south at most");
        [[fallthrough]];
    case Kind::World:
    case Kind::Utm: {
        // The map is cut at the meridian opposite its centre: the box must
        // lie within half a turn of the centre, as it comes or a turn away.
        for (const double turn : {0.0, -360.0, 360.0})
            if (out.west + turn >= lon0_ - 180 - 1e-9 && out.east + turn <= lon0_ + 180 + 1e-9)
                return {out.west + turn, out.east + turn, out.south, out.north};
        throw Error(
            "the box runs across the meridian opposite the map's centre; centre the projection in it "
            "(for example " +
            split(name_)[0] + "/" + std::to_string(static_cast<long>(std::lround((f.west + f.east) / 2))) + ")");
    }
    }
    return out;
}

void MapProjection::forward(double *lon, double *lat, std::size_t n) const {
    if (kind_ == Kind::Plain || n == 0) return;
    for (std::size_t i = 0; i < n; ++i) {
        lon[i] = (lon[i] - lon0_) * degree;
        lat[i] = lat[i] * degree;
    }
    transform_->proj.trans_generic(transform_->pj, PJ_FWD, lon, sizeof(double), n, lat, sizeof(double), n, nullptr, 0,
                                   0, nullptr, 0, 0);
}

}  // namespace vorpix::features
