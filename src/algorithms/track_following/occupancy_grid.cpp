#include "algorithms/track_following/occupancy_grid.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "algorithms/track_following/tolerance_window.hpp"

namespace corvane {

OccupancyGrid::OccupancyGrid(std::span<const Hit> hits, double tolerance_x, double tolerance_y) {
    if (hits.empty() || !std::isfinite(tolerance_x) || !std::isfinite(tolerance_y)) return;
    // Around each hit, the predictions that may pass its tolerance test.
    std::vector<ToleranceWindow> xs, ys;
    xs.reserve(hits.size());
    ys.reserve(hits.size());
    for (const Hit& hit : hits) {
        xs.emplace_back(hit.x, hit.x, tolerance_x);
        ys.emplace_back(hit.y, hit.y, tolerance_y);
    }
    const auto by_low = [](const ToleranceWindow& l, const ToleranceWindow& r) { return l.low < r.low; };
    const auto by_high = [](const ToleranceWindow& l, const ToleranceWindow& r) { return l.high < r.high; };
    x_low_ = std::min_element(xs.begin(), xs.end(), by_low)->low;
    x_high_ = std::max_element(xs.begin(), xs.end(), by_high)->high;
    y_low_ = std::min_element(ys.begin(), ys.end(), by_low)->low;
    y_high_ = std::max_element(ys.begin(), ys.end(), by_high)->high;
    columns_ = MonotoneBins(x_low_, x_high_, kSide);
    rows_ = MonotoneBins(y_low_, y_high_, kSide);
    marked_.fill(0);
    for (size_t i = 0; i < hits.size(); ++i) {
        const uint64_t mask = bit_range(columns_.of(xs[i].low), columns_.of(xs[i].high));
        const size_t last_row = rows_.of(ys[i].high);
        for (size_t row = rows_.of(ys[i].low); row <= last_row; ++row) marked_[row] |= mask;
    }
}

}  // namespace corvane
