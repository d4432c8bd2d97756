// The values that may lie within a tolerance of predictions running from
// `lowest` to `highest`. A value passes a strict test |prediction - value| <
// tolerance only if it lies strictly inside the exact interval (the tolerance
// is a double and rounding is monotonic); the computed bounds are widened to
// cover their own rounding, so the window can only hold more values, never
// fewer, and the exact test decides.
#pragma once

#include <algorithm>
#include <cmath>

namespace corvane {

struct ToleranceWindow {
    double low;
    double high;

    // Each bound is one rounded subtraction or addition of values at most
    // `reach` in size, so its error is below reach * 2^-53; 2^-50 leaves room
    // for rounding the widening itself, and the smallest normal number covers
    // values so small that their rounding error is absolute.
    ToleranceWindow(double lowest, double highest, double tolerance) {
        const double reach = std::max(std::fabs(lowest), std::fabs(highest)) + std::fabs(tolerance);
        const double margin = reach * 0x1p-50 + 0x1p-1022;
        low = (lowest - tolerance) - margin;
        high = (highest + tolerance) + margin;
    }

    bool finite() const { return std::isfinite(low) && std::isfinite(high); }
};

}  // namespace corvane
