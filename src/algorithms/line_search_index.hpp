// Finds the first hit of a module, in stored order, that continues a straight
// line, without testing every hit: the hits are kept sorted by x, a bucket
// table over x finds where a window of x starts, and only the hits whose x
// lies within the tolerance of the predicted x are tested.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "algorithms/line_tests.hpp"

namespace corvane {

class LineSearchIndex {
public:
    explicit LineSearchIndex(std::span<const Hit> hits);

    // The first hit h in stored order with check_tolerance(p, a, b, h), or
    // nullptr; always the same hit as a plain scan would find.
    const Hit* first_continuation(const TrackFollowingParameters& p, const Hit& a, const Hit& b) const;

private:
    struct Entry {
        double x;
        double y;
        uint32_t position;  // in stored order
    };

    size_t bucket_of(double x) const;
    void build_buckets();
    size_t window_start(double low) const;  // the first entry with x >= low
    const Hit* first_in_window(const TrackFollowingParameters& p, const StraightLine& line, double z1, double low,
                               double high) const;
    const Hit* first_at_shared_z(const TrackFollowingParameters& p, const StraightLine& line, double z1,
                                 double low, double high) const;

    std::span<const Hit> hits_;
    std::vector<Entry> by_x_;             // by increasing x, ties in stored order
    std::vector<uint32_t> bucket_start_;  // first entry of each bucket, then by_x_.size()
    size_t last_bucket_ = 0;
    double x_min_ = 0.0;
    double bucket_scale_ = 0.0;  // buckets per unit of x
    double z_min_ = 0.0;
    double z_max_ = 0.0;
    bool indexed_ = false;    // false: every query is a plain scan
    bool shared_z_ = false;   // every hit has the same z, bit for bit
};

}  // namespace corvane
