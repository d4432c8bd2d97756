// For each module, the cells within reach of its hits, for settling with one
// lookup most of the segments that have no successor on that module.
//
// A segment's line can only lead to a hit c of module v when it passes within
// the link tolerance of c at c's z. Over the module's z range the line moves
// by at most its slope times half that range from where it crosses the
// module's middle z, and a segment's slope is bounded by the window and slope
// tests it passed. So every hit marks the cells within that reach (and a
// rounding margin) around it, and a line whose crossing at the middle z falls
// in an unmarked cell has no successor on the module.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "algorithms/graph_dfs/graph_dfs.hpp"
#include "event_model/hit.hpp"
#include "event_model/module.hpp"

namespace corvane {

class ReachGrid {
public:
    // Marks the cells of every module. False when the grid does not apply:
    // a coordinate that is not finite or beyond kLargestCoordinate, or a
    // slope bound or tolerance that is not finite and positive. The margins
    // rest on every coordinate being bounded, so such events are linked
    // without the grid.
    bool build(const GraphDfsParameters& p, std::span<const Hit> hits, std::span<const Module> modules);

    // Where a line is looked up on module v: its crossing at this z.
    double z_middle(size_t v) const { return modules_[v].z_middle; }

    // False when no line crossing module v's middle z at (x, y), with slopes
    // within the bounds, can pass near a hit of v. For lines through two hits
    // of the event (finite, at most the slope bounds; otherwise: true).
    bool may_reach(size_t v, double x, double y) const {
        const ModuleCells& m = modules_[v];
        const uint32_t column = m.x.cell(x);
        const uint32_t row = m.y.cell(y);
        return (bits_[m.first_word + row * m.words_per_row + (column >> 6)] >> (column & 63)) & 1;
    }

    size_t capacity_bytes() const {
        return bits_.capacity() * sizeof(uint64_t) + modules_.capacity() * sizeof(ModuleCells);
    }

    // Coordinates up to this size keep every rounding error far below the
    // margin.
    static constexpr double kLargestCoordinate = 1e12;

private:
    static constexpr uint32_t kMostCells = 256;  // per axis and module

    // Equal cells along one axis from `low`, clamped to [0, last] (NaN gives
    // cell 0). Monotonic in the value.
    struct Axis {
        double low = 0.0;
        double per_cell = 0.0;
        double last = 0.0;

        uint32_t cell(double v) const {
            const double c = (v - low) * per_cell;
            const double above_first = c > 0 ? c : 0.0;
            return static_cast<uint32_t>(above_first < last ? above_first : last);
        }
    };

    struct ModuleCells {
        double z_middle = 0.0;
        Axis x;
        Axis y;
        uint32_t words_per_row = 1;
        uint32_t first_word = 0;
    };

    static Axis axis(double low, double high, double reach, uint32_t& cells);
    void mark(std::span<const Hit> hits, const Module& module, double reach_x, double reach_y);

    std::vector<ModuleCells> modules_;
    std::vector<uint64_t> bits_;
};

}  // namespace corvane
