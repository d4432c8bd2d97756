#include "algorithms/line_search_index.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "algorithms/track_following.hpp"

namespace corvane {
namespace {

// Below this size a scan costs no more than a lookup.
constexpr size_t kSmallestIndexedModule = 12;

bool finite(const Hit& hit) { return std::isfinite(hit.x) && std::isfinite(hit.y) && std::isfinite(hit.z); }

// A widening that covers the rounding of the window bounds: each bound is
// one rounded subtraction or addition of values at most `reach` in size, so
// its error is below reach * 2^-53; 2^-50 leaves room for rounding the
// widening itself, and the smallest normal number covers values so small
// that their rounding error is absolute.
double rounding_margin(double reach) { return reach * 0x1p-50 + 0x1p-1022; }

}  // namespace

LineSearchIndex::LineSearchIndex(std::span<const Hit> hits) : hits_(hits) {
    if (hits.size() < kSmallestIndexedModule || hits.size() > std::numeric_limits<uint32_t>::max()) return;
    if (!std::all_of(hits.begin(), hits.end(), finite)) return;
    const auto [lowest_x, highest_x] =
        std::minmax_element(hits.begin(), hits.end(), [](const Hit& l, const Hit& r) { return l.x < r.x; });
    const auto [lowest_z, highest_z] =
        std::minmax_element(hits.begin(), hits.end(), [](const Hit& l, const Hit& r) { return l.z < r.z; });
    x_min_ = lowest_x->x;
    const double span = highest_x->x - x_min_;
    bucket_scale_ = span > 0.0 ? static_cast<double>(hits.size()) / span : 0.0;
    if (!std::isfinite(bucket_scale_)) bucket_scale_ = 0.0;  // one bucket for a span too narrow to divide
    z_min_ = lowest_z->z;
    z_max_ = highest_z->z;
    shared_z_ = std::all_of(hits.begin(), hits.end(), [&hits](const Hit& hit) {
        return std::bit_cast<uint64_t>(hit.z) == std::bit_cast<uint64_t>(hits.front().z);
    });
    build_buckets();
    indexed_ = true;
}

// Monotonic in x (every step rounds monotonically), which is all the lookup
// relies on: a hit at or above x is never in an earlier bucket than x.
size_t LineSearchIndex::bucket_of(double x) const {
    const double scaled = (x - x_min_) * bucket_scale_;
    if (!(scaled > 0.0)) return 0;
    return scaled < static_cast<double>(last_bucket_) ? static_cast<size_t>(scaled) : last_bucket_;
}

// A counting sort into the buckets, then an insertion sort of each bucket by
// x. Hits enter their buckets in stored order and the insertion sort is
// stable, so equal x keep stored order.
void LineSearchIndex::build_buckets() {
    const size_t count = hits_.size();
    last_bucket_ = count - 1;
    bucket_start_.assign(count + 1, 0);
    for (const Hit& hit : hits_) ++bucket_start_[bucket_of(hit.x) + 1];
    for (size_t b = 1; b <= count; ++b) bucket_start_[b] += bucket_start_[b - 1];
    std::vector<uint32_t> next(bucket_start_.begin(), bucket_start_.end() - 1);
    by_x_.resize(count);
    for (size_t position = 0; position < count; ++position) {
        const Hit& hit = hits_[position];
        by_x_[next[bucket_of(hit.x)]++] = Entry{hit.x, hit.y, static_cast<uint32_t>(position)};
    }
    for (size_t b = 0; b < count; ++b) {
        for (size_t i = bucket_start_[b] + 1; i < bucket_start_[b + 1]; ++i) {
            const Entry entry = by_x_[i];
            size_t j = i;
            for (; j > bucket_start_[b] && entry.x < by_x_[j - 1].x; --j) by_x_[j] = by_x_[j - 1];
            by_x_[j] = entry;
        }
    }
}

const Hit* LineSearchIndex::first_continuation(const TrackFollowingParameters& p, const Hit& a,
                                               const Hit& b) const {
    if (!indexed_ || !std::isfinite(p.max_tolerance_x)) return first_continuation_by_scan(p, hits_, a, b);
    if (b.z - a.z == 0.0) return nullptr;  // no hit can pass
    // Every rounded step of a prediction is monotonic in the hit's z, so the
    // predictions for the module's hits lie between those at its lowest and
    // highest z. A passing hit has |x_pred - x| < tolerance in exact
    // arithmetic too (the tolerance is a double and rounding is monotonic),
    // so a window widened by the rounding of its bounds holds every hit that
    // can pass; the exact test decides.
    const StraightLine line(a, b);
    const double at_low = line.x_at(z_min_);
    const double at_high = line.x_at(z_max_);
    if (!std::isfinite(at_low) || !std::isfinite(at_high)) return first_continuation_by_scan(p, hits_, a, b);
    const double lowest = std::min(at_low, at_high);
    const double highest = std::max(at_low, at_high);
    const double tolerance = p.max_tolerance_x;
    const double margin = rounding_margin(std::max(std::fabs(lowest), std::fabs(highest)) + std::fabs(tolerance));
    const double low = (lowest - tolerance) - margin;
    const double high = (highest + tolerance) + margin;
    if (!std::isfinite(low) || !std::isfinite(high)) return first_continuation_by_scan(p, hits_, a, b);
    return shared_z_ ? first_at_shared_z(p, line, b.z, low, high) : first_in_window(p, line, b.z, low, high);
}

size_t LineSearchIndex::window_start(double low) const {
    size_t i = bucket_start_[bucket_of(low)];
    while (i < by_x_.size() && by_x_[i].x < low) ++i;
    return i;
}

const Hit* LineSearchIndex::first_in_window(const TrackFollowingParameters& p, const StraightLine& line, double z1,
                                            double low, double high) const {
    size_t first = hits_.size();
    for (size_t i = window_start(low); i < by_x_.size() && by_x_[i].x <= high; ++i) {
        const size_t position = by_x_[i].position;
        if (position < first && continues(p, line, z1, hits_[position])) first = position;
    }
    return first < hits_.size() ? &hits_[first] : nullptr;
}

// All hits share one z, so the prediction and the distance in z are the same
// for every candidate and only the comparisons remain per hit.
const Hit* LineSearchIndex::first_at_shared_z(const TrackFollowingParameters& p, const StraightLine& line,
                                              double z1, double low, double high) const {
    const double z = z_min_;
    const double dz = z - z1;
    if (dz == 0.0) return nullptr;
    const double x_pred = line.x_at(z);
    const double y_pred = line.y_at(z);
    size_t first = hits_.size();
    for (size_t i = window_start(low); i < by_x_.size() && by_x_[i].x <= high; ++i) {
        const Entry& entry = by_x_[i];
        if (entry.position < first &&
            within_tolerance(p, std::fabs(x_pred - entry.x), std::fabs(y_pred - entry.y), dz)) {
            first = entry.position;
        }
    }
    return first < hits_.size() ? &hits_[first] : nullptr;
}

}  // namespace corvane
