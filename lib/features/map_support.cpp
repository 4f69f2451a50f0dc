#include "map_support.hpp"

#include "datafile.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace vorpix::features {

std::string at_file_bytes(const std::string &message, long offset) {
    static const std::string at = "at byte ";
    std::string out;
    size_t from = 0;
    for (size_t found; (found = message.find(at, from)) != std::string::npos;) {
        size_t end = found + at.size();
        while (end < message.size() && message[end] >= '0' && message[end] <= '9') ++end;
        out.append(message, from, found + at.size() - from);
        if (end > found + at.size()) out += std::to_string(std::stol(message.substr(found + at.size())) + offset);
        from = end;
    }
    return out + message.substr(from);
}

std::string find_map_file(const std::string &relative, const MissingMapFile &missing) {
    char *path = datafile(nullptr, relative.c_str());
    if (!path)
        throw Error(missing ? missing(relative) : relative + ": not found in the data directories", ErrorCode::Io);
    std::string found = path;
    std::free(path);
    return found;
}

namespace {

// The point, and with long_edges_split points every quarter turn or less
// along an edge of half a turn or more from the point before.
void add_point(Geometry &g, const geo::Point &p, bool long_edges_split) {
    if (long_edges_split && !g.x.empty() && g.x.size() > g.runs.back() && std::fabs(p.lon - g.x.back()) >= 180) {
        const geo::Point a{g.x.back(), g.y.back()};
        const int steps = static_cast<int>(std::ceil(std::fabs(p.lon - a.lon) / 90));
        for (int k = 1; k < steps; ++k) {
            g.x.push_back(a.lon + (p.lon - a.lon) * k / steps);
            g.y.push_back(a.lat + (p.lat - a.lat) * k / steps);
        }
    }
    g.x.push_back(p.lon);
    g.y.push_back(p.lat);
}

void end_run(Geometry &g) { g.runs.push_back(static_cast<std::uint32_t>(g.x.size())); }

}  // namespace

void set_polygons(Geometry &g, const std::vector<geo::Polygon> &polygons, bool long_edges_split) {
    g.clear();
    if (polygons.empty()) return;
    g.runs.assign(1, 0);
    g.parts.assign(1, 0);
    for (const geo::Polygon &polygon : polygons) {
        for (size_t r = 0; r < polygon.size(); ++r) {
            const geo::Ring &ring = polygon[r];
            if (ring.empty()) continue;
            const bool reverse = (geo::signed_area2(ring) > 0) != (r == 0);
            const size_t n = ring.size();
            for (size_t i = 0; i <= n; ++i) add_point(g, ring[reverse ? n - 1 - i % n : i % n], long_edges_split);
            end_run(g);
        }
        g.parts.push_back(static_cast<std::uint32_t>(g.run_count()));
    }
    g.type = polygons.size() > 1 ? GeometryType::MultiPolygon : GeometryType::Polygon;
}

void set_lines(Geometry &g, const std::vector<geo::Line> &lines, bool long_edges_split) {
    g.clear();
    if (lines.empty()) return;
    g.runs.assign(1, 0);
    for (const geo::Line &line : lines) {
        for (const geo::Point &p : line) add_point(g, p, long_edges_split);
        end_run(g);
    }
    g.type = lines.size() > 1 ? GeometryType::MultiLineString : GeometryType::LineString;
}

}  // namespace vorpix::features
