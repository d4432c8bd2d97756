// The link test between two segments, and the helpers that let an index
// preselect the hits that may pass it.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "algorithms/graph_dfs/graph_dfs.hpp"
#include "event_model/hit.hpp"

namespace corvane {

// Whether the ids are distinct (and, as in an Event, below the hit count).
inline bool ids_distinct(std::span<const Hit> hits) {
    std::vector<uint8_t> seen(hits.size(), 0);
    return std::all_of(hits.begin(), hits.end(), [&seen](const Hit& hit) {
        if (hit.id < 0 || static_cast<size_t>(hit.id) >= seen.size() || seen[static_cast<size_t>(hit.id)]) return false;
        seen[static_cast<size_t>(hit.id)] = 1;
        return true;
    });
}

// A segment t (t1 -> t2) and what every test against it shares. The
// products below are the first steps of the fixed order of operations, so
// precomputing them changes no result.
class Predecessor {
public:
    Predecessor(const Hit& t1, const Hit& t2) : Predecessor(t1, t2, 1 / (t2.z - t1.z)) {}

    // `r` is 1 / (t2.z - t1.z), known already: the segments of one window
    // mostly share their z values, and the division is the costly part.
    Predecessor(const Hit& t1, const Hit& t2, double r)
        : t1_(t1), t2_(t2), dz1_(t2.z - t1.z), r_(r), slope_x_((t2.x - t1.x) * r_), slope_y_((t2.y - t1.y) * r_) {}

    bool vertical() const { return dz1_ == 0; }

    // How far the line through t's hits passes from x (or y) at height z
    // (positive: the point lies to its left), as may_follow computes it.
    double x_offset(double z, double x) const { return slope_x_ * (z - t1_.z) + t1_.x - x; }
    double y_offset(double z, double y) const { return slope_y_ * (z - t1_.z) + t1_.y - y; }

    // Whether a segment ending at s2 may follow: the line through t's hits
    // passes near s2, with a bounded scatter. NaN never links.
    // (The reciprocal of the last z difference is taken only for the few
    // hits that pass the distance tests.)
    bool may_follow(const GraphDfsParameters& p, const Hit& s2) const {
        return may_follow(p, s2, [this, &s2] { return 1 / (s2.z - t2_.z); });
    }

    // The same, with `q` = 1 / (s2.z - t2.z) known already (a division is
    // costly, and the second hits of one module share their z).
    bool may_follow(const GraphDfsParameters& p, const Hit& s2, double q) const {
        return may_follow(p, s2, [q] { return q; });
    }

private:
    template <class Reciprocal>
    bool may_follow(const GraphDfsParameters& p, const Hit& s2, Reciprocal&& reciprocal) const {
        if (vertical()) return false;
        const double dz = s2.z - t1_.z;
        const double dx = slope_x_ * dz + t1_.x - s2.x;
        if (!(std::abs(dx) < p.max_tolerance_x)) return false;
        const double dy = slope_y_ * dz + t1_.y - s2.y;
        if (!(std::abs(dy) < p.max_tolerance_y)) return false;
        if (s2.z - t2_.z == 0) return false;
        const double q = reciprocal();
        const double scatter = (dy * dy + dx * dx) * q * q;
        return p.max_scatter > scatter;
    }

    const Hit& t1_;
    const Hit& t2_;
    double dz1_;
    double r_;
    double slope_x_;
    double slope_y_;
};

// [low - half, high + half], a little wider: the box only preselects, the
// exact tests decide, so it must not lose a hit to rounding.
inline std::pair<double, double> widened_range(double low, double high, double half) {
    const double slack = (std::max(std::abs(low), std::abs(high)) + half) * 0x1p-40;
    return {low - half - slack, high + half + slack};
}

}  // namespace corvane
