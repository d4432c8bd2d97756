#include "algorithms/track_following/line_search_index.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <tuple>
#include <utility>

#include "algorithms/track_following/tolerance_window.hpp"
#include "core/finite.hpp"
#include "core/packed_lists.hpp"
#include "core/select.hpp"

namespace corvane {
namespace {

// Below this size a scan costs no more than a lookup.
constexpr size_t kSmallestIndexedModule = 12;

// Predictions of one coordinate over the module's z range: every rounded step
// of a prediction is monotonic in z, so the predictions for all the module's
// hits lie between those at its lowest and highest z. A NaN prediction makes
// a bound NaN.
struct PredictionRange {
    double lowest;
    double highest;

    bool finite() const { return std::isfinite(lowest) && std::isfinite(highest); }
};

template <class Predict>
PredictionRange prediction_range(Predict predict, double z_min, double z_max) {
    const double at_low = predict(z_min);
    const double at_high = predict(z_max);
    return {lower_of(at_low, at_high), higher_of(at_high, at_low)};
}

}  // namespace

LineSearchIndex::LineSearchIndex(std::span<const Hit> hits, const TrackFollowingParameters& p) : hits_(hits) {
    if (hits.size() < kSmallestIndexedModule || hits.size() > std::numeric_limits<uint32_t>::max()) return;
    if (!std::all_of(hits.begin(), hits.end(), finite_xyz<Hit>) || !std::isfinite(p.max_tolerance_x)) return;
    const auto [lowest_z, highest_z] =
        std::minmax_element(hits.begin(), hits.end(), [](const Hit& l, const Hit& r) { return l.z < r.z; });
    z_min_ = lowest_z->z;
    z_max_ = highest_z->z;
    shared_z_ = std::all_of(hits.begin(), hits.end(), [&hits](const Hit& hit) {
        return std::bit_cast<uint64_t>(hit.z) == std::bit_cast<uint64_t>(hits.front().z);
    });
    grid_ = OccupancyGrid(hits, p.max_tolerance_x, p.max_tolerance_y);
    sort_by_x();
    indexed_ = true;
}

// A counting sort into the buckets, then an insertion sort of each bucket by
// x. Hits enter their buckets in stored order and the insertion sort is
// stable, so equal x keep stored order.
void LineSearchIndex::sort_by_x() {
    const size_t count = hits_.size();
    const auto [lowest, highest] =
        std::minmax_element(hits_.begin(), hits_.end(), [](const Hit& l, const Hit& r) { return l.x < r.x; });
    buckets_ = MonotoneBins(lowest->x, highest->x, count);
    PackedLists<Entry> by_bucket = PackedLists<Entry>::gather(count, [this](auto&& add) {
        for (size_t position = 0; position < hits_.size(); ++position) {
            const Hit& hit = hits_[position];
            add(buckets_.of(hit.x), Entry{hit.x, hit.y, static_cast<uint32_t>(position)});
        }
    });
    bucket_start_ = std::move(by_bucket.offsets);
    by_x_ = std::move(by_bucket.items);
    for (size_t b = 0; b < count; ++b) {
        for (size_t i = bucket_start_[b] + 1; i < bucket_start_[b + 1]; ++i) {
            const Entry entry = by_x_[i];
            size_t j = i;
            for (; j > bucket_start_[b] && entry.x < by_x_[j - 1].x; --j) by_x_[j] = by_x_[j - 1];
            by_x_[j] = entry;
        }
    }
}

const Hit* LineSearchIndex::first_continuation(const TrackFollowingParameters& p, const StraightLine& line,
                                               double z1) const {
    if (!indexed_) return first_by_scan(p, line, z1);
    if (shared_z_) return first_at_shared_z(p, line, z1);
    const PredictionRange xs = prediction_range([&line](double z) { return line.x_at(z); }, z_min_, z_max_);
    const ToleranceWindow x(xs.lowest, xs.highest, p.max_tolerance_x);
    if (!x.finite()) return first_by_scan(p, line, z1);
    // The hits' y that may pass: unbounded unless the predictions are finite.
    double y_low = -std::numeric_limits<double>::infinity();
    double y_high = std::numeric_limits<double>::infinity();
    const PredictionRange ys = prediction_range([&line](double z) { return line.y_at(z); }, z_min_, z_max_);
    if (ys.finite()) {
        // The grid marks where predictions may pass, so it is asked about the
        // predictions themselves; the tolerances widen only the hits' windows.
        if (!grid_.may_hold(xs.lowest, xs.highest, ys.lowest, ys.highest)) return nullptr;
        const ToleranceWindow y(ys.lowest, ys.highest, p.max_tolerance_y);
        if (y.finite()) std::tie(y_low, y_high) = std::pair(y.low, y.high);
    }
    // The window in x spans the sensor in y: most hits in it are turned away
    // by y before the exact test reads them.
    size_t first = hits_.size();
    for (size_t i = window_start(x.low); i < by_x_.size() && by_x_[i].x <= x.high; ++i) {
        const Entry& entry = by_x_[i];
        // One branch for the three tests: which of them fails follows no pattern.
        if (!((entry.y >= y_low) & (entry.y <= y_high) & (entry.position < first))) continue;
        if (continues(p, line, z1, hits_[entry.position])) first = entry.position;
    }
    return first < hits_.size() ? &hits_[first] : nullptr;
}

const Hit* LineSearchIndex::first_by_scan(const TrackFollowingParameters& p, const StraightLine& line,
                                          double z1) const {
    for (const Hit& hit : hits_) {
        if (continues(p, line, z1, hit)) return &hit;
    }
    return nullptr;
}

size_t LineSearchIndex::window_start(double low) const {
    size_t i = bucket_start_[buckets_.of(low)];
    while (i < by_x_.size() && by_x_[i].x < low) ++i;
    return i;
}

// All hits share one z, so the prediction and the distance in z are the same
// for every candidate and only the comparisons remain per hit.
const Hit* LineSearchIndex::first_at_shared_z(const TrackFollowingParameters& p, const StraightLine& line,
                                              double z1) const {
    const double z = z_min_;
    const double dz = z - z1;
    if (dz == 0.0) return nullptr;
    const double x_pred = line.x_at(z);
    const double y_pred = line.y_at(z);
    // No hit lies within a finite tolerance of an infinite or undefined
    // prediction in x; in y, the grid and the exact test turn it away.
    if (!std::isfinite(x_pred)) return nullptr;
    if (!grid_.may_hold(x_pred, x_pred, y_pred, y_pred)) return nullptr;
    const ToleranceWindow x(x_pred, x_pred, p.max_tolerance_x);
    if (!x.finite()) return first_by_scan(p, line, z1);
    size_t first = hits_.size();
    for (size_t i = window_start(x.low); i < by_x_.size() && by_x_[i].x <= x.high; ++i) {
        const Entry& entry = by_x_[i];
        if (entry.position < first &&
            within_tolerance(p, std::fabs(x_pred - entry.x), std::fabs(y_pred - entry.y), dz)) {
            first = entry.position;
        }
    }
    return first < hits_.size() ? &hits_[first] : nullptr;
}

}  // namespace corvane
