// The two geometric tests of the track-following finder, inline so that the
// search loops can take them apart: the line through two hits is made once
// per probe, and every candidate runs only the comparisons. The operations
// run in one fixed order everywhere, so results are reproducible bit for bit.
#pragma once

#include <cmath>

#include "algorithms/track_following/parameters.hpp"
#include "event_model/hit.hpp"

namespace corvane {

// Whether two hits may form a seed (strict slope bounds; equal z never passes).
inline bool are_compatible(const TrackFollowingParameters& p, const Hit& hit0, const Hit& hit1) {
    const double dz = std::fabs(hit0.z - hit1.z);
    return p.max_slope_x * dz > std::fabs(hit1.x - hit0.x) && dz * p.max_slope_y > std::fabs(hit1.y - hit0.y);
}

// The straight line through two hits, for predictions at other z. The one
// place a predicted position is computed: the tolerance test and the search
// index use it alike, so they can never disagree.
struct StraightLine {
    double x0 = 0.0, y0 = 0.0, z0 = 0.0;
    double tx = 0.0, ty = 0.0;

    StraightLine() = default;

    // Assumes b.z - a.z is not zero (the tolerance test rejects that first).
    StraightLine(const Hit& a, const Hit& b) : x0(a.x), y0(a.y), z0(a.z) {
        const double r = 1.0 / (b.z - a.z);
        tx = r * (b.x - a.x);
        ty = r * (b.y - a.y);
    }

    double x_at(double z) const { return (z - z0) * tx + x0; }
    double y_at(double z) const { return (z - z0) * ty + y0; }
};

// The end of the tolerance test, from the distances to the prediction and
// dz = hit2.z - hit1.z. Strict bounds: NaN fails.
inline bool within_tolerance(const TrackFollowingParameters& p, double dx, double dy, double dz) {
    if (!(dx < p.max_tolerance_x && dy < p.max_tolerance_y)) return false;
    const double s = 1.0 / dz;
    // dy*dy + dx*dy, not a sum of squares: an offset in x alone scatters nothing.
    const double scatter = (dy * dy + dx * dy) * s * s;
    return p.max_scatter > scatter;
}

// Whether hit2 continues the line through `line`'s hits, the second of which
// lies at z1.
inline bool continues(const TrackFollowingParameters& p, const StraightLine& line, double z1, const Hit& hit2) {
    if (hit2.z - z1 == 0.0) return false;
    const double dx = std::fabs(line.x_at(hit2.z) - hit2.x);
    const double dy = std::fabs(line.y_at(hit2.z) - hit2.y);
    return within_tolerance(p, dx, dy, hit2.z - z1);
}

// Whether hit2 continues the straight line through hit0 and hit1.
inline bool check_tolerance(const TrackFollowingParameters& p, const Hit& hit0, const Hit& hit1, const Hit& hit2) {
    if (hit1.z - hit0.z == 0.0) return false;
    return continues(p, StraightLine(hit0, hit1), hit1.z, hit2);
}

}  // namespace corvane
