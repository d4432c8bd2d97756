#include "algorithms/triplet_trie/closest_hit_index.hpp"

#include <algorithm>
#include <bit>
#include <limits>

#include "core/finite.hpp"
#include "core/packed_lists.hpp"

namespace corvane {
namespace {

// Below this size a scan costs no more than a lookup.
constexpr size_t kSmallestIndexedList = 8;

// Flags per axis at most (a tiny reach would ask for more).
constexpr double kFinestNearGrid = 512.0;

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// More than the rounding error of centre -/+ reach and of the slack's own
// subtraction (each at most 2^-53 of the magnitudes), so the rounded bounds
// enclose the exact ones; the last term covers subnormal results.
double slack(double centre, double reach) { return (std::fabs(centre) + reach) * 0x1p-50 + 0x1p-1000; }

// Monotonic in value, so a hit between two bounds lies in a cell between
// theirs.
uint32_t cell_of(double value, double origin, double scale, uint32_t count) {
    return clamped_cell((value - origin) * scale, count);
}

uint32_t cells_along(double extent, double other, size_t hits) {
    // About one hit per cell, the cells roughly square.
    const double ratio = other > 0.0 && extent > 0.0 ? extent / other : 1.0;
    const double wanted = std::ceil(std::sqrt(static_cast<double>(hits) * std::clamp(ratio, 1e-3, 1e3)));
    return static_cast<uint32_t>(std::clamp(wanted, 1.0, 4096.0));
}

}  // namespace

ClosestHitIndex::ClosestHitIndex(std::span<const Hit> hits, bool indexed, double usual_bound) : hits_(hits) {
    if (!indexed || hits.size() < kSmallestIndexedList || hits.size() >= Closest::none) return;
    if (std::isfinite(usual_bound) && usual_bound > 0.0) {
        usual_bound_ = usual_bound;
        usual_reach_ = reach_for(usual_bound);
    }
    // Hits with a non-finite coordinate scatter to inf or NaN against any
    // line, so they never beat a finite bound: they are left out.
    std::vector<uint32_t> positions;
    positions.reserve(hits.size());
    for (uint32_t i = 0; i < hits.size(); ++i) {
        if (finite_xyz(hits[i])) positions.push_back(i);
    }
    const auto z_bits = [&hits](uint32_t i) { return std::bit_cast<uint64_t>(hits[i].z); };
    std::stable_sort(positions.begin(), positions.end(),
                     [&z_bits](uint32_t l, uint32_t r) { return z_bits(l) < z_bits(r); });
    size_t group_count = 0;
    for (size_t i = 0; i < positions.size(); ++i) {
        group_count += i == 0 || z_bits(positions[i]) != z_bits(positions[i - 1]);
    }
    if (group_count > std::max<size_t>(4, hits.size() / 4)) return;  // hardly a group to share a point
    entries_.reserve(positions.size());
    for (size_t begin = 0; begin < positions.size();) {
        size_t end = begin + 1;
        while (end < positions.size() && z_bits(positions[end]) == z_bits(positions[begin])) ++end;
        add_group(std::span(positions).subspan(begin, end - begin), hits[positions[begin]].z);
        begin = end;
    }
    indexed_ = true;
}

void ClosestHitIndex::add_group(std::span<const uint32_t> positions, double z) {
    ZGroup group{.z = z, .x0 = kInfinity, .x1 = -kInfinity, .y0 = kInfinity, .y1 = -kInfinity};
    for (uint32_t i : positions) {
        group.x0 = std::min(group.x0, hits_[i].x);
        group.x1 = std::max(group.x1, hits_[i].x);
        group.y0 = std::min(group.y0, hits_[i].y);
        group.y1 = std::max(group.y1, hits_[i].y);
    }
    const double width = group.x1 - group.x0;
    const double height = group.y1 - group.y0;
    group.nx = cells_along(width, height, positions.size());
    group.ny = cells_along(height, width, positions.size());
    group.x_scale = width > 0.0 ? group.nx / width : 0.0;
    group.y_scale = height > 0.0 ? group.ny / height : 0.0;
    group.first_cell = static_cast<uint32_t>(cell_starts_.size());

    // Each cell's entries in stored order (`positions` is increasing).
    const size_t cell_count = size_t{group.nx} * group.ny;
    const auto cells = PackedLists<Entry>::gather(cell_count, [&](auto&& add) {
        for (uint32_t i : positions) {
            const Hit& hit = hits_[i];
            add(cell_of(hit.y, group.y0, group.y_scale, group.ny) * group.nx +
                    cell_of(hit.x, group.x0, group.x_scale, group.nx),
                Entry{hit.x, hit.y, i});
        }
    });
    const uint32_t base = static_cast<uint32_t>(entries_.size());
    entries_.insert(entries_.end(), cells.items.begin(), cells.items.end());
    for (uint32_t start : cells.offsets) cell_starts_.push_back(base + start);
    if (usual_reach_ > 0.0) add_near_flags(group, positions);
    groups_.push_back(group);
}

void ClosestHitIndex::add_near_flags(ZGroup& group, std::span<const uint32_t> positions) {
    // A point within the reach of a hit (plus the slack of the rounded
    // bounds) lies less than 2/3 of a cell from it, so at most one cell away.
    const double width = group.x1 - group.x0;
    const double height = group.y1 - group.y0;
    const double magnitude =
        std::max({std::fabs(group.x0), std::fabs(group.x1), std::fabs(group.y0), std::fabs(group.y1), width, height});
    const double cell = 1.5 * (usual_reach_ + slack(2.0 * magnitude, usual_reach_));
    const auto cells_over = [cell](double extent) {
        return static_cast<uint32_t>(std::clamp(std::floor(extent / cell), 1.0, kFinestNearGrid));
    };
    group.near_nx = cells_over(width);
    group.near_ny = cells_over(height);
    group.near_x_scale = 1.0 / std::max(width / group.near_nx, cell);
    group.near_y_scale = 1.0 / std::max(height / group.near_ny, cell);
    group.first_near = near_flag_count_;
    near_flag_count_ += size_t{group.near_nx} * group.near_ny;
    near_.resize((near_flag_count_ + 63) / 64, 0);
    for (uint32_t i : positions) {
        const uint32_t cx = cell_of(hits_[i].x, group.x0, group.near_x_scale, group.near_nx);
        const uint32_t cy = cell_of(hits_[i].y, group.y0, group.near_y_scale, group.near_ny);
        for (uint32_t y = cy == 0 ? 0 : cy - 1; y <= std::min(cy + 1, group.near_ny - 1); ++y) {
            for (uint32_t x = cx == 0 ? 0 : cx - 1; x <= std::min(cx + 1, group.near_nx - 1); ++x) {
                const size_t flag = group.first_near + size_t{y} * group.near_nx + x;
                near_[flag / 64] |= uint64_t{1} << (flag % 64);
            }
        }
    }
}

double ClosestHitIndex::reach_for(double bound) {
    // The last term keeps the square above zero and any subnormal bound.
    double reach = std::sqrt(bound) * (1.0 + 0x1p-40) + 0x1p-511;
    while (!(reach * reach > bound)) reach *= 2.0;
    return reach;
}

ClosestHitIndex::CellRange ClosestHitIndex::cells_near(const ZGroup& group, double px, double py, double reach) const {
    const double x_slack = slack(px, reach);
    const double y_slack = slack(py, reach);
    const double x_low = px - reach - x_slack;
    const double x_high = px + reach + x_slack;
    const double y_low = py - reach - y_slack;
    const double y_high = py + reach + y_slack;
    if (x_high < group.x0 || x_low > group.x1 || y_high < group.y0 || y_low > group.y1) {
        return {0, 0, 0, 0, true};
    }
    return {cell_of(x_low, group.x0, group.x_scale, group.nx), cell_of(x_high, group.x0, group.x_scale, group.nx),
            cell_of(y_low, group.y0, group.y_scale, group.ny), cell_of(y_high, group.y0, group.y_scale, group.ny),
            false};
}

}  // namespace corvane
