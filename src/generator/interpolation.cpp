#include "generator/interpolation.hpp"

#include <algorithm>
#include <cmath>

#include "core/errors.hpp"

namespace corvane::generator {

std::vector<double> interpolate(std::span<const double> x, std::span<const double> xp, std::span<const double> fp) {
    if (xp.empty() || fp.size() != xp.size()) throw ValueError("interpolate: the table needs points, as many x as y");
    const size_t last = xp.size() - 1;
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
            const size_t j = static_cast<size_t>(std::upper_bound(xp.begin(), xp.end(), v) - xp.begin()) - 1;
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
