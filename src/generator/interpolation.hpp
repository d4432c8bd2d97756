// Piecewise-linear interpolation in a table, value for value as the array
// library's interpolation computes it (the generator draws pseudorapidities
// through a tabulated inverse cumulative distribution).
#pragma once

#include <span>
#include <vector>

namespace corvane::generator {

// For each x: fp at the last table point xp[j] <= x, moved along the slope to the next point; fp's first
// value left of the table, its last value right of it, NaN for NaN. `xp` must be ascending.
std::vector<double> interpolate(std::span<const double> x, std::span<const double> xp, std::span<const double> fp);

}  // namespace corvane::generator
