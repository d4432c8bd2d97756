// Whether a point's coordinates are finite. A point with an infinite or NaN
// coordinate lies within no finite distance of anything, so the spatial
// indexes leave it out and let the exact tests decide.
#pragma once

#include <cmath>

namespace corvane {

template <class Point>
bool finite_xy(const Point& p) {
    return std::isfinite(p.x) && std::isfinite(p.y);
}

template <class Point>
bool finite_xyz(const Point& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

}  // namespace corvane
