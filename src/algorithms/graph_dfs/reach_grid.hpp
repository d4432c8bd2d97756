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

    // One module's cells: cell (column, row) is bit number
    // first_bit + row * bits_per_row + column of the grid (its key).
    struct ModuleCells {
        double z_middle = 0.0;  // where a line is looked up: its crossing at this z
        Axis x;
        Axis y;
        uint32_t first_bit = 0;
        uint32_t bits_per_row = 64;
    };

    const ModuleCells& cells(size_t v) const { return modules_[v]; }

    // Whether the cell is marked. A line (through two hits of the event,
    // both slopes within their bounds) that crosses module v's middle z in an
    // unmarked cell of v passes near no hit of v.
    bool marked(uint32_t key) const { return marks().marked(key); }

    // The marks alone, for loops that would otherwise reload the grid's
    // storage on every lookup.
    struct Marks {
        const uint64_t* bits;
        bool marked(uint32_t key) const { return (bits[key >> 6] >> (key & 63)) & 1; }
    };
    Marks marks() const { return {bits_.data()}; }

    // The key of the cell holding (x, y) on module v.
    uint32_t key(size_t v, double x, double y) const {
        const ModuleCells& m = modules_[v];
        return m.first_bit + m.y.cell(y) * m.bits_per_row + m.x.cell(x);
    }

    size_t capacity_bytes() const {
        return bits_.capacity() * sizeof(uint64_t) + modules_.capacity() * sizeof(ModuleCells);
    }

    // Coordinates up to this size keep every rounding error far below the
    // margin.
    static constexpr double kLargestCoordinate = 1e12;

private:
    static constexpr uint32_t kMostCells = 256;  // per axis and module

    static Axis axis(double low, double high, double reach, uint32_t& cells);
    void mark(std::span<const Hit> hits, const Module& module, double reach_x, double reach_y);

    std::vector<ModuleCells> modules_;
    std::vector<uint64_t> bits_;
};

}  // namespace corvane
