// Plane geometry in degrees of longitude and latitude: exact clipping of
// polygons and lines to a box in one continuous longitude frame, copies
// shifted by whole turns, and the cut at the antimeridian that GeoJSON wants.
#ifndef VORPIX_FEATURES_CLIP_HPP
#define VORPIX_FEATURES_CLIP_HPP

#include "vorpix/features.hpp"

#include <vector>

namespace vorpix::geo {

struct Point {
    double lon, lat;
};
// A ring is closed implicitly: its last point joins its first, which is not
// repeated.
using Ring = std::vector<Point>;
using Line = std::vector<Point>;
// An exterior ring, counter-clockwise, then its holes, clockwise.
using Polygon = std::vector<Ring>;

// A box whose longitudes run continuously from west to east, with
// west < east <= west + 360: 160/200 runs from 160 to 200; a box given as
// 170/-170 runs from 170 to 190; the whole world is -180 to 180.
struct Frame {
    double west, east, south, north;
};
// East at or below west means the box runs east across 180; a box wider
// than a turn is cut to one turn from its west edge.
Frame frame_of(double west, double east, double south, double north);
Frame frame_of(const features::Box &box);

// The part of a polygon inside the frame, exactly: for every whole turn k
// the polygon shifted by 360k is intersected with the frame, so land on both
// sides of the seam appears, once. rings[0] is the exterior, the others its
// holes, in any orientation and any longitudes (each ring is first made
// continuous, the short way across every edge, and holes are moved by whole
// turns next to their exterior). An exterior that goes once round the globe
// (Antarctica) is closed along the pole it winds round. The results are
// valid polygons with exterior rings counter-clockwise and holes clockwise,
// whose edges may run along the frame's border but never cross it: a hole
// may touch its exterior at a point, and a region pinched to a point comes
// out as separate polygons. A ring that spans more than a turn without going
// round a pole is refused (features::Error).
std::vector<Polygon> clip_polygon(const Polygon &polygon, const Frame &frame);
// The same, in the polygon's own storage where it may be.
std::vector<Polygon> clip_polygon(Polygon &&polygon, const Frame &frame);

// The parts of a line inside the frame (its border included), for every
// whole turn, with no closing edges along the border. Points are made
// continuous the short way first.
std::vector<Line> clip_line(const Line &line, const Frame &frame);

// The same, in the form RFC 7946 asks of GeoJSON: longitudes within
// -180..180, every part cut where it meets the antimeridian (the frame is
// split at every 180 + 360k and each piece moved by whole turns into range).
std::vector<Polygon> clip_polygon_rfc7946(const Polygon &polygon, const Frame &frame);
std::vector<Polygon> clip_polygon_rfc7946(Polygon &&polygon, const Frame &frame);
std::vector<Line> clip_line_rfc7946(const Line &line, const Frame &frame);

// Whether an extent in degrees, moved by whole turns, meets the frame.
bool extent_meets(double west, double east, double south, double north, const Frame &frame);

// A ring as a closed line once round, made continuous the short way, without
// the edges that close a ring round a pole along the pole.
Line outline_once_round(const Ring &ring);

// Twice the signed area (positive when counter-clockwise).
double signed_area2(const Ring &ring);

}  // namespace vorpix::geo

#endif
