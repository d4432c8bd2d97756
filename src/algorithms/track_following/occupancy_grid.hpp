// A 64 x 64 grid of cells over a module, each cell marked when a prediction
// inside it may lie within the tolerances of some hit. Most line searches
// predict a point far from every hit, and the grid says so from one bit,
// without touching the hits.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <span>

#include "core/bit_range.hpp"
#include "core/monotone_bins.hpp"
#include "event_model/hit.hpp"

namespace corvane {

class OccupancyGrid {
public:
    // A grid that marks everything.
    OccupancyGrid() = default;

    // Hits must be finite; so must the tolerances, or the grid marks
    // everything.
    OccupancyGrid(std::span<const Hit> hits, double tolerance_x, double tolerance_y);

    // False only when no hit has |x_pred - x| < tolerance_x and |y_pred - y|
    // < tolerance_y for any prediction with lowest_x <= x_pred <= highest_x
    // and lowest_y <= y_pred <= highest_y.
    bool may_hold(double lowest_x, double highest_x, double lowest_y, double highest_y) const {
        // Bitwise: one branch for the four tests.
        if (!((highest_x >= x_low_) & (lowest_x <= x_high_) & (highest_y >= y_low_) & (lowest_y <= y_high_))) {
            return false;
        }
        const uint64_t mask = bit_range(columns_.of(lowest_x), columns_.of(highest_x));
        const size_t last_row = rows_.of(highest_y);
        for (size_t row = rows_.of(lowest_y); row <= last_row; ++row) {
            if ((marked_[row] & mask) != 0) return true;
        }
        return false;
    }

private:
    static constexpr size_t kSide = 64;

    // Where predictions may fall at all; outside, nothing is marked.
    double x_low_ = -INFINITY, x_high_ = INFINITY, y_low_ = -INFINITY, y_high_ = INFINITY;
    MonotoneBins columns_;                           // over x
    MonotoneBins rows_;                              // over y
    std::array<uint64_t, kSide> marked_ = filled();  // bit c of row r: cell (c, r) is marked

    static std::array<uint64_t, kSide> filled() {
        std::array<uint64_t, kSide> rows;
        rows.fill(~uint64_t{0});
        return rows;
    }
};

}  // namespace corvane
