#include "algorithms/occupancy_grid.hpp"

#include <algorithm>

namespace corvane {

OccupancyGrid::OccupancyGrid(std::span<const Hit> hits) {
    if (hits.empty()) return;
    const auto [lowest_x, highest_x] =
        std::minmax_element(hits.begin(), hits.end(), [](const Hit& l, const Hit& r) { return l.x < r.x; });
    const auto [lowest_y, highest_y] =
        std::minmax_element(hits.begin(), hits.end(), [](const Hit& l, const Hit& r) { return l.y < r.y; });
    columns_ = MonotoneBins(lowest_x->x, highest_x->x, kSide);
    rows_ = MonotoneBins(lowest_y->y, highest_y->y, kSide);
    for (const Hit& hit : hits) occupied_[rows_.of(hit.y)] |= uint64_t{1} << columns_.of(hit.x);
}

}  // namespace corvane
