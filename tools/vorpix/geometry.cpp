#include "geometry.hpp"

#include "cli.hpp"

namespace vorpix::geo {

Frame frame_of(double west, double east, double south, double north) {
    while (east <= west) east += 360;
    if (east > west + 360) east = west + 360;
    return {west, east, south, north};
}

Frame frame_of(const cli::Box &box) { return frame_of(box.west, box.east, box.south, box.north); }

std::vector<Polygon> clip_polygon(const Polygon &, const Frame &) { return {}; }
std::vector<Line> clip_line(const Line &, const Frame &) { return {}; }
std::vector<Polygon> clip_polygon_rfc7946(const Polygon &, const Frame &) { return {}; }
std::vector<Line> clip_line_rfc7946(const Line &, const Frame &) { return {}; }
double signed_area2(const Ring &) { return 0; }
std::vector<ShoreFeature> shoreline_features(const ShoreRequest &, const Frame &) { return {}; }
std::vector<ShoreFeature> shoreline_features(const char *, long, const std::string &, const ShoreRequest &,
                                             const Frame &) {
    return {};
}

}  // namespace vorpix::geo
