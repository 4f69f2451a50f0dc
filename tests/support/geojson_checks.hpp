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
// per problem; "" when nothing. invalid_sources lists ids of source polygons
// that are not valid themselves, whose clips the check cannot hold to
// validity (exact_fill_check names them).
inline std::string rfc7946_problems(const std::string &path, const std::string &invalid_sources = "") {
    const auto r = run_command(support_script("check_rfc7946.py") +
                               (invalid_sources.empty() ? "" : " --invalid-sources " + invalid_sources) + " " +
                               path + " 2>&1");
    return r.status == 0 ? "" : r.output.empty() ? "the checker did not run" : r.output;
}

// Compares the features of one kind ("f:LEVELS" filled polygons, "c:LEVELS"
// outlines) in a "vorpix coast" GeoJSON file with an exact clip of the
// shoreline file to the box by GEOS. status 0 when they agree; the output
// ends with "polygons N area A" (or "lines N length L") and may name the
// source polygons that are not valid on a line "invalid-sources: ID,...".
inline CommandResult exact_fill_check(const std::string &shorelines, const std::string &box,
                                      const std::string &geojson, const std::string &kinds = "f:0") {
    return run_command(support_script("exact_clip_oracle.py") + " " + shorelines + " " + box + " " + geojson + " " +
                       kinds + " 2>&1");
}

// The ids on the "invalid-sources:" line of an exact_fill_check ("" when none).
inline std::string invalid_sources(const std::string &oracle_output) {
    const std::string key = "invalid-sources: ";
    const auto at = oracle_output.find(key);
    if (at == std::string::npos) return "";
    const auto start = at + key.size();
    return oracle_output.substr(start, oracle_output.find('\n', start) - start);
}

}  // namespace vorpix::test

#endif
