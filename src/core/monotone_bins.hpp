// Equal-width bins over a range of doubles. Every step of the bin number
// rounds monotonically, so a value at or above another never falls into an
// earlier bin; searches rely on that alone, never on where an edge lies
// exactly. Values outside the range go to the first or the last bin, and so
// does NaN to the first.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "core/select.hpp"

namespace corvane {

// Bin numbers below this are exact as doubles.
inline constexpr size_t kExactBinCount = size_t{1} << 53;

// The bin of a value already measured in bins from the first edge: NaN and
// values at or below 0 go to bin 0, values at or beyond the last bin's number
// to the last bin. `last_value` is `last` as a double (kept by callers that
// bin many values).
inline size_t clamp_to_bin(double scaled, double last_value, size_t last) {
    // Without a branch on the value: bins are looked up in the innermost
    // search loops. Below 2^53 bins, last_value is last exactly, and the
    // clamped value lies in [0, last_value], where the conversion is exact.
    if (last >= kExactBinCount) {
        if (!(scaled > 0.0)) return 0;
        return scaled < last_value ? static_cast<size_t>(scaled) : last;
    }
    const double clamped = lower_of(higher_of(scaled, 0.0), last_value);
    return static_cast<size_t>(static_cast<int64_t>(clamped));
}

inline size_t clamp_to_bin(double scaled, size_t last) { return clamp_to_bin(scaled, static_cast<double>(last), last); }

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

    size_t of(double value) const { return clamp_to_bin((value - origin_) * scale_, last_value_, last_); }

    size_t count() const { return last_ + 1; }

private:
    double origin_ = 0.0;
    double scale_ = 0.0;  // bins per unit
    size_t last_ = 0;
    double last_value_ = 0.0;
};

}  // namespace corvane
