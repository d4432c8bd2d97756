// Finds the first hit of a module, in stored order, that continues a straight
// line, without testing every hit: an occupancy grid turns away most
// predictions at once; otherwise a bucket table over the hits sorted by x
// finds where the window of x starts, and only the hits inside it are tested.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "algorithms/track_following/line_geometry.hpp"
#include "algorithms/track_following/occupancy_grid.hpp"
#include "core/monotone_bins.hpp"

namespace corvane {

class LineSearchIndex {
public:
    // Searches answer for the tolerances of `p` only.
    LineSearchIndex(std::span<const Hit> hits, const TrackFollowingParameters& p);

    // The first hit h in stored order that continues `line`, whose second
    // hit lies at z1 (check_tolerance(p, a, b, h) for the line through a and
    // b), or nullptr; always the same hit as a plain scan would find.
    const Hit* first_continuation(const TrackFollowingParameters& p, const StraightLine& line, double z1) const;

private:
    struct Entry {
        double x;
        double y;
        uint32_t position;  // in stored order
    };

    void sort_by_x();
    size_t window_start(double low) const;  // the first entry with x >= low
    const Hit* first_by_scan(const TrackFollowingParameters& p, const StraightLine& line, double z1) const;
    const Hit* first_in_window(const TrackFollowingParameters& p, const StraightLine& line, double z1, double low,
                               double high) const;
    const Hit* first_at_shared_z(const TrackFollowingParameters& p, const StraightLine& line, double z1) const;

    std::span<const Hit> hits_;
    std::vector<Entry> by_x_;             // by increasing x, ties in stored order
    MonotoneBins buckets_;                // over x, one per hit
    std::vector<uint32_t> bucket_start_;  // first entry of each bucket, then by_x_.size()
    OccupancyGrid grid_;
    double z_min_ = 0.0;
    double z_max_ = 0.0;
    bool indexed_ = false;   // false: every query is a plain scan (also for a tolerance in x that is not finite)
    bool shared_z_ = false;  // every hit has the same z, bit for bit
};

}  // namespace corvane
