// Features read to the end from the layer's readers, the errors they throw,
// and the rings of their geometries.
#ifndef VORPIX_TEST_FEATURE_CHECKS_HPP
#define VORPIX_TEST_FEATURE_CHECKS_HPP

#include "vorpix/features.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

namespace vorpix::test {

template <typename Reader>
std::vector<features::Feature> all_features(Reader &reader) {
    std::vector<features::Feature> out;
    for (features::Feature f; reader.next(f);) out.push_back(f);
    return out;
}

// The error that act throws; a test failure, and an error saying so, when it throws none.
template <typename Act>
features::Error error_of(Act act) {
    try {
        act();
    } catch (const features::Error &e) {
        return e;
    }
    ADD_FAILURE() << "no error";
    return features::Error("no error");
}

// Twice the signed area of run r (positive counter-clockwise), closed as written.
inline double area2(const features::Geometry &g, std::size_t r) {
    double sum = 0;
    for (std::size_t i = g.runs[r]; i + 1 < g.runs[r + 1]; ++i) sum += g.x[i] * g.y[i + 1] - g.x[i + 1] * g.y[i];
    return sum;
}

// Rings are closed, exteriors counter-clockwise and holes clockwise.
inline void expect_rings_in_order(const features::Geometry &g, const std::string &what) {
    for (std::size_t p = 0; p < g.polygon_count(); ++p)
        for (std::size_t r = g.parts[p]; r < g.parts[p + 1]; ++r) {
            const std::size_t first = g.runs[r], last = g.runs[r + 1] - 1;
            EXPECT_EQ(g.x[first], g.x[last]) << what;
            EXPECT_EQ(g.y[first], g.y[last]) << what;
            EXPECT_EQ(area2(g, r) > 0, r == g.parts[p]) << what << " ring " << r;
        }
}

}  // namespace vorpix::test

#endif
