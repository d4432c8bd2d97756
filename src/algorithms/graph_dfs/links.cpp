// Steps 4 to 6 of the graph: links between segments, weights and roots.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>
#include <unordered_map>

#include "algorithms/graph_dfs/graph.hpp"
#include "core/errors.hpp"

namespace corvane {
namespace {

// Whether the ids are distinct (and, as in an Event, below the hit count).
bool ids_distinct(std::span<const Hit> hits) {
    std::vector<uint8_t> seen(hits.size(), 0);
    return std::all_of(hits.begin(), hits.end(), [&seen](const Hit& hit) {
        if (hit.id < 0 || static_cast<size_t>(hit.id) >= seen.size() || seen[static_cast<size_t>(hit.id)]) return false;
        seen[static_cast<size_t>(hit.id)] = 1;
        return true;
    });
}

// For each hit position d: the positions whose segments may follow a segment
// ending at d. A segment follows those arriving at the first position that
// holds its first hit's id, so the list of d is every position with d's id
// when d is the first of them, and empty otherwise. With distinct ids (always,
// for an Event) it is just d itself.
PackedLists positions_sharing_id(std::span<const Hit> hits, bool distinct) {
    PackedLists lists;
    if (distinct) {
        lists.offsets.resize(hits.size() + 1);
        lists.items.resize(hits.size());
        std::iota(lists.offsets.begin(), lists.offsets.end(), 0u);
        std::iota(lists.items.begin(), lists.items.end(), 0u);
        return lists;
    }
    std::unordered_map<int32_t, uint32_t> first_position;
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
    pairs.reserve(hits.size());
    for (uint32_t q = 0; q < hits.size(); ++q) {
        pairs.emplace_back(first_position.try_emplace(hits[q].id, q).first->second, q);
    }
    return PackedLists::group(hits.size(), pairs);
}

// A segment t (t1 -> t2) and what every test against it shares. The
// products below are the first steps of the fixed order of operations, so
// precomputing them changes no result.
class Predecessor {
public:
    Predecessor(const Hit& t1, const Hit& t2) : Predecessor(t1, t2, 1 / (t2.z - t1.z)) {}

    // `r` is 1 / (t2.z - t1.z), known already: the segments of one window
    // mostly share their z values, and the division is the costly part.
    Predecessor(const Hit& t1, const Hit& t2, double r)
        : t1_(t1), t2_(t2), dz1_(t2.z - t1.z), r_(r), slope_x_((t2.x - t1.x) * r_), slope_y_((t2.y - t1.y) * r_) {}

    bool vertical() const { return dz1_ == 0; }

    // How far the line through t's hits passes from x (or y) at height z
    // (positive: the point lies to its left), as may_follow computes it.
    double x_offset(double z, double x) const { return slope_x_ * (z - t1_.z) + t1_.x - x; }
    double y_offset(double z, double y) const { return slope_y_ * (z - t1_.z) + t1_.y - y; }

    // Whether a segment ending at s2 may follow: the line through t's hits
    // passes near s2, with a bounded scatter. NaN never links.
    bool may_follow(const GraphDfsParameters& p, const Hit& s2) const { return may_follow(p, s2, 1 / (s2.z - t2_.z)); }

