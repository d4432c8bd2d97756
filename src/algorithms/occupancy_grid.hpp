// Which cells of a 64 x 64 grid over a module's hits hold at least one hit:
// most windows a line search asks about are empty, and the grid says so
// from a few bits, without touching the hits.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "algorithms/monotone_bins.hpp"
#include "event_model/hit.hpp"

namespace corvane {

class OccupancyGrid {
public:
    OccupancyGrid() = default;

    // Hits must be finite.
    explicit OccupancyGrid(std::span<const Hit> hits);

    // False only when no hit has lowest_x <= x <= highest_x and
    // lowest_y <= y <= highest_y.
    bool may_hold(double lowest_x, double highest_x, double lowest_y, double highest_y) const {
        const size_t first_column = columns_.of(lowest_x);
        const size_t last_column = columns_.of(highest_x);
        const uint64_t mask = (~uint64_t{0} >> (kSide - 1 - last_column)) & (~uint64_t{0} << first_column);
        const size_t last_row = rows_.of(highest_y);
        for (size_t row = rows_.of(lowest_y); row <= last_row; ++row) {
            if ((occupied_[row] & mask) != 0) return true;
        }
        return false;
    }

private:
    static constexpr size_t kSide = 64;

    MonotoneBins columns_;  // over x
    MonotoneBins rows_;     // over y
    std::array<uint64_t, kSide> occupied_{};  // bit c of row r: cell (c, r) holds a hit
};

}  // namespace corvane
