#include "algorithms/line_search_index.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace corvane {
namespace {

// Below this size a scan costs no more than a lookup.
constexpr size_t kSmallestIndexedModule = 12;

bool finite(const Hit& hit) { return std::isfinite(hit.x) && std::isfinite(hit.y) && std::isfinite(hit.z); }

double below(double value) {
    const double lower = std::nextafter(value, -std::numeric_limits<double>::infinity());
    return std::nextafter(lower, -std::numeric_limits<double>::infinity());
}

double above(double value) {
    const double upper = std::nextafter(value, std::numeric_limits<double>::infinity());
    return std::nextafter(upper, std::numeric_limits<double>::infinity());
}

}  // namespace

LineSearchIndex::LineSearchIndex(std::span<const Hit> hits) : hits_(hits) {
    if (hits.size() < kSmallestIndexedModule || hits.size() > std::numeric_limits<uint32_t>::max()) return;
    if (!std::all_of(hits.begin(), hits.end(), finite)) return;
    positions_.resize(hits.size());
    std::iota(positions_.begin(), positions_.end(), uint32_t{0});
    std::sort(positions_.begin(), positions_.end(), [&hits](uint32_t l, uint32_t r) {
        return hits[l].x < hits[r].x || (hits[l].x == hits[r].x && l < r);
    });
    sorted_x_.reserve(hits.size());
    for (uint32_t position : positions_) sorted_x_.push_back(hits[position].x);
    const auto [lowest, highest] =
        std::minmax_element(hits.begin(), hits.end(), [](const Hit& l, const Hit& r) { return l.z < r.z; });
    z_min_ = lowest->z;
    z_max_ = highest->z;
    indexed_ = true;
}

const Hit* LineSearchIndex::first_continuation(const TrackFollowingParameters& p, const Hit& a,
                                               const Hit& b) const {
    if (!indexed_ || !finite(a) || !finite(b) || !std::isfinite(p.max_tolerance_x)) return first_continuation_by_scan(p, hits_, a, b);
    if (b.z - a.z == 0.0) return nullptr;  // no hit can pass
    // The predicted x, computed as the test computes it. Every rounded step is
    // monotonic in the hit's z, so predictions for the module's hits lie
    // between those at its lowest and highest z.
    const double r = 1.0 / (b.z - a.z);
    const double tx = r * (b.x - a.x);
    const double at_low = (z_min_ - a.z) * tx + a.x;
    const double at_high = (z_max_ - a.z) * tx + a.x;
    // A passing hit has |x_pred - x| < tolerance in exact arithmetic too (the
    // tolerance is a double, and rounding is monotonic); two steps of one ulp
    // make the rounded bounds conservative.
    const double low = below(std::min(at_low, at_high) - p.max_tolerance_x);
    const double high = above(std::max(at_low, at_high) + p.max_tolerance_x);
    if (!std::isfinite(low) || !std::isfinite(high)) return first_continuation_by_scan(p, hits_, a, b);

    size_t first = hits_.size();
    const auto begin = std::lower_bound(sorted_x_.begin(), sorted_x_.end(), low);
    for (auto it = begin; it != sorted_x_.end() && *it <= high; ++it) {
        const size_t position = positions_[static_cast<size_t>(it - sorted_x_.begin())];
        if (position < first && check_tolerance(p, a, b, hits_[position])) first = position;
    }
    return first < hits_.size() ? &hits_[first] : nullptr;
}

}  // namespace corvane
