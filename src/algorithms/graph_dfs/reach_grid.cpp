#include "algorithms/graph_dfs/reach_grid.hpp"

#include <algorithm>
#include <cmath>

#include "core/bit_range.hpp"

namespace corvane {

// Cells a third of the reach wide (wider when there would be more than
// kMostCells), from one cell below the lowest reach (low - reach) to one
// empty cell above the highest (high + reach), so that a value beyond either
// clamps into a cell that holds no mark (or at most the marks of the lowest
// hits, after rounding).
ReachGrid::Axis ReachGrid::axis(double low, double high, double reach, uint32_t& cells) {
    const double width = std::max(reach / 3, (high - low + 2 * reach) / (kMostCells - 3));
    Axis a;
    a.low = low - reach - width;
    a.per_cell = 1 / width;
    const auto highest = static_cast<uint32_t>((high + reach - a.low) * a.per_cell);
    cells = highest + 2;
    a.last = static_cast<double>(highest + 1);
    return a;
}

bool ReachGrid::build(const GraphDfsParameters& p, std::span<const Hit> hits, std::span<const Module> modules) {
    modules_.clear();
    bits_.clear();
    auto usable = [](double v) { return std::isfinite(v) && v > 0; };
    if (!usable(p.max_slope_x) || !usable(p.max_slope_y) || !usable(p.max_tolerance_x) || !usable(p.max_tolerance_y)) {
        return false;
    }
    auto bounded = [](double v) { return std::abs(v) <= kLargestCoordinate; };  // false for NaN
    double largest_xy = 0.0, largest_z = 0.0;
    for (const Hit& h : hits) {
        if (!bounded(h.x) || !bounded(h.y) || !bounded(h.z)) return false;
        largest_xy = std::max({largest_xy, std::abs(h.x), std::abs(h.y)});
        largest_z = std::max(largest_z, std::abs(h.z));
    }
    // A segment's slope passed the window (x) and slope (y) tests: it is
    // within the bounds up to the rounding of those tests and of its own
    // division.
    const double slope_x = p.max_slope_x * (1 + 0x1p-40);
    const double slope_y = p.max_slope_y * (1 + 0x1p-40);
    // Every rounding in a line's crossing, in the link test's offsets and in
    // the marks is far below this.
    const double margin =
        (std::max(slope_x, slope_y) * 4 * largest_z + 4 * largest_xy + std::max(p.max_tolerance_x, p.max_tolerance_y)) *
        0x1p-40;
    if (!std::isfinite(margin)) return false;

    modules_.reserve(modules.size());
    for (const Module& module : modules) {
        const auto begin = hits.begin() + static_cast<ptrdiff_t>(module.hit_start_index);
        const auto end = hits.begin() + static_cast<ptrdiff_t>(module.hit_end_index);
        ModuleCells m;
        m.first_bit = static_cast<uint32_t>(64 * bits_.size());
        if (begin == end) {  // one empty cell
            modules_.push_back(m);
            bits_.push_back(0);
            continue;
        }
        double x_low = INFINITY, x_high = -INFINITY, y_low = INFINITY, y_high = -INFINITY, z_low = INFINITY,
               z_high = -INFINITY;
        for (auto h = begin; h != end; ++h) {
            x_low = std::min(x_low, h->x);
            x_high = std::max(x_high, h->x);
            y_low = std::min(y_low, h->y);
            y_high = std::max(y_high, h->y);
            z_low = std::min(z_low, h->z);
            z_high = std::max(z_high, h->z);
        }
        m.z_middle = z_low + (z_high - z_low) * 0.5;
        const double half_depth = std::max(z_high - m.z_middle, m.z_middle - z_low);
        const double reach_x = p.max_tolerance_x + slope_x * half_depth + margin;
        const double reach_y = p.max_tolerance_y + slope_y * half_depth + margin;
        if (!std::isfinite(reach_x) || !std::isfinite(reach_y)) return false;
        uint32_t columns = 0, rows = 0;
        m.x = axis(x_low, x_high, reach_x, columns);
        m.y = axis(y_low, y_high, reach_y, rows);
        m.bits_per_row = (columns + 63) / 64 * 64;
        modules_.push_back(m);
        bits_.resize(bits_.size() + size_t{m.bits_per_row / 64} * rows, 0);
        // Keys are 32-bit.
        if (bits_.size() > (uint64_t{1} << 32) / 64) return false;
        mark(hits, module, reach_x, reach_y);
    }
    return true;
}

// Every cell that a point within reach of a hit can fall in: the cell
// numbers are monotonic, so those between the cells of the reach's ends.
void ReachGrid::mark(std::span<const Hit> hits, const Module& module, double reach_x, double reach_y) {
    const ModuleCells& m = modules_.back();
    for (size_t i = module.hit_start_index; i < module.hit_end_index; ++i) {
        const Hit& h = hits[i];
        const uint32_t first_column = m.x.cell(h.x - reach_x), last_column = m.x.cell(h.x + reach_x);
        const uint32_t first_row = m.y.cell(h.y - reach_y), last_row = m.y.cell(h.y + reach_y);
        for (uint32_t row = first_row; row <= last_row; ++row) {
            // Rows start at whole words.
            uint64_t* const words = bits_.data() + (m.first_bit + row * m.bits_per_row) / 64;
            const uint32_t first_word = first_column / 64, last_word = last_column / 64;
            for (uint32_t w = first_word; w <= last_word; ++w) {
                words[w] |= bit_range(w == first_word ? first_column % 64 : 0, w == last_word ? last_column % 64 : 63);
            }
        }
    }
}

}  // namespace corvane
