// Equal-width bins over a range of doubles. Every step of the bin number
// rounds monotonically, so a value at or above another never falls into an
// earlier bin; searches rely on that alone, never on where an edge lies
// exactly. Values outside the range go to the first or the last bin.
#pragma once

#include <cmath>
#include <cstddef>

namespace corvane {

class MonotoneBins {
public:
    MonotoneBins() = default;

    // `count` bins (at least one) over [lowest, highest].
    MonotoneBins(double lowest, double highest, size_t count)
        : origin_(lowest), last_(count - 1), last_value_(static_cast<double>(count - 1)) {
        const double span = highest - lowest;
        scale_ = span > 0.0 ? static_cast<double>(count) / span : 0.0;
        if (!std::isfinite(scale_)) scale_ = 0.0;  // too narrow to divide: everything in bin 0
    }

    size_t of(double value) const {
        const double scaled = (value - origin_) * scale_;
        if (!(scaled > 0.0)) return 0;
        return scaled < last_value_ ? static_cast<size_t>(scaled) : last_;
    }

    size_t count() const { return last_ + 1; }

private:
    double origin_ = 0.0;
    double scale_ = 0.0;  // bins per unit
    size_t last_ = 0;
    double last_value_ = 0.0;
};

}  // namespace corvane
