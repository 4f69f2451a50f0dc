// Independent checks of the GeoJSON that the tool writes, by Python scripts
// beside this header that use GEOS through shapely.
#ifndef VORPIX_GEOJSON_CHECKS_HPP
#define VORPIX_GEOJSON_CHECKS_HPP

#include "test_files.hpp"

#include <string>

namespace vorpix::test {

inline std::string support_script(const std::string &name) {
    return python_command() + " " + std::string(VORPIX_SOURCE_DIR) + "/tests/support/" + name;
}

// What a strict RFC 7946 check finds wrong with a GeoJSON file, one line
// per problem; "" when nothing.
inline std::string rfc7946_problems(const std::string &path) {
    const auto r = run_command(support_script("check_rfc7946.py") + " " + path + " 2>&1");
    return r.status == 0 ? "" : r.output.empty() ? "the checker did not run" : r.output;
}

// Compares the features of one kind ("f:LEVELS" filled polygons, "c:LEVELS"
// outlines) in a "vorpix coast" GeoJSON file with an exact clip of the
// shoreline file to the box by GEOS. status 0 when they agree; the output
// ends with "polygons N area A" (or "lines N length L"); a source polygon
// that is not valid is a disagreement. outline is Antarctica's: ice-front
// or grounding-line.
inline CommandResult exact_fill_check(const std::string &shorelines, const std::string &box, const std::string &geojson,
                                      const std::string &kinds = "f:0", const std::string &outline = "ice-front") {
    return run_command(support_script("exact_clip_oracle.py") + " " + shorelines + " " + box + " " + geojson + " " +
                       kinds + " " + outline + " 2>&1");
}

}  // namespace vorpix::test

#endif
