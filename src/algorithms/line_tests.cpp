#include <cmath>

#include "algorithms/track_following.hpp"

namespace corvane {

bool are_compatible(const TrackFollowingParameters& p, const Hit& hit0, const Hit& hit1) {
    const double dz = std::fabs(hit0.z - hit1.z);
    return p.max_slope_x * dz > std::fabs(hit1.x - hit0.x) && dz * p.max_slope_y > std::fabs(hit1.y - hit0.y);
}

bool check_tolerance(const TrackFollowingParameters& p, const Hit& hit0, const Hit& hit1, const Hit& hit2) {
    if (hit1.z - hit0.z == 0.0) return false;
    if (hit2.z - hit1.z == 0.0) return false;
    const double r = 1.0 / (hit1.z - hit0.z);
    const double tx = r * (hit1.x - hit0.x);
    const double ty = r * (hit1.y - hit0.y);
    const double x_pred = (hit2.z - hit0.z) * tx + hit0.x;
    const double y_pred = (hit2.z - hit0.z) * ty + hit0.y;
    const double dx = std::fabs(x_pred - hit2.x);
    const double dy = std::fabs(y_pred - hit2.y);
    if (!(dx < p.max_tolerance_x && dy < p.max_tolerance_y)) return false;
    const double s = 1.0 / (hit2.z - hit1.z);
    // dy*dy + dx*dy, not a sum of squares: an offset in x alone scatters nothing.
    const double scatter = (dy * dy + dx * dy) * s * s;
    return p.max_scatter > scatter;
}

const Hit* first_continuation_by_scan(const TrackFollowingParameters& p, std::span<const Hit> hits, const Hit& a,
                                      const Hit& b) {
    for (const Hit& hit : hits) {
        if (check_tolerance(p, a, b, hit)) return &hit;
    }
    return nullptr;
}

}  // namespace corvane
