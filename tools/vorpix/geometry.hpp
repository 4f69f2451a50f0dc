// Plane geometry in degrees of longitude and latitude for the map commands:
// exact clipping of polygons and lines to a box in one continuous longitude
// frame, copies shifted by whole turns, the cut at the antimeridian that
// GeoJSON wants, and the shoreline file's own polygons read for all of this.
#ifndef VORPIX_GEOMETRY_HPP
#define VORPIX_GEOMETRY_HPP

#include <string>
#include <vector>

namespace vorpix::cli {
struct Box;
}

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
Frame frame_of(const cli::Box &box);

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
// round a pole is refused (cli::InputError).
std::vector<Polygon> clip_polygon(const Polygon &polygon, const Frame &frame);

// The parts of a line inside the frame (its border included), for every
// whole turn, with no closing edges along the border. Points are made
// continuous the short way first.
std::vector<Line> clip_line(const Line &line, const Frame &frame);

// The same, in the form RFC 7946 asks of GeoJSON: longitudes within
// -180..180, every part cut where it meets the antimeridian (the frame is
// split at every 180 + 360k and each piece moved by whole turns into range).
std::vector<Polygon> clip_polygon_rfc7946(const Polygon &polygon, const Frame &frame);
std::vector<Line> clip_line_rfc7946(const Line &line, const Frame &frame);

// Twice the signed area (positive when counter-clockwise).
double signed_area2(const Ring &ring);

// One polygon of a shoreline file as a map shows it.
struct ShoreFeature {
    int id;
    int level;                      // 1 land (either Antarctic outline too), 2 lake, 3 island in a lake, 4 pond
    char kind;                      // 'f' filled (polygons) or 'c' line work (lines)
    char type;                      // as the library delivers it: 'c', or for 'f' 'l' (odd level) or 'w' (even)
    int antipode;                   // 1 when the reference point's antipode lies inside the whole polygon
    std::vector<Polygon> polygons;  // kind 'f': the exact clip in the frame
    std::vector<Line> lines;        // kind 'c': the outline clipped as lines; no seam or pole edges
};

// Which of Antarctica's outlines is land: the ice front, with the ice
// shelves, as maps usually show it, or the grounding line, where the ice
// rests on rock.
enum class Antarctica { IceFront, GroundingLine };

// What to read and how to cut it.
struct ShoreRequest {
    std::string resolution = "l";   // first character c, l, i, h or f (others mean i)
    std::string kinds = "c:0";      // words c:LEVELS and f:LEVELS, as gshhsmap_select reads them
    double lonref = 0, latref = 0;  // reference point for the antipode flag
    bool rfc7946 = false;           // polygons and lines in GeoJSON's form (see clip_*_rfc7946)
    Antarctica antarctica = Antarctica::IceFront;
};

// The polygons of maps/vorpix/gshhs_RES.b (found through the data path like
// the library finds it) that the kinds select and that meet the frame, each
// clipped exactly. Results come kind by kind in the order the words name
// them; within a kind by level (land, then lakes, islands, ponds), in file
// order within a level, so painting them in order shows lakes over land.
// Features with nothing inside the frame are left out. Throws
// cli::InputError naming the file when it is missing or corrupt.
std::vector<ShoreFeature> shoreline_features(const ShoreRequest &request, const Frame &frame);
// The same from a file's bytes, for tests and other data.
std::vector<ShoreFeature> shoreline_features(const char *data, long size, const std::string &name,
                                             const ShoreRequest &request, const Frame &frame);

}  // namespace vorpix::geo

#endif
