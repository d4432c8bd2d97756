// The hits of each module grouped into strips of y, each strip ascending in
// x and carrying a bit mask of the x cells it occupies, so that the hits near
// a predicted point are found without scanning the module, and most empty
// neighbourhoods are rejected by a mask test alone.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/bit_range.hpp"
#include "event_model/hit.hpp"
#include "event_model/module.hpp"

namespace corvane {

// Only hits with finite x and y are indexed: the others can never lie within
// a finite distance of a point.
class StripIndex {
public:
    // `hits` is the x-sorted hit list; cells are at least `cell_width` wide
    // and strips at least `strip_height` high (both positive).
    StripIndex(std::span<const Hit> hits, std::span<const Module> modules, double cell_width, double strip_height);

    // Visits the position of every indexed hit of `module` with x in
    // [x_low, x_high] and y in [y_low, y_high].
    // False when no indexed hit of `module` can lie in the box (most boxes):
    // one test of the cells it meets, without a branch on the way.
    bool may_hold(size_t module, double x_low, double x_high, double y_low, double y_high) const {
        const ModuleCells& m = modules_[module];
        const uint64_t columns = column_mask(m.x, x_low, x_high);
        const uint32_t first = m.first_strip + m.y.cell(y_low);
        const uint32_t last = m.first_strip + m.y.cell(y_high);
        // A box meets at most two strips unless it is taller than a strip.
        return !m.empty && (last - first > 1 || ((occupied_[first] | occupied_[last]) & columns) != 0);
    }

    template <class Visit>
    void for_each_in_box(size_t module, double x_low, double x_high, double y_low, double y_high, Visit&& visit) const {
        const ModuleCells& m = modules_[module];
        if (m.empty) return;
        const uint64_t columns = column_mask(m.x, x_low, x_high);
        const uint32_t first = m.first_strip + m.y.cell(y_low);
        const uint32_t last = m.first_strip + m.y.cell(y_high);
        // Most boxes meet one or two strips and no occupied cell: settle
        // those with one predictable test.
        if (last - first <= 1 && ((occupied_[first] | occupied_[last]) & columns) == 0) return;
        for (uint32_t s = first; s <= last; ++s) {
            if ((occupied_[s] & columns) == 0) continue;
            const uint32_t end = offsets_[s + 1];
            uint32_t i = offsets_[s];
            if (end - i > kShortScan) i = first_at_least(i, end, x_low);
            for (; i < end && xs_[i] <= x_high; ++i) {
                if ((xs_[i] >= x_low) & (ys_[i] >= y_low) & (ys_[i] <= y_high)) visit(positions_[i]);
            }
        }
    }

private:
    static constexpr uint32_t kCells = 64;  // per axis: one bit per x cell in a strip's mask
    static constexpr uint32_t kShortScan = 8;

    // Equal cells along one axis from `low`; values beyond either end fall in
    // the end cells. Nondecreasing in the value, so a value within [lo, hi]
    // lies in a cell between those of lo and hi.
    struct Axis {
        double low = 0.0;
        double per_cell = 0.0;  // 1 / cell size; 0: a single cell
        uint32_t cells = 1;
        double last = 0.0;  // cells - 1

        Axis() = default;
        Axis(double low, double high, double min_size);
        // Written as two selects (no branch): below the first cell, or NaN,
        // gives the first cell; beyond the last, the last.
        uint32_t cell(double v) const {
            const double c = (v - low) * per_cell;
            const double above_first = c > 0 ? c : 0.0;
            return static_cast<uint32_t>(above_first < last ? above_first : last);
        }
    };

    struct ModuleCells {
        bool empty = true;
        uint32_t first_strip = 0;  // into offsets_ and occupied_
        Axis x;
        Axis y;
    };

    static uint64_t column_mask(const Axis& x, double low, double high) { return bit_range(x.cell(low), x.cell(high)); }

    uint32_t first_at_least(uint32_t begin, uint32_t end, double x) const;
    void add_module(std::span<const Hit> hits, const Module& module, double cell_width, double strip_height);

    std::vector<ModuleCells> modules_;
    std::vector<uint32_t> offsets_;   // strip -> entries [offsets_[s], offsets_[s + 1])
    std::vector<uint64_t> occupied_;  // strip -> x cells holding one of its hits
    std::vector<double> xs_;
    std::vector<double> ys_;
    std::vector<uint32_t> positions_;
};

}  // namespace corvane
