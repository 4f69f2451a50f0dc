// The shorelines, borders and rivers of the map files that the vorpix
// library reads, as features one at a time: found in the data directories
// as the library finds them, clipped exactly to a box and, for GeoJSON, cut
// at the antimeridian.
#ifndef VORPIX_FEATURES_MAP_READERS_HPP
#define VORPIX_FEATURES_MAP_READERS_HPP

#include "vorpix/features.hpp"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vorpix::features {

// Which of Antarctica's outlines is land: the ice front, with the ice
// shelves, as maps usually show it, or the grounding line, where the ice
// rests on rock. Either is level 1.
enum class AntarcticOutline { IceFront, GroundingLine };

// The message of the error for a map file that no data directory holds,
// from its name relative to them (maps/vorpix/gshhs_h.b). Without one the
// error says that name is not found.
using MissingMapFile = std::function<std::string(const std::string &relative)>;

struct ShorelineOptions {
    std::string resolution = "l";  // by its first letter: c, l, i, h or f; any other is i
    // Up to two words c:LEVELS (outlines, as lines) and f:LEVELS (filled
    // areas), as the library's selection reads them: bit k of LEVELS selects
    // level k+1 (1 land, 2 lake, 3 island in a lake, 4 pond), 0 every level.
    std::string kinds = "c:0";
    Box box{-180, 180, -90, 90};    // the frame (geo::frame_of): east at or below west runs across 180
    double lonref = 0, latref = 0;  // the reference point whose antipode each polygon is tested against
    bool rfc7946 = true;            // longitudes within +-180, cut at the antimeridian; else in the box's own frame
    AntarcticOutline antarctica = AntarcticOutline::IceFront;
    std::function<void(const std::string &)> opened;  // told of the file before it is read
    MissingMapFile missing;
};

// The polygons of maps/vorpix/gshhs_RES.b that the kinds select and that
// meet the box, each clipped exactly (geo::clip_polygon, geo::clip_line):
// kind by kind in the order the words name them, within a kind by level
// (land, then lakes, islands in lakes, ponds), in file order within a
// level, so that painting them in order shows lakes over land. Polygons
// with nothing inside the box are left out. The file is read through a
// window: memory holds the largest polygon, not the file. Each kind is a
// pass over the file's headers that gives the land and notes where the other
// levels lie, then a pass over each of those stretches (the files keep their
// levels apart, so this reads little more than the file). The library's
// header and point primitives decode them; its own selection is not used,
// since it leaves out the ice front and delivers single-precision points
// reduced against the box, where an exact clip needs them as stored.
//
// Each feature's id is the polygon's; its values follow fields(). Filled
// kinds give a Polygon or MultiPolygon, outlines a LineString or
// MultiLineString (once round, without the edges that close a ring round a
// pole). With rfc7946, an edge of half a turn of longitude or more gets
// points between, so that no reader takes it for one across the
// antimeridian. Errors (Error) name the file and the polygon.
class ShorelineReader {
public:
    // The file found in the data directories for the resolution; the kinds
    // are read first, and kinds that name neither c nor f look up no file.
    explicit ShorelineReader(ShorelineOptions options);
    // The shoreline file at path, whatever the resolution says.
    ShorelineReader(const std::string &path, ShorelineOptions options);
    ~ShorelineReader();
    ShorelineReader(const ShorelineReader &) = delete;
    ShorelineReader &operator=(const ShorelineReader &) = delete;

    // id (the polygon's), kind ("f" or "c"), level (1 to 4; Antarctica's
    // outline 1), type ("l" land or "w" water for f by odd or even level, "c"
    // for c, as the library delivers them), antipode (1 when the antipode of
    // the reference point lies inside the whole polygon, else 0).
    enum Value { Id, Kind, Level, Type, Antipode };
    static const std::vector<Field> &fields();
    const std::string &path() const;  // the file read; "" when the kinds name no kind
    bool next(Feature &feature);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

struct BorderOptions {
    std::string resolution = "l";  // by its first letter: c, l, i, h or f; any other is i
    // Up to four words p:LEVELS (borders: 1 national, 2 internal, 3
    // maritime) and r:LEVELS (rivers: 1-4 permanent, 5-7 intermittent, 8-10
    // canals), as the library's selection reads them. A river mask with
    // levels 1 to 10 all set also takes level 0: double-lined rivers and
    // river-lakes.
    std::string kinds = "p:7";
    Box box{-180, 180, -90, 90};  // east at or below west runs across 180
    bool rfc7946 = true;          // longitudes within +-180, cut at the antimeridian; else in the box's own frame
    std::function<void(const std::string &)> opened;  // told of each file the selection read
    MissingMapFile missing;
};

// The border and river segments of maps/vorpix/binned_{border,river}_RES.cdf
// that the library's selection takes for the box and its delivery gives,
// in the order it gives them, each clipped to the box as lines (copies by
// whole turns included); segments with nothing inside it are left out. The
// library keeps its list of the box's segments; each segment is clipped
// and handed on as it is delivered. Each feature's id counts the features
// given from 0; its values follow fields(); its geometry is a LineString or
// MultiLineString.
class BorderReader {
public:
    explicit BorderReader(BorderOptions options);
    ~BorderReader();
    BorderReader(const BorderReader &) = delete;
    BorderReader &operator=(const BorderReader &) = delete;

    // kind ("border" or "river"), level, type ("p" or "r", as the library
    // delivers them).
    enum Value { Kind, Level, Type };
    static const std::vector<Field> &fields();
    bool next(Feature &feature);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vorpix::features

#endif
