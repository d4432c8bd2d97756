#include "algorithms/triplet_trie/triplet_search.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace corvane {
namespace {

// A layer's hits grouped by z (bit for bit), each group sorted by x, so that
// the hits whose line from a base can reach a given box form a short run.
// Hits with a non-finite x or y (their lines reach nothing) and hits of a
// ninth or later z value are left loose.
struct SortedByX {
    struct Group {
        double z;
        std::vector<double> x, y;
        std::vector<uint32_t> position;
        double largest_x = 0.0, largest_y = 0.0;  // magnitudes
    };
    static constexpr size_t kMostGroups = 8;
    std::vector<Group> groups;
    std::vector<uint32_t> loose;

    explicit SortedByX(std::span<const Hit> hits) {
        for (uint32_t j = 0; j < hits.size(); ++j) {
            const Hit& hit = hits[j];
            const auto same_z = [&hit](const Group& g) {
                return std::bit_cast<uint64_t>(g.z) == std::bit_cast<uint64_t>(hit.z);
            };
            auto group = std::find_if(groups.begin(), groups.end(), same_z);
            if (!std::isfinite(hit.x) || !std::isfinite(hit.y) ||
                (group == groups.end() && groups.size() == kMostGroups)) {
                loose.push_back(j);
                continue;
            }
            if (group == groups.end()) group = groups.insert(groups.end(), Group{hit.z, {}, {}, {}});
            group->position.push_back(j);
        }
        for (Group& group : groups) {
            std::sort(group.position.begin(), group.position.end(), [&hits](uint32_t l, uint32_t r) {
                return hits[l].x < hits[r].x || (hits[l].x == hits[r].x && l < r);
            });
            for (uint32_t j : group.position) {
                group.x.push_back(hits[j].x);
                group.y.push_back(hits[j].y);
                group.largest_x = std::max(group.largest_x, std::fabs(hits[j].x));
                group.largest_y = std::max(group.largest_y, std::fabs(hits[j].y));
            }
        }
    }
};

// The values v for which base + k * (v - base), rounded as the line's point
// is, can fall in [low, high]: a superset, widened far beyond rounding (the
// reciprocal of k stands in for a division by k; its rounding is a few units
// in the last place, far inside the widening). `bounds` is |low| + |high|.
// The caller has checked that k is finite and not tiny.
std::pair<double, double> preimage(double base, double inverse_k, double low, double high, double bounds) {
    constexpr double kEverything = std::numeric_limits<double>::infinity();
    const double margin = 1e-9 * (bounds + std::fabs(base)) + 1e-300;
    double a = base + (low - margin - base) * inverse_k;
    double b = base + (high + margin - base) * inverse_k;
    if (a > b) std::swap(a, b);
    const double spread = 1e-9 * (std::fabs(a) + std::fabs(b) + std::fabs(base)) + 1e-300;
    const double from = a - spread;
    const double to = b + spread;
    if (!(from <= to)) return {-kEverything, kEverything};  // overflowed to inf - inf
    return {from, to};
}

// A factor k that preimage can invert safely.
bool invertible(double k) { return std::isfinite(k) && std::fabs(k) >= 1e-6; }

// The cell coordinate of a line's point as an affine function of one middle
// coordinate: scale * (k * (v - base) + base - origin). Rounded differently
// from the point itself, but by far less than a hundredth of a cell while
// the magnitudes stay below 1e10 cells; otherwise `usable` is false.
struct AffineCell {
    double a = 0.0, b = 0.0;
    bool usable = false;

    AffineCell(double k, double base, double origin, double scale, double largest_v) {
        const double magnitude = std::fabs(base) + std::fabs(origin) + std::fabs(k) * (largest_v + std::fabs(base));
        usable = magnitude * scale < 1e10;  // false for NaN
        a = k * scale;
        b = (base - k * base - origin) * scale;
    }
    double at(double v) const { return a * v + b; }
};

// An inner z group with near flags, as every outer hit of a window asks
// about it.
struct InnerPlane {
    size_t group;
    double z;
    ClosestHitIndex::Box box;
    ClosestHitIndex::Frame frame;
    double x_bounds, y_bounds;  // |x0| + |x1| and |y0| + |y1| of the box

