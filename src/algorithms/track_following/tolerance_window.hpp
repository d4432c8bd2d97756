// The values that may lie within a tolerance of predictions running from
// `lowest` to `highest`. A value passes a strict test |prediction - value| <
// tolerance only if it lies strictly inside the exact interval: the tolerance
// is a double and rounding is monotonic, so a rounded distance below it
// needs an exact distance below it. Rounding is monotonic again, so a double
// strictly above lowest - tolerance is at or above its rounded value: the
// rounded bounds, taken inclusively, hold every value that can pass, and the
// exact test decides.
#pragma once

#include <cmath>

namespace corvane {

struct ToleranceWindow {
    double low;
    double high;

    ToleranceWindow(double lowest, double highest, double tolerance)
        : low(lowest - tolerance), high(highest + tolerance) {}

    bool finite() const { return std::isfinite(low) && std::isfinite(high); }
};

}  // namespace corvane
