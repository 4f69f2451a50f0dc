// The shoreline file's own polygons, clipped exactly for the map commands.
#ifndef VORPIX_GEOMETRY_HPP
#define VORPIX_GEOMETRY_HPP

#include "vorpix/clip.hpp"

#include <string>
#include <vector>

namespace vorpix::geo {

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
