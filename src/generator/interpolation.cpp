#include "generator/interpolation.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "core/errors.hpp"

namespace corvane::generator {

namespace {

// Finds the last table point at or below a value: a coarse index over equal steps of x narrows each search
// to a few points, and a range it cannot vouch for (a NaN or unordered table) falls back to the whole table.
class TableSearch {
public:
    explicit TableSearch(std::span<const double> xp) : xp_(xp) {
        const double span = xp.back() - xp.front();
        if (xp.size() < 64 || !(span > 0.0) || !std::isfinite(span)) return;
        step_ = span / static_cast<double>(buckets);
        starts_.resize(buckets + 1);
        for (size_t b = 0; b <= buckets; ++b) {
            const double edge = xp.front() + static_cast<double>(b) * step_;
            starts_[b] = static_cast<size_t>(std::lower_bound(xp.begin(), xp.end(), edge) - xp.begin());
        }
    }

    // The number of table points at or below v (the index after the last one).
    size_t upper_bound(double v) const {
        if (!starts_.empty()) {
            const double position = (v - xp_.front()) / step_;
            if (position >= 0.0 && position < static_cast<double>(buckets)) {
                const size_t b = static_cast<size_t>(position);
                const size_t lo = starts_[b == 0 ? 0 : b - 1];
                const size_t hi = starts_[std::min(b + 2, buckets)];
                if ((lo == 0 || xp_[lo - 1] <= v) && (hi == xp_.size() || xp_[hi] > v)) {
                    return static_cast<size_t>(std::upper_bound(xp_.begin() + static_cast<std::ptrdiff_t>(lo),
                                                                xp_.begin() + static_cast<std::ptrdiff_t>(hi), v) -
                                               xp_.begin());
                }
            }
        }
        return static_cast<size_t>(std::upper_bound(xp_.begin(), xp_.end(), v) - xp_.begin());
    }

private:
    static constexpr size_t buckets = 1024;
    std::span<const double> xp_;
    double step_ = 0.0;
    std::vector<size_t> starts_;
};

}  // namespace

std::vector<double> interpolate(std::span<const double> x, std::span<const double> xp, std::span<const double> fp) {
    if (xp.empty() || fp.size() != xp.size()) throw ValueError("interpolate: the table needs points, as many x as y");
    const size_t last = xp.size() - 1;
    const TableSearch search(xp);
    std::vector<double> out(x.size());
    for (size_t i = 0; i < x.size(); ++i) {
        const double v = x[i];
        if (std::isnan(v)) {
            out[i] = v;
        } else if (v > xp[last]) {
            out[i] = fp[last];
        } else if (v < xp[0]) {
            out[i] = fp[0];
        } else {
            const size_t j = search.upper_bound(v) - 1;
            if (j == last || xp[j] == v) {
                out[i] = fp[j];  // on a table point: its value, never a slope through a zero-width step
                continue;
            }
            const double slope = (fp[j + 1] - fp[j]) / (xp[j + 1] - xp[j]);
            out[i] = slope * (v - xp[j]) + fp[j];
            if (std::isnan(out[i])) {
                // an infinite slope: from the other end, or flat
                out[i] = slope * (v - xp[j + 1]) + fp[j + 1];
                if (std::isnan(out[i]) && fp[j] == fp[j + 1]) out[i] = fp[j];
            }
        }
    }
    return out;
}

}  // namespace corvane::generator
