// Finds the first hit of a module, in stored order, that continues a straight
// line, without testing every hit: the hits are kept sorted by x, and only
// those whose x lies within the tolerance of the predicted x can pass.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "algorithms/track_following.hpp"

namespace corvane {

class LineSearchIndex {
public:
    explicit LineSearchIndex(std::span<const Hit> hits);

    // The first hit h in stored order with check_tolerance(p, a, b, h), or
    // nullptr; always the same hit as a plain scan would find.
    const Hit* first_continuation(const TrackFollowingParameters& p, const Hit& a, const Hit& b) const;

private:
    std::span<const Hit> hits_;
    std::vector<double> sorted_x_;
    std::vector<uint32_t> positions_;  // stored positions, by increasing x
    double z_min_ = 0.0;
    double z_max_ = 0.0;
    bool indexed_ = false;  // false: every query is a plain scan
};

}  // namespace corvane