    InnerPlane(const ClosestHitIndex& inner, size_t g)
        : group(g),
          z(inner.group_z(g)),
          box(inner.near_box(g)),
          frame(inner.near_frame(g)),
          x_bounds(std::fabs(box.x0) + std::fabs(box.x1)),
          y_bounds(std::fabs(box.y0) + std::fabs(box.y1)) {}
};

std::vector<InnerPlane> inner_planes(const ClosestHitIndex& inner) {
    std::vector<InnerPlane> planes;
    planes.reserve(inner.near_group_count());
    for (size_t g = 0; g < inner.near_group_count(); ++g) planes.emplace_back(inner, g);
    return planes;
}

// Sets flags[j] for the middle positions whose line from h1 may reach an
// inner hit: a superset of those for which closest() finds one.
void flag_reaching(const Hit& h1, const SortedByX& middle, const ClosestHitIndex& inner,
                   std::span<const InnerPlane> planes, std::vector<uint8_t>& flags) {
    constexpr double kEverything = std::numeric_limits<double>::infinity();
    for (uint32_t j : middle.loose) flags[j] = 1;
    const bool finite_base = std::isfinite(h1.x) && std::isfinite(h1.y);
    for (const SortedByX::Group& group : middle.groups) {
        const double r = 1.0 / (group.z - h1.z);  // as line_through computes it
        for (const InnerPlane& plane : planes) {
            const double dz = plane.z - h1.z;
            const double k = dz * r;
            const ClosestHitIndex::Box& box = plane.box;
            const ClosestHitIndex::Frame& frame = plane.frame;
            std::pair<double, double> x_range{-kEverything, kEverything};
            std::pair<double, double> y_range{-kEverything, kEverything};
            if (finite_base && invertible(k)) {
                const double inverse_k = 1.0 / k;
                x_range = preimage(h1.x, inverse_k, box.x0, box.x1, plane.x_bounds);
                y_range = preimage(h1.y, inverse_k, box.y0, box.y1, plane.y_bounds);
            }
            const auto [x_low, x_high] = x_range;
            const auto [y_low, y_high] = y_range;
            const AffineCell cell_x(k, h1.x, frame.x0, frame.x_scale, group.largest_x);
            const AffineCell cell_y(k, h1.y, frame.y0, frame.y_scale, group.largest_y);
            const bool affine = cell_x.usable && cell_y.usable;
            const size_t end = std::upper_bound(group.x.begin(), group.x.end(), x_high) - group.x.begin();
            for (size_t i = std::lower_bound(group.x.begin(), group.x.end(), x_low) - group.x.begin(); i < end; ++i) {
                const double y = group.y[i];
                if (!(y >= y_low && y <= y_high)) continue;
                double tx = cell_x.at(group.x[i]);
                double ty = cell_y.at(y);
                if (!affine) {
                    tx = (dz * ((group.x[i] - h1.x) * r) + h1.x - frame.x0) * frame.x_scale;
                    ty = (dz * ((y - h1.y) * r) + h1.y - frame.y0) * frame.y_scale;
                }
                flags[group.position[i]] |= inner.is_near_cell(plane.group, tx, ty);
            }
        }
    }
}

}  // namespace

// For every (outer, middle) pair in stored order, the inner hit closest to
// their line, if one scatters below max_scatter. Pairs whose line cannot come
// near an inner hit are passed over without a search.
TripletTrie find_triplets(const SearchByTripletTrieParameters& p, const Module& outer, const Module& middle,
                          const ClosestHitIndex& inner) {
    std::vector<Triplet> triplets;
    const std::span<const Hit> inner_hits = inner.hits();
    const std::span<const Hit> middle_hits = middle.hits();
    const bool prune = inner.near_group_count() > 0;
    const SortedByX middle_order(prune ? middle_hits : std::span<const Hit>{});
    std::vector<uint8_t> flags(middle_hits.size(), prune ? 0 : 1);
    const std::vector<InnerPlane> planes = inner_planes(inner);
    const auto keep_all = [](const Hit&) { return false; };
    for (const Hit& h1 : outer.hits()) {
        if (prune) flag_reaching(h1, middle_order, inner, planes, flags);
        for (uint32_t j = 0; j < middle_hits.size(); ++j) {
            if (!flags[j]) continue;
            flags[j] = !prune;
            const Closest found = inner.closest(line_through(h1, middle_hits[j]), p.max_scatter, keep_all);
            if (found.found()) {
                triplets.push_back({&h1, &middle_hits[j], &inner_hits[found.position], found.scatter});
            }
        }
    }
    return TripletTrie(std::move(triplets));
}

}  // namespace corvane
