// The segment graph of the graph track finder: segments (hit pairs, first hit
// on the higher module) and the links from each segment to the segments that
// may follow it.
#pragma once

#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include <optional>

#include "algorithms/graph_dfs/graph_dfs.hpp"
#include "algorithms/graph_dfs/strips.hpp"

namespace corvane {

// Adjacency lists packed into one array: the list of item i is
// items[offsets[i] .. offsets[i + 1]).
struct PackedLists {
    std::vector<uint32_t> offsets{0};
    std::vector<uint32_t> items;

    std::span<const uint32_t> of(size_t i) const { return {items.data() + offsets[i], offsets[i + 1] - offsets[i]}; }

    // Ends the list being appended to (its items are those added since).
    void close_list();

    // Lists of `count` owners from (owner, item) pairs; each list keeps the
    // order in which its items appear in `pairs`.
    static PackedLists group(size_t count, std::span<const std::pair<uint32_t, uint32_t>> pairs);
};

// The segments sharing one first hit and one target module: a run of
// consecutive indices whose second hits ascend in x.
struct SegmentRun {
    uint32_t begin = 0;
    uint32_t end = 0;
    uint32_t module = 0;     // of the second hits
    bool uniform_z = false;  // all second hits share one z ...
    double z = 0.0;          // ... this one
};

struct Window {
    uint32_t first = 0;
    uint32_t end = 0;  // first == end: empty
};

// One module of the x-sorted hit list. When all its hits share one z, the
// x-window is a contiguous run found by bisection; otherwise by the scan.
class TargetModule {
public:
    TargetModule(std::span<const Hit> sorted, const Module& module);

    uint32_t begin() const { return begin_; }
    uint32_t end() const { return end_; }
    bool uniform_z() const { return uniform_z_; }
    double z() const { return begin_ < end_ ? hits_[begin_].z : 0.0; }
    // The lowest and highest finite z of its hits; low > high when none is
    // finite (a hit at a non-finite z never passes the link test).
    double z_low() const { return z_low_; }
    double z_high() const { return z_high_; }

    // The run of candidates for h: from the first hit inside the x-window to
    // the first hit after it that is outside (later hits are not candidates).
    Window window(const GraphDfsParameters& p, const Hit& h) const;

private:
    std::span<const Hit> hits_;
    uint32_t begin_;
    uint32_t end_;
    bool uniform_z_ = false;
    double z_low_ = INFINITY;
    double z_high_ = -INFINITY;
};

// Target modules of a hit on module j, nearest first; negative ones are skipped
// (and so is everything after the first, the targets only descend).
template <class Visit>
void for_each_target(const GraphDfsParameters& p, int64_t j, Visit&& visit) {
    for (int64_t o = 0; o <= p.allowed_skip_modules; ++o) {
        const int64_t u = p.allow_cross_track ? j - 1 - o : j - 2 - 2 * o;
        if (u < 0) return;
        visit(static_cast<size_t>(u));
    }
}

struct SegmentGraph {
    std::vector<Hit> hits;              // the event's hits, each module's sorted by x
    std::vector<uint32_t> first;        // segment -> position of its first hit (higher module)
    std::vector<uint32_t> second;       // segment -> position of its second hit
    std::vector<double> second_x;       // segment -> x of its second hit
    std::vector<SegmentRun> runs;       // in segment order
    std::vector<uint32_t> run_offsets;  // position n -> runs[run_offsets[n] .. run_offsets[n + 1])
    PackedLists successors;             // segment -> following segments, ascending

    size_t size() const { return first.size(); }

    // Empties every list, keeping the memory for the next event.
    void clear();
    size_t capacity_bytes() const;

    // The runs leaving a position; while the graph is built, those of the
    // position being worked on so far.
    std::span<const SegmentRun> runs_from(size_t position) const {
        const size_t end = position + 1 < run_offsets.size() ? run_offsets[position + 1] : runs.size();
        return {runs.data() + run_offsets[position], end - run_offsets[position]};
    }
};

// Builds segments in index order (by first-hit position, then target module
// from the nearest down, then second-hit position) and links each one as it
// is made: its successors start at lower positions, so they already exist.
//
// A segment follows the segments arriving at the first position holding its
// first hit's id. When ids repeat, that position may belong to another hit and
// the links could close a cycle; a link is therefore kept only towards a
// segment of lower index. With distinct ids every link already does (links
// run to lower modules, and lower modules' hits come first), so the rule only
// bites on repeated ids, and it keeps the graph acyclic in every case.
SegmentGraph build_segment_graph(const GraphDfsParameters& p, const GraphInput& input, LinkSearch links);
// The same into `graph`, emptied first (its memory is reused).
void build_segment_graph(const GraphDfsParameters& p, const GraphInput& input, LinkSearch links, SegmentGraph& graph);

// 1 / d, remembering the latest d: the segments of one window mostly share
// their z differences, and the division is the costly part. (A zero d may
// come back with the other sign; callers reject a zero d anyway.)
class LastReciprocal {
public:
    double operator()(double d) {
        if (!(d == of_)) {
            of_ = d;
            value_ = 1 / d;
        }
        return value_;
    }

private:
    double of_ = 0.0;
    double value_ = 0.0;
};

// Finds the successors of segments as they are made.
class SuccessorSearch {
public:
    SuccessorSearch(const GraphDfsParameters& p, std::span<const Hit> hits, std::span<const Module> modules,
                    std::span<const TargetModule> targets, LinkSearch mode);

    // Appends the successor lists of segments [begin, end), the newest ones,
    // which all join one first hit to hits of module u.
    void add_successors(SegmentGraph& graph, uint32_t begin, uint32_t end, size_t u);

private:
    void add_by_search(SegmentGraph& graph, uint32_t t);
    void add_by_lookup(SegmentGraph& graph, uint32_t t, size_t u);

    const GraphDfsParameters& p_;
    std::span<const TargetModule> targets_;
    bool distinct_ids_;                 // no two hits share an id (always so in an Event)
    PackedLists sharing_id_;            // position -> positions whose segments may follow a segment ending there
    std::optional<StripIndex> strips_;  // when the lookup applies
    std::vector<uint32_t> near_;        // hits passing the link test on one module
    LastReciprocal slope_reciprocal_;   // 1 / z difference of a segment
    std::vector<LastReciprocal> scatter_reciprocal_;  // by target module: 1 / z difference to it
};

// The segments with successors that follow none and weigh at least
// minimum_root_weight, ascending. Weights are propagated in passes that stop
// early once a pass changes nothing.
std::vector<uint32_t> find_roots(const GraphDfsParameters& p, const SegmentGraph& graph);

// Per-segment working lists of find_roots, kept between calls.
struct RootScratch {
    std::vector<uint32_t> with_successors;
    std::vector<int32_t> weight;
    std::vector<uint8_t> follows;
    size_t capacity_bytes() const;
};
std::vector<uint32_t> find_roots(const GraphDfsParameters& p, const SegmentGraph& graph, RootScratch& scratch);

// The track of a chain of segments, root first: the root's first hit, then
// every segment's second hit.
Track chain_track(const SegmentGraph& graph, std::span<const uint32_t> chain);

// Tracks of one to three hits sharing a hit id with a track of four or more
// are dropped; the rest keep their order.
void kill_clones_and_ghosts(std::vector<Track>& tracks, size_t id_bound);

}  // namespace corvane
