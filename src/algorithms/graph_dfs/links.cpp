// Steps 4 to 6 of the graph: links between segments, weights and roots.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>
#include <unordered_map>

#include "algorithms/graph_dfs/graph.hpp"
#include "algorithms/graph_dfs/link_test.hpp"
#include "core/errors.hpp"

namespace corvane {
namespace {

// For each hit position d: the positions whose segments may follow a segment
// ending at d. A segment follows those arriving at the first position that
// holds its first hit's id, so the list of d is every position with d's id
// when d is the first of them, and empty otherwise. With distinct ids (always,
// for an Event) it is just d itself.
PackedLists<uint32_t> positions_sharing_id(std::span<const Hit> hits, bool distinct) {
    PackedLists<uint32_t> lists;
    if (distinct) {
        lists.offsets.resize(hits.size() + 1);
        lists.items.resize(hits.size());
        std::iota(lists.offsets.begin(), lists.offsets.end(), 0u);
        std::iota(lists.items.begin(), lists.items.end(), 0u);
        return lists;
    }
    std::vector<uint32_t> first_position(hits.size());
    std::unordered_map<int32_t, uint32_t> first_of_id;
    for (uint32_t q = 0; q < hits.size(); ++q) first_position[q] = first_of_id.try_emplace(hits[q].id, q).first->second;
    return PackedLists<uint32_t>::gather(hits.size(), [&first_position](auto&& add) {
        for (uint32_t q = 0; q < first_position.size(); ++q) add(first_position[q], q);
    });
}

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

SuccessorSearch::SuccessorSearch(const GraphDfsParameters& p, std::span<const Hit> hits)
    : p_(p), sharing_id_(positions_sharing_id(hits, ids_distinct(hits))) {}

void SuccessorSearch::add_successors(SegmentGraph& graph, uint32_t begin, uint32_t end) {
    for (uint32_t t = begin; t < end; ++t) add_by_search(graph, t);
}

bool links_by_index(const GraphDfsParameters& p, std::span<const Hit> hits) {
    // The index needs a finite box around the line.
    auto box_side = [](double tolerance) { return std::isfinite(tolerance) && tolerance > 0; };
    return box_side(p.max_tolerance_x) && box_side(p.max_tolerance_y) && ids_distinct(hits);
}

// One segment's successors by bisection in the runs leaving its second hit
// (and the positions sharing its id), visited by first-hit position, then
// run, then position in the run: segment order. Positions above the
// segment's first hit would only bring higher indices.
void SuccessorSearch::add_by_search(SegmentGraph& graph, uint32_t t) {
    const uint32_t n = graph.first[t];
    const Predecessor predecessor(graph.hits[n], graph.hits[graph.second[t]]);
    PackedLists<uint32_t>& successors = graph.successors;
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