    // The same, with `q` = 1 / (s2.z - t2.z) known already (a division is
    // costly, and the second hits of one module share their z).
    bool may_follow(const GraphDfsParameters& p, const Hit& s2, double q) const {
        if (vertical()) return false;
        const double dz = s2.z - t1_.z;
        const double dx = slope_x_ * dz + t1_.x - s2.x;
        if (!(std::abs(dx) < p.max_tolerance_x)) return false;
        const double dy = slope_y_ * dz + t1_.y - s2.y;
        if (!(std::abs(dy) < p.max_tolerance_y)) return false;
        if (s2.z - t2_.z == 0) return false;
        const double scatter = (dy * dy + dx * dx) * q * q;
        return p.max_scatter > scatter;
    }

private:
    const Hit& t1_;
    const Hit& t2_;
    double dz1_;
    double r_;
    double slope_x_;
    double slope_y_;
};

// First element of the ascending run [begin, end) for which `beyond` is
// false, given that it holds on a prefix. Branch-free: the runs are short and
// searched very often.
template <class Beyond>
const double* first_not_beyond(const double* begin, const double* end, Beyond&& beyond) {
    size_t length = static_cast<size_t>(end - begin);
    while (length > 1) {
        const size_t half = length / 2;
        begin = beyond(begin[half - 1]) ? begin + half : begin;
        length -= half;
    }
    return begin + (length == 1 && beyond(*begin) ? 1 : 0);
}

// The segments of `run` that pass the x-tolerance test after t. In a run at
// one z the offset falls as the second hit's x rises, so the passing segments
// are consecutive: skip by bisection those beyond the tolerance on the near
// side, and stop at the first that fails on the far one.
template <class Visit>
void for_each_x_candidate(const GraphDfsParameters& p, const SegmentGraph& graph, const Predecessor& t,
                          const SegmentRun& run, Visit&& visit) {
    const double* xs = graph.second_x.data();
    const double* s = xs + run.begin;
    const double* end = xs + run.end;
    if (run.uniform_z) {
        s = first_not_beyond(s, end, [&](double x) { return t.x_offset(run.z, x) >= p.max_tolerance_x; });
        for (; s != end && std::abs(t.x_offset(run.z, *s)) < p.max_tolerance_x; ++s) {
            visit(static_cast<uint32_t>(s - xs));
        }
    } else {
        for (; s != end; ++s) visit(static_cast<uint32_t>(s - xs));
    }
}

}  // namespace

void PackedLists::close_list() {
    if (items.size() >= std::numeric_limits<uint32_t>::max()) throw RuntimeError("too many links in one event");
    offsets.push_back(static_cast<uint32_t>(items.size()));
}

PackedLists PackedLists::group(size_t count, std::span<const std::pair<uint32_t, uint32_t>> pairs) {
    if (pairs.size() >= std::numeric_limits<uint32_t>::max()) throw RuntimeError("too many links in one event");
    PackedLists lists;
    lists.offsets.assign(count + 1, 0);
    for (const auto& [owner, item] : pairs) ++lists.offsets[owner + 1];
    for (size_t i = 0; i < count; ++i) lists.offsets[i + 1] += lists.offsets[i];
    lists.items.resize(pairs.size());
    std::vector<uint32_t> next(lists.offsets.begin(), lists.offsets.end() - 1);
    for (const auto& [owner, item] : pairs) lists.items[next[owner]++] = item;
    return lists;
}

SuccessorSearch::SuccessorSearch(const GraphDfsParameters& p, std::span<const Hit> hits,
                                 std::span<const Module> modules, std::span<const TargetModule> targets,
                                 LinkSearch mode)
    : p_(p),
      targets_(targets),
      distinct_ids_(ids_distinct(hits)),
      sharing_id_(positions_sharing_id(hits, distinct_ids_)) {
    // The lookup needs a finite box around the line; otherwise every segment
    // is searched through the runs leaving its second hit.
    auto box_side = [](double tolerance) { return std::isfinite(tolerance) && tolerance > 0; };
    if (mode == LinkSearch::indexed && distinct_ids_ && box_side(p.max_tolerance_x) && box_side(p.max_tolerance_y)) {
        strips_.emplace(hits, modules, 2 * p.max_tolerance_x, 2 * p.max_tolerance_y);
        scatter_reciprocal_.resize(modules.size());
    }
}

void SuccessorSearch::add_successors(SegmentGraph& graph, uint32_t begin, uint32_t end, size_t u) {
    const bool by_lookup = strips_.has_value();
    for (uint32_t t = begin; t < end; ++t) {
        if (by_lookup) {
            add_by_lookup(graph, t, u);
        } else {
            add_by_search(graph, t);
        }
    }
}

namespace {

// The segments from position `from` to module `module`, if any.
const SegmentRun* run_between(const SegmentGraph& graph, uint32_t from, size_t module) {
    for (const SegmentRun& run : graph.runs_from(from)) {
        if (run.module == module) return &run;
    }
    return nullptr;
}

// [low - half, high + half], a little wider: the box only preselects, the
// exact tests decide, so it must not lose a hit to rounding.
std::pair<double, double> widened_range(double low, double high, double half) {
    const double slack = (std::max(std::abs(low), std::abs(high)) + half) * 0x1p-40;
    return {low - half - slack, high + half + slack};
}

}  // namespace

// One segment's successors from the hits near its line on each target module
// of its second hit, nearest module first and ascending within one: segment
// order. A hit passing the link test must still be the second hit of a
// segment from that hit. Only used with distinct ids, so every successor
// found has a lower index.
//
// The line's offset at a z is computed by steps that each round
// monotonically, so over a module's z range it lies between its values at
// the lowest and the highest z: the box spans both, widened by the tolerance.
void SuccessorSearch::add_by_lookup(SegmentGraph& graph, uint32_t t, size_t u) {
    const uint32_t a = graph.second[t];
    const Hit& b = graph.hits[graph.first[t]];
    const Hit& second = graph.hits[a];
    const Predecessor predecessor(b, second, slope_reciprocal_(second.z - b.z));
    PackedLists& successors = graph.successors;
    if (!predecessor.vertical()) {
        for_each_target(p_, static_cast<int64_t>(u), [&](size_t target) {
            const SegmentRun* run = run_between(graph, a, target);
            if (run == nullptr) return;  // nothing can follow towards this module
            const TargetModule& module = targets_[target];
            if (!(module.z_low() <= module.z_high())) return;  // no hit at a finite z: none can pass
            LastReciprocal& reciprocal = scatter_reciprocal_[target];
            auto passes = [&](uint32_t k) {
                const Hit& hit = graph.hits[k];
                return predecessor.may_follow(p_, hit, reciprocal(hit.z - second.z));
            };
            const double x_low_z = predecessor.x_offset(module.z_low(), 0.0);
            const double x_high_z = predecessor.x_offset(module.z_high(), 0.0);
            const double y_low_z = predecessor.y_offset(module.z_low(), 0.0);
            const double y_high_z = predecessor.y_offset(module.z_high(), 0.0);
            near_.clear();
            if (std::isfinite(x_low_z) && std::isfinite(x_high_z) && std::isfinite(y_low_z) &&
                std::isfinite(y_high_z)) {
                const auto [x_low, x_high] =
                    widened_range(std::min(x_low_z, x_high_z), std::max(x_low_z, x_high_z), p_.max_tolerance_x);
                const auto [y_low, y_high] =
                    widened_range(std::min(y_low_z, y_high_z), std::max(y_low_z, y_high_z), p_.max_tolerance_y);
                strips_->for_each_in_box(target, x_low, x_high, y_low, y_high, [&](uint32_t k) {
                    if (passes(k)) near_.push_back(k);
                });
                std::sort(near_.begin(), near_.end());
            } else {
                // An overflowing line may still pass near some z of the
                // range: test the run's second hits one by one.
                for (uint32_t s = run->begin; s < run->end; ++s) {
                    if (passes(graph.second[s])) near_.push_back(graph.second[s]);
                }
            }
            // The run's second hits ascend, as do the hits found.
            const auto end = graph.second.begin() + run->end;
            auto s = graph.second.begin() + run->begin;
            for (uint32_t k : near_) {
                s = std::lower_bound(s, end, k);
                if (s == end) break;
                if (*s == k) successors.items.push_back(static_cast<uint32_t>(s - graph.second.begin()));
            }
        });
    }
    successors.close_list();
}

// One segment's successors by bisection in the runs leaving its second hit
// (and the positions sharing its id), visited by first-hit position, then
// run, then position in the run: segment order. Positions above the
// segment's first hit would only bring higher indices.
void SuccessorSearch::add_by_search(SegmentGraph& graph, uint32_t t) {
    const uint32_t n = graph.first[t];
    const Predecessor predecessor(graph.hits[n], graph.hits[graph.second[t]]);
    PackedLists& successors = graph.successors;
    if (!predecessor.vertical()) {
        auto link = [&](uint32_t s) {
            if (s < t && predecessor.may_follow(p_, graph.hits[graph.second[s]])) successors.items.push_back(s);
        };
        for (uint32_t q : sharing_id_.of(graph.second[t])) {
            if (q > n) break;
            for (const SegmentRun& run : graph.runs_from(q)) for_each_x_candidate(p_, graph, predecessor, run, link);
        }
    }
    successors.close_list();
}

std::vector<uint32_t> find_roots(const GraphDfsParameters& p, const SegmentGraph& graph) {
    RootScratch scratch;
    return find_roots(p, graph, scratch);
}

std::vector<uint32_t> find_roots(const GraphDfsParameters& p, const SegmentGraph& graph, RootScratch& scratch) {
    std::vector<uint32_t>& with_successors = scratch.with_successors;
    with_successors.clear();
    for (uint32_t s = 0; s < graph.size(); ++s) {
        if (!graph.successors.of(s).empty()) with_successors.push_back(s);
    }
    // Successors come before their predecessors, so one pass settles every
    // weight and the next changes nothing: the passes stop there.
    std::vector<int32_t>& weight = scratch.weight;
    weight.assign(graph.size(), 0);
    for (int32_t pass = 0; pass < p.weight_assignment_iterations; ++pass) {
        bool changed = false;
        for (uint32_t s : with_successors) {
            int32_t heaviest = std::numeric_limits<int32_t>::min();
            for (uint32_t c : graph.successors.of(s)) heaviest = std::max(heaviest, weight[c]);
            changed |= weight[s] != heaviest + 1;
            weight[s] = heaviest + 1;
        }
        if (!changed) break;
    }
    std::vector<uint8_t>& follows = scratch.follows;
    follows.assign(graph.size(), 0);
    for (uint32_t s : with_successors) {
        for (uint32_t c : graph.successors.of(s)) follows[c] = 1;
    }
    std::vector<uint32_t> roots;
    for (uint32_t s : with_successors) {
        if (!follows[s] && weight[s] >= p.minimum_root_weight) roots.push_back(s);
    }
    return roots;
}

}  // namespace corvane
