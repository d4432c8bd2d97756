// The segment graph of the graph track finder: segments (hit pairs, first hit
// on the higher module) and the links from each segment to the segments that
// may follow it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "algorithms/graph_dfs.hpp"

namespace corvane {

// Adjacency lists packed into one array: the list of item i is
// items[offsets[i] .. offsets[i + 1]).
struct PackedLists {
    std::vector<uint32_t> offsets{0};
    std::vector<uint32_t> items;

    std::span<const uint32_t> of(size_t i) const { return {items.data() + offsets[i], offsets[i + 1] - offsets[i]}; }

    // Lists of `count` owners from (owner, item) pairs; each list keeps the
    // order in which its items appear in `pairs`.
    static PackedLists group(size_t count, std::span<const std::pair<uint32_t, uint32_t>> pairs);
};

// The segments sharing one first hit and one target module: a run of
// consecutive indices whose second hits ascend in x.
struct SegmentRun {
    uint32_t begin = 0;
    uint32_t end = 0;
    bool uniform_z = false;  // all second hits share one z ...
    double z = 0.0;          // ... this one
};

struct SegmentGraph {
    std::vector<Hit> hits;          // the event's hits, each module's sorted by x
    std::vector<uint32_t> first;    // segment -> position of its first hit (higher module)
    std::vector<uint32_t> second;   // segment -> position of its second hit
    std::vector<double> second_x;   // segment -> x of its second hit
    std::vector<SegmentRun> runs;   // in segment order
    std::vector<uint32_t> run_offsets;  // position -> its runs: runs[run_offsets[n] .. run_offsets[n + 1])
    PackedLists successors;         // segment -> following segments, ascending

    size_t size() const { return first.size(); }
    std::span<const SegmentRun> runs_from(size_t position) const {
        return {runs.data() + run_offsets[position], run_offsets[position + 1] - run_offsets[position]};
    }
};

// Builds segments in index order (by first-hit position, then target module
// from the nearest down, then second-hit position) and links them.
//
// A segment follows the segments arriving at the first position holding its
// first hit's id. When ids repeat, that position may belong to another hit and
// the links could close a cycle; a link is therefore kept only towards a
// segment of lower index. With distinct ids every link already does (links
// run to lower modules, and lower modules' hits come first), so the rule only
// bites on repeated ids, and it keeps the graph acyclic in every case.
SegmentGraph build_segment_graph(const GraphDfsParameters& p, const GraphInput& input);

// The two halves of build_segment_graph: the sorted hits, segments and runs,
// then the successor lists.
void add_segments(const GraphDfsParameters& p, const GraphInput& input, SegmentGraph& graph);
void add_links(const GraphDfsParameters& p, SegmentGraph& graph);

// The segments with successors that follow none and weigh at least
// minimum_root_weight, ascending. Weights are propagated in passes that stop
// early once a pass changes nothing.
std::vector<uint32_t> find_roots(const GraphDfsParameters& p, const SegmentGraph& graph);

// The track of a chain of segments, root first: the root's first hit, then
// every segment's second hit.
Track chain_track(const SegmentGraph& graph, std::span<const uint32_t> chain);

// Tracks of one to three hits sharing a hit id with a track of four or more
// are dropped; the rest keep their order.
void kill_clones_and_ghosts(std::vector<Track>& tracks, size_t id_bound);

}  // namespace corvane
