// Finds the hit of a list that lies closest to a straight line, closeness
// being the triplet scatter. A plain scan tests every hit in stored order; the
// index groups the hits by exact z (so the line's point is the same for the
// whole group) and buckets each group in x and y, then tests only the hits
// whose scatter can still beat the best so far. Both return the same hit.
#pragma once

#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "core/monotone_bins.hpp"
#include "event_model/hit.hpp"

namespace corvane {

// The line through `base` with slopes (sx, sy) per unit of z.
struct LineThrough {
    const Hit* base;
    double sx;
    double sy;
};

// The line through p and q. A zero difference in z gives NaN or infinite
// slopes, and then no hit ever scatters below a bound.
inline LineThrough line_through(const Hit& p, const Hit& q) {
    const double r = 1.0 / (q.z - p.z);
    return {&p, (q.x - p.x) * r, (q.y - p.y) * r};
}

// Squared x-y distance between h and the line at h's z. The order of the
// operations is fixed: the results must be reproducible bit for bit.
inline double scatter(const LineThrough& line, const Hit& h) {
    const Hit& p = *line.base;
    const double dz = h.z - p.z;
    const double dx = dz * line.sx + p.x - h.x;
    const double dy = dz * line.sy + p.y - h.y;
    return dx * dx + dy * dy;
}

// floor(t) within [0, count - 1]; 0 for NaN. Monotonic in t.
inline uint32_t clamped_cell(double t, uint32_t count) {
    return static_cast<uint32_t>(clamp_to_bin(t, count - 1.0, count - 1));
}

struct Closest {
    static constexpr uint32_t none = UINT32_MAX;
    uint32_t position = none;  // in the indexed list
    double scatter = 0.0;
    bool found() const { return position != none; }
};

class ClosestHitIndex {
public:
    // Not indexed: every query scans. Small lists and lists with many distinct
    // z values are scanned anyway, and so is every query with a bound that is
    // not finite.
    // Queries with a bound up to `usual_bound` are the cheapest.
    ClosestHitIndex(std::span<const Hit> hits, bool indexed, double usual_bound);

    std::span<const Hit> hits() const { return hits_; }

    // The hit with the smallest scatter strictly below `bound`, the earliest
    // in stored order among equals; hits for which skip(hit) holds are passed
    // over. A NaN scatter never wins.
    template <class Skip>
    Closest closest(const LineThrough& line, double bound, Skip&& skip) const {
        if (!indexed_ || !std::isfinite(bound)) return scan(line, bound, skip);
        Closest best{Closest::none, bound};
        if (!(bound > 0.0)) return best;  // scatters are never negative
        double reach = bound == usual_bound_ ? usual_reach_ : reach_for(bound);
        const Hit& p = *line.base;
        for (const ZGroup& group : groups_) {
            const double dz = group.z - p.z;
            const double px = dz * line.sx + p.x;
            const double py = dz * line.sy + p.y;
            // A non-finite point scatters every finite hit to inf or NaN.
            if (!std::isfinite(px) || !std::isfinite(py)) continue;
            if (reach <= usual_reach_ && !is_near(group, px, py)) continue;

            const CellRange cells = cells_near(group, px, py, reach);
            for (uint32_t cy = cells.y0; cy <= cells.y1 && !cells.empty; ++cy) {
                const uint32_t row = group.first_cell + cy * group.nx;
                for (uint32_t i = cell_starts_[row + cells.x0]; i < cell_starts_[row + cells.x1 + 1]; ++i) {
                    const Entry& e = entries_[i];
                    if (skip(hits_[e.position])) continue;
                    const double dx = px - e.x;
                    const double dy = py - e.y;
                    const double s = dx * dx + dy * dy;
                    if (s < best.scatter || (best.found() && s == best.scatter && e.position < best.position)) {
                        best = {e.position, s};
                        reach = reach_for(s);
                    }
                }
            }
        }
        return best;
    }

    // A distance r with r * r > bound as rounded: any hit farther than r in x
    // or in y (as computed) scatters above the bound.
    static double reach_for(double bound);

private:
    struct Entry {
        double x;
        double y;
        uint32_t position;
    };
    // The finite hits sharing one z value (bit for bit), on an nx-by-ny grid.
    struct ZGroup {
        double z = 0.0;
        double x0 = 0.0, x1 = 0.0, y0 = 0.0, y1 = 0.0;
        double x_scale = 0.0, y_scale = 0.0;  // cells per unit length
        uint32_t nx = 1, ny = 1;
        uint32_t first_cell = 0;  // of this group's cells in cell_starts_
        // A finer grid of flags: set where a hit lies in the cell or one of
        // its eight neighbours. Its cells are wider than the usual reach.
        double near_x_scale = 0.0, near_y_scale = 0.0;
        uint32_t near_nx = 1, near_ny = 1;
        size_t first_near = 0;  // of this group's flags in near_
    };
    struct CellRange {
        uint32_t x0, x1, y0, y1;
        bool empty;
    };

    template <class Skip>
    Closest scan(const LineThrough& line, double bound, Skip&& skip) const {
        Closest best{Closest::none, bound};
        for (uint32_t i = 0; i < hits_.size(); ++i) {
            if (skip(hits_[i])) continue;
            const double s = scatter(line, hits_[i]);
            if (s < best.scatter) best = {i, s};
        }
        return best;
    }

    bool is_near(const ZGroup& group, double px, double py) const {
        return is_near_cell(group, (px - group.x0) * group.near_x_scale, (py - group.y0) * group.near_y_scale);
    }
    bool is_near_cell(const ZGroup& group, double tx, double ty) const {
        const bool inside = (tx > -1.0) & (tx < group.near_nx + 1.0) & (ty > -1.0) & (ty < group.near_ny + 1.0);
        const size_t cell = size_t{clamped_cell(ty, group.near_ny)} * group.near_nx + clamped_cell(tx, group.near_nx);
        const size_t flag = group.first_near + cell;
        return inside & ((near_[flag / 64] >> (flag % 64)) & 1);
    }
    void add_near_flags(ZGroup& group, std::span<const uint32_t> positions);

    CellRange cells_near(const ZGroup& group, double px, double py, double reach) const;
    void add_group(std::span<const uint32_t> positions, double z);

    std::span<const Hit> hits_;
    std::vector<ZGroup> groups_;
    std::vector<uint32_t> cell_starts_;  // per group: nx * ny + 1 offsets into entries_
    std::vector<Entry> entries_;
    std::vector<uint64_t> near_;  // bits
    size_t near_flag_count_ = 0;
    double usual_bound_ = 0.0;
    double usual_reach_ = 0.0;  // 0: no flags
    bool indexed_ = false;
};

}  // namespace corvane
