// What the readers of the library's map files share: its log turned into
// one line, the files found in the data directories, and clipped parts made
// into flat geometry.
#ifndef VORPIX_FEATURES_MAP_SUPPORT_HPP
#define VORPIX_FEATURES_MAP_SUPPORT_HPP

#include "vorpix/library_log.hpp"
#include "vorpix/clip.hpp"
#include "vorpix/features.hpp"
#include "vorpix/map_readers.hpp"

#include <functional>
#include <string>
#include <vector>

namespace vorpix::features {

// The library's log, as the map readers have long called it.
using MapLog = LibraryLog;

// A message about bytes counted from a window of a file that starts at
// offset, counted from the start of the file: every "at byte N" moved.
std::string at_file_bytes(const std::string &message, long offset);

// The file that the data directories hold for a relative name such as
// maps/vorpix/gshhs_l.b; Error (ErrorCode::Io) with missing's message when
// there is none.
std::string find_map_file(const std::string &relative, const MissingMapFile &missing);

// The geometry of clipped parts: rings closed, exteriors counter-clockwise
// and holes clockwise; with long_edges_split, edges of half a turn of
// longitude or more get points between.
void set_polygons(Geometry &g, const std::vector<geo::Polygon> &polygons, bool long_edges_split);
void set_lines(Geometry &g, const std::vector<geo::Line> &lines, bool long_edges_split);

}  // namespace vorpix::features

#endif
