#include "algorithms/closest_hit_index.hpp"

#include <algorithm>
#include <bit>
#include <limits>
#include <numeric>

namespace corvane {
namespace {

// Below this size a scan costs no more than a lookup.
constexpr size_t kSmallestIndexedList = 8;

constexpr double kInfinity = std::numeric_limits<double>::infinity();

bool finite(const Hit& hit) { return std::isfinite(hit.x) && std::isfinite(hit.y) && std::isfinite(hit.z); }

// Two steps of one ulp past a rounded sum: beyond the exact value.
double below(double value) { return std::nextafter(std::nextafter(value, -kInfinity), -kInfinity); }
double above(double value) { return std::nextafter(std::nextafter(value, kInfinity), kInfinity); }

// Monotonic in value, so a hit between two bounds lies in a cell between
// theirs.
uint32_t cell_of(double value, double origin, double scale, uint32_t count) {
    const double t = (value - origin) * scale;
    if (!(t > 0.0)) return 0;
    if (t >= static_cast<double>(count)) return count - 1;
    return static_cast<uint32_t>(t);
}

uint32_t cells_along(double extent, double other, size_t hits) {
    // About one hit per cell, the cells roughly square.
    const double ratio = other > 0.0 && extent > 0.0 ? extent / other : 1.0;
    const double wanted = std::ceil(std::sqrt(static_cast<double>(hits) * std::clamp(ratio, 1e-3, 1e3)));
    return static_cast<uint32_t>(std::clamp(wanted, 1.0, 4096.0));
}

}  // namespace

ClosestHitIndex::ClosestHitIndex(std::span<const Hit> hits, bool indexed) : hits_(hits) {
    if (!indexed || hits.size() < kSmallestIndexedList || hits.size() >= Closest::none) return;
    // Hits with a non-finite coordinate scatter to inf or NaN against any
    // line, so they never beat a finite bound: they are left out.
    std::vector<uint32_t> positions;
    positions.reserve(hits.size());
    for (uint32_t i = 0; i < hits.size(); ++i) {
        if (finite(hits[i])) positions.push_back(i);
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

    // Counting sort into cells; `positions` is increasing, and so stays each cell.
    const size_t cell_count = size_t{group.nx} * group.ny;
    std::vector<uint32_t> cell_of_hit(positions.size());
    std::vector<uint32_t> starts(cell_count + 1, 0);
    for (size_t k = 0; k < positions.size(); ++k) {
        const Hit& hit = hits_[positions[k]];
        cell_of_hit[k] = cell_of(hit.y, group.y0, group.y_scale, group.ny) * group.nx +
                         cell_of(hit.x, group.x0, group.x_scale, group.nx);
        ++starts[cell_of_hit[k] + 1];
    }
    std::partial_sum(starts.begin(), starts.end(), starts.begin());
    const uint32_t base = static_cast<uint32_t>(entries_.size());
    entries_.resize(entries_.size() + positions.size());
    std::vector<uint32_t> next(starts.begin(), starts.end() - 1);
    for (size_t k = 0; k < positions.size(); ++k) {
        const Hit& hit = hits_[positions[k]];
        entries_[base + next[cell_of_hit[k]]++] = {hit.x, hit.y, positions[k]};
    }
    for (uint32_t& start : starts) start += base;
    cell_starts_.insert(cell_starts_.end(), starts.begin(), starts.end());
    groups_.push_back(group);
}

double ClosestHitIndex::reach_for(double bound) {
    double reach = std::sqrt(bound);
    while (!(reach * reach > bound)) reach = std::nextafter(reach, kInfinity);
    return reach;
}

ClosestHitIndex::CellRange ClosestHitIndex::cells_near(const ZGroup& group, double px, double py,
                                                        double reach) const {
    const double x_low = below(px - reach);
    const double x_high = above(px + reach);
    const double y_low = below(py - reach);
    const double y_high = above(py + reach);
    if (x_high < group.x0 || x_low > group.x1 || y_high < group.y0 || y_low > group.y1) {
        return {0, 0, 0, 0, true};
    }
    return {cell_of(x_low, group.x0, group.x_scale, group.nx), cell_of(x_high, group.x0, group.x_scale, group.nx),
            cell_of(y_low, group.y0, group.y_scale, group.ny), cell_of(y_high, group.y0, group.y_scale, group.ny),
            false};
}

}  // namespace corvane
