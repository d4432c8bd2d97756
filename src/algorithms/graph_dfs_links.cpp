// Steps 4 to 6 of the graph: links between segments, weights and roots.
#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>

#include "algorithms/graph_dfs_graph.hpp"
#include "core/errors.hpp"

namespace corvane {
namespace {

// For each hit position d: the positions whose segments may follow a segment
// ending at d. A segment follows those arriving at the first position that
// holds its first hit's id, so the list of d is every position with d's id
// when d is the first of them, and empty otherwise. With distinct ids it is
// just d itself.
PackedLists positions_sharing_id(std::span<const Hit> hits) {
    std::unordered_map<int32_t, uint32_t> first_position;
    first_position.reserve(hits.size());
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
    pairs.reserve(hits.size());
    for (uint32_t q = 0; q < hits.size(); ++q) {
        const uint32_t owner = first_position.try_emplace(hits[q].id, q).first->second;
        pairs.emplace_back(owner, q);
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

// Links are found hit by hit: the segments arriving at one position are
// tested against the runs leaving it (and the positions sharing its id), so
// those runs stay in cache. Each segment's successors come out together and
// ascending (runs by first-hit position, then in run order, is segment order).
// A link always leads to a lower index (see the header).
void add_links(const GraphDfsParameters& p, SegmentGraph& graph) {
    std::vector<std::pair<uint32_t, uint32_t>> by_second;
    by_second.reserve(graph.size());
    for (uint32_t t = 0; t < graph.size(); ++t) by_second.emplace_back(graph.second[t], t);
    const PackedLists arriving = PackedLists::group(graph.hits.size(), by_second);
    by_second = {};
    const PackedLists sharing = positions_sharing_id(graph.hits);

    std::vector<std::pair<uint32_t, uint32_t>> links;  // (t, s): s follows t
    for (uint32_t d = 0; d < graph.hits.size(); ++d) {
        for (uint32_t t : arriving.of(d)) {
            const Predecessor predecessor(graph.hits[graph.first[t]], graph.hits[d]);
            if (predecessor.vertical()) continue;
            auto link = [&](uint32_t s) {
                if (s < t && predecessor.may_follow(p, graph.hits[graph.second[s]])) links.emplace_back(t, s);
            };
            for (uint32_t q : sharing.of(d)) {
                for (const SegmentRun& run : graph.runs_from(q)) for_each_x_candidate(p, graph, predecessor, run, link);
            }
        }
    }
    graph.successors = PackedLists::group(graph.size(), links);
}

SegmentGraph build_segment_graph(const GraphDfsParameters& p, const GraphInput& input) {
    SegmentGraph graph;
    add_segments(p, input, graph);
    add_links(p, graph);
    return graph;
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
