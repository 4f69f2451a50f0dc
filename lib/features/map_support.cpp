#include "map_support.hpp"

#include "datafile.h"
#include "elog.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace vorpix::features {

namespace {

std::string chomp(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

std::string without_function(const std::string &message) {
    const auto colon = message.find(": ");
    std::string text = colon == std::string::npos ? message : message.substr(colon + 2);
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

bool names_a_file(const std::string &word) {
    if (word.empty() || word.find(' ') != std::string::npos) return false;
    if (word.find('/') != std::string::npos) return true;
    for (const char *suffix : {".b", ".cdf", ".nc"}) {
        const size_t n = std::strlen(suffix);
        if (word.size() > n && word.compare(word.size() - n, n, suffix) == 0) return true;
    }
    return false;
}

// "what(FILE) error": a link of the chain that names the file and nothing else.
bool chain_link(const std::string &text, std::string *file) {
    const auto open = text.find('('), close = text.rfind(") error");
    if (open == std::string::npos || close == std::string::npos || close < open || close + 7 != text.size())
        return false;
    *file = text.substr(open + 1, close - open - 1);
    return true;
}

}  // namespace

MapLog::MapLog() { previous_ = reinterpret_cast<void *>(elog_set_handler(&MapLog::receive, this, &previous_context_)); }

MapLog::~MapLog() { elog_set_handler(reinterpret_cast<elog_handler>(previous_), previous_context_, nullptr); }

void MapLog::receive(int, const char *message, void *context) {
    static_cast<MapLog *>(context)->lines_.push_back(chomp(message));
}

std::string MapLog::reason() const { return lines_.empty() ? "cannot be decoded" : without_function(lines_[0]); }

std::string MapLog::describe(const std::function<std::string(const std::string &)> &file_for) const {
    std::string file;
    std::vector<std::string> parts;
    for (auto it = lines_.rbegin(); it != lines_.rend(); ++it) {
        std::string text = without_function(*it), named;
        if (chain_link(text, &named)) {
            if (file.empty()) file = named;
            continue;
        }
        const auto colon = text.find(": ");
        if (colon != std::string::npos && names_a_file(text.substr(0, colon))) {
            if (file.empty()) file = text.substr(0, colon);
            if (text.compare(0, colon, file) == 0) text.erase(0, colon + 2);
        }
        // The outer line's verdict; the inner lines say what was wrong.
        const std::string vague = "truncated or corrupt file";
        if (text.size() >= vague.size() && text.compare(text.size() - vague.size(), vague.size(), vague) == 0 &&
            std::next(it) != lines_.rend()) {
            text.erase(text.size() - vague.size());
            while (!text.empty() && (text.back() == ' ' || text.back() == ':')) text.pop_back();
        }
        if (!text.empty()) parts.push_back(text);
    }
    if (!file.empty() && file.find('/') == std::string::npos && file_for) file = file_for(file);
    std::string out = file;
    for (const auto &part : parts) out += (out.empty() ? "" : ": ") + part;
    return out;
}

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
