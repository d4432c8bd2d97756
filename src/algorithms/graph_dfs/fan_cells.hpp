// The candidate segments from one first hit to the hits of one window, four
// at a time: which pass the slope test in y, and where each one's line
// crosses the target modules of its second hit, as reach-grid keys.
#pragma once

#include <cstdint>
#include <span>

#include "algorithms/graph_dfs/reach_grid.hpp"

namespace corvane {

// The sorted hits' coordinates as arrays, each followed by three spare
// values (the kernel reads whole groups of four).
struct HitColumns {
    const double* x = nullptr;
    const double* y = nullptr;
    const double* z = nullptr;
};

// The first hit of the segments.
struct FanOrigin {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// For the `count` hits from position `first`: bit i % 64 of y_pass[i / 64],
// whether the segment to hit first + i passes the slope test in y (the very
// test of the segment, in the same order of operations; bits past `count`
// are clear); and for each target module t,
// keys[t * stride + i], the key of the cell where the segment's line crosses
// the module's middle z. `stride` is at least count rounded up to 4.
void fan_cells(const HitColumns& hits, uint32_t first, uint32_t count, const FanOrigin& origin, double max_slope_y,
               std::span<const ReachGrid::ModuleCells* const> targets, uint64_t* y_pass, uint32_t* keys,
               uint32_t stride);

// The first position from `from` (before `end`) whose hit is outside the
// x-window of hit h, or `end`: TargetModule::window's scan, four hits at a
// time, with the same test.
uint32_t inside_run_end(const HitColumns& hits, uint32_t from, uint32_t end, const FanOrigin& h, double max_slope_x);

}  // namespace corvane
