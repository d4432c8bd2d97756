// A conservative filter over the (outer, middle) pairs of a window: for an
// outer hit h1 it names the middle hits whose line from h1 may pass within
// the scatter reach of an inner hit. Every pair that the exact search accepts
// is named; most others are not.
//
// The line through h1 and a middle hit h2 misses an inner hit h3 at h3's z by
// D = (z3 - z1) / (z2 - z1) * (h2 - h1) + h1 - h3. Moved along their lines
// from h1 to one reference plane zr (the inner z nearest to z1), the middle
// hit lands at P = h1 + (zr - z1) / (z2 - z1) * (h2 - h1) and the inner hit at
// Q = h1 + (zr - z1) / (z3 - z1) * (h3 - h1), and P - Q = D * (zr - z1) /
// (z3 - z1), at most |D| in size. So however many z values the layers have,
// one occupancy grid of the Q points per outer hit decides every middle hit
// with one lookup, the grid's cells being at least the reach (widened for
// rounding) wide.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "algorithms/triplet_trie/closest_hit_index.hpp"
#include "event_model/hit.hpp"

namespace corvane {

class ReachingPairs {
public:
    // Sets up the window. Without a usable filter (a bound that is not finite
    // and positive, or coordinates too large for the rounding margins) every
    // middle hit is named for every outer hit; so with a bound of 0.
    void reset(std::span<const Hit> middle, std::span<const Hit> inner, std::span<const Hit> outer, double max_scatter);

    // A middle hit that may pair with h1: its position in the middle list
    // and the cell its point fell in (kAnyCell: not filtered).
    struct Candidate {
        uint32_t position;
        uint32_t cell;
    };
    static constexpr uint32_t kAnyCell = UINT32_MAX;

    // The middle hits that may pair with h1, by increasing position.
    void candidates(const Hit& h1, std::vector<Candidate>& found);

    // For a candidate of the last outer hit with a cell, and the line through
    // them: what ClosestHitIndex::closest finds among the inner hits, looked
    // for among those whose points fell next to that cell (no other one
    // scatters below the bound).
    Closest closest_near(const LineThrough& line, uint32_t cell, double bound) const;

    // Bytes held by the arrays and the grid.
    size_t footprint() const;

private:
    // Hits of one z value (bit for bit), as arrays.
    struct Plane {
        double z;
        uint32_t begin, end;  // in the arrays below
    };
    struct Arrays {
        std::vector<Plane> planes;
        std::vector<double> x, y;
        std::vector<uint32_t> position;
        void assign(std::span<const Hit> hits, std::vector<uint32_t>& loose);
    };
    // Per outer z value: the reference plane and the factors that move middle
    // and inner hits onto it.
    struct Factors {
        uint64_t z_bits;
        bool usable;
        std::vector<double> middle, inner;  // per plane; NaN: plane not filtered
    };

    const Factors& factors_for(double z1);
    void mark(const Hit& h1, const Factors& f);
    void test(const Hit& h1, const Factors& f, std::vector<Candidate>& found);
    void clear_marks();

    bool active_ = false;
    uint32_t middle_count_ = 0;
    Arrays middle_, inner_;
    std::vector<uint32_t> loose_middle_;  // never filtered out
    std::vector<uint32_t> ignored_inner_;
    std::vector<Factors> factors_;
    size_t factors_used_ = 0;
    // The grid: cell (cx, cy) is bit cx + 1 of row cy + 1, one spare cell
    // around it, so the neighbours of any cell are inside.
    double origin_[2] = {0.0, 0.0}, scale_[2] = {0.0, 0.0};  // x, then y
    double last_[2] = {0.0, 0.0};                            // last cell number per axis
    size_t nx_ = 1, ny_ = 1, row_bytes_ = 0;
    std::vector<uint8_t> bits_;
    std::vector<uint32_t> marked_;                                        // byte offsets of the first row each mark set
    std::vector<uint32_t> byte_of_point_, bit_of_point_, cell_of_point_;  // places of one plane's points
    std::vector<uint32_t> inner_cells_;                                   // of every inner point of the last outer hit
    std::span<const Hit> inner_hits_;
};

}  // namespace corvane
