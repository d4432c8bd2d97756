// Steps 4 to 6 of the graph: links between segments, weights and roots.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>
#include <unordered_map>

#include "algorithms/graph_dfs_graph.hpp"
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
    Predecessor(const Hit& t1, const Hit& t2)
        : t1_(t1), t2_(t2), dz1_(t2.z - t1.z), r_(1 / dz1_), slope_x_((t2.x - t1.x) * r_),
          slope_y_((t2.y - t1.y) * r_) {}

    bool vertical() const { return dz1_ == 0; }

    // How far the line through t's hits passes from x at height z (positive:
    // x lies to its left), as may_follow computes it.
    double x_offset(double z, double x) const { return slope_x_ * (z - t1_.z) + t1_.x - x; }

    // Whether a segment ending at s2 may follow: the line through t's hits
    // passes near s2, with a bounded scatter. NaN never links.
    bool may_follow(const GraphDfsParameters& p, const Hit& s2) const {
        if (vertical()) return false;
        const double dz = s2.z - t1_.z;
        const double dx = slope_x_ * dz + t1_.x - s2.x;
        if (!(std::abs(dx) < p.max_tolerance_x)) return false;
        const double dy = slope_y_ * dz + t1_.y - s2.y;
        if (!(std::abs(dy) < p.max_tolerance_y)) return false;
        const double dz2 = s2.z - t2_.z;
        if (dz2 == 0) return false;
        const double q = 1 / dz2;
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
                                 std::span<const TargetModule> targets)
    : p_(p), targets_(targets), distinct_ids_(ids_distinct(hits)),
      sharing_id_(positions_sharing_id(hits, distinct_ids_)) {}

void SuccessorSearch::add_successors(SegmentGraph& graph, uint32_t begin, uint32_t end, size_t u) {
    const Hit& b = graph.hits[graph.first[begin]];
    const TargetModule& middle = targets_[u];
    const double r = 1 / (middle.z() - b.z);
    // The sweep needs one slope sign along the window and single-z modules.
    bool sweepable = distinct_ids_ && middle.uniform_z() && middle.z() - b.z != 0;
    for_each_target(p_, static_cast<int64_t>(u), [&](size_t target) {
        sweepable = sweepable && targets_[target].uniform_z() && r * (targets_[target].z() - b.z) >= 0;
    });
    if (!sweepable) {
        for (uint32_t t = begin; t < end; ++t) add_by_search(graph, t);
        return;
    }
    found_.clear();
    for_each_target(p_, static_cast<int64_t>(u), [&](size_t target) { sweep(graph, begin, end, target); });
    // Each segment's links by target module in order, then ascending: segment order.
    std::stable_sort(found_.begin(), found_.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    PackedLists& successors = graph.successors;
    auto next = found_.begin();
    for (uint32_t t = begin; t < end; ++t) {
        for (; next != found_.end() && next->first == t; ++next) successors.items.push_back(next->second);
        successors.close_list();
    }
}

namespace {

// The segment from position `from` to position `to` on module `module`, if any.
std::optional<uint32_t> segment_between(const SegmentGraph& graph, uint32_t from, size_t module, uint32_t to) {
    for (const SegmentRun& run : graph.runs_from(from)) {
        if (run.module != module) continue;
        const auto begin = graph.second.begin() + run.begin;
        const auto end = graph.second.begin() + run.end;
        const auto found = std::lower_bound(begin, end, to);
        if (found != end && *found == to) return static_cast<uint32_t>(found - graph.second.begin());
    }
    return std::nullopt;
}

}  // namespace

// Segments b -> a of one window, a ascending in x, against the hits of one
// module further down. With one z per module and one slope sign, the line's
// x at that module rises with a's x, so the first hit not beyond the
// tolerance on the near side only moves forward: one pass over the module
// serves the whole window. A hit passing the link test still has to be the
// second hit of a segment from a.
void SuccessorSearch::sweep(const SegmentGraph& graph, uint32_t begin, uint32_t end, size_t target) {
    const TargetModule& module = targets_[target];
    const Hit& b = graph.hits[graph.first[begin]];
    const double tolerance = p_.max_tolerance_x;
    uint32_t near = module.begin();
    bool started = false;
    for (uint32_t t = begin; t < end; ++t) {
        const uint32_t a = graph.second[t];
        const Predecessor predecessor(b, graph.hits[a]);
        if (std::isnan(predecessor.x_offset(module.z(), 0.0))) continue;
        auto beyond = [&](const Hit& c) { return predecessor.x_offset(c.z, c.x) >= tolerance; };
        if (!started) {
            near = static_cast<uint32_t>(std::partition_point(graph.hits.begin() + module.begin(),
                                                              graph.hits.begin() + module.end(), beyond) -
                                         graph.hits.begin());
            started = true;
        }
        while (near < module.end() && beyond(graph.hits[near])) ++near;
        for (uint32_t k = near; k < module.end(); ++k) {
            const Hit& c = graph.hits[k];
            if (!(std::abs(predecessor.x_offset(c.z, c.x)) < tolerance)) break;
            if (!predecessor.may_follow(p_, c)) continue;
            if (const auto s = segment_between(graph, a, target, k)) found_.emplace_back(t, *s);
        }
    }
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
    std::vector<uint32_t> with_successors;
    for (uint32_t s = 0; s < graph.size(); ++s) {
        if (!graph.successors.of(s).empty()) with_successors.push_back(s);
    }
    // Successors come before their predecessors, so one pass settles every
    // weight and the next changes nothing: the passes stop there.
    std::vector<int32_t> weight(graph.size(), 0);
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
    std::vector<uint8_t> follows(graph.size(), 0);
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
