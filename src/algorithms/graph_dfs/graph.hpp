// The segment graph of the graph track finder: segments (hit pairs, first hit
// on the higher module) and the links from each segment to the segments that
// may follow it.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "algorithms/graph_dfs/fan_cells.hpp"
#include "algorithms/graph_dfs/graph_dfs.hpp"
#include "algorithms/graph_dfs/reach_grid.hpp"
#include "algorithms/used_hits.hpp"
#include "core/packed_lists.hpp"

namespace corvane {

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
    // With `columns` (the same hits as arrays), the run's end is found four
    // hits at a time.
    Window window(const GraphDfsParameters& p, const Hit& h, const HitColumns* columns = nullptr) const;

private:
    uint32_t first_possibly_inside(const GraphDfsParameters& p, const Hit& h) const;

    std::span<const Hit> hits_;
    uint32_t begin_;
    uint32_t end_;
    bool uniform_z_ = false;
    double z_low_ = INFINITY;
    double z_high_ = -INFINITY;
    bool all_z_finite_ = true;
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

// The event's hits, each module's sorted by x ascending (stable; NaN last).
void sorted_copy(const GraphInput& input, std::vector<Hit>& hits);

struct SegmentGraph {
    std::vector<Hit> hits;              // the event's hits, each module's sorted by x
    std::vector<uint32_t> first;        // segment -> position of its first hit (higher module)
    std::vector<uint32_t> second;       // segment -> position of its second hit
    std::vector<double> second_x;       // segment -> x of its second hit
    std::vector<SegmentRun> runs;       // in segment order
    std::vector<uint32_t> run_offsets;  // position n -> runs[run_offsets[n] .. run_offsets[n + 1])
    PackedLists<uint32_t> successors;   // segment -> following segments, ascending

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

// Builds every segment in index order (by first-hit position, then target
// module from the nearest down, then second-hit position) and links each one
// as it is made, by search: its successors start at lower positions, so they
// already exist. The reference way, and the way for repeated ids.
//
// A segment follows the segments arriving at the first position holding its
// first hit's id. When ids repeat, that position may belong to another hit and
// the links could close a cycle; a link is therefore kept only towards a
// segment of lower index. With distinct ids every link already does (links
// run to lower modules, and lower modules' hits come first), so the rule only
// bites on repeated ids, and it keeps the graph acyclic in every case.
SegmentGraph build_segment_graph(const GraphDfsParameters& p, const GraphInput& input);
// The same into `graph`, emptied first (its memory is reused).
void build_segment_graph(const GraphDfsParameters& p, const GraphInput& input, SegmentGraph& graph);

// The sorted hits' coordinates as arrays, with spare values after them.
struct HitArrays {
    std::vector<double> x, y, z;

    void fill(std::span<const Hit> hits) {
        for (auto* values : {&x, &y, &z}) values->assign(hits.size() + 3, 0.0);
        for (size_t i = 0; i < hits.size(); ++i) {
            x[i] = hits[i].x;
            y[i] = hits[i].y;
            z[i] = hits[i].z;
        }
    }
    HitColumns view() const { return {x.data(), y.data(), z.data()}; }
    size_t capacity_bytes() const { return (x.capacity() + y.capacity() + z.capacity()) * sizeof(double); }
};

// What fan_cells finds for one window: the slope test in y of each
// candidate, and the cell keys of its line on each target module.
struct FanScratch {
    std::vector<const ReachGrid::ModuleCells*> targets;
    std::vector<uint64_t> y_pass;  // a bit per candidate
    std::vector<uint32_t> keys;    // target * stride + candidate
    uint32_t stride = 0;

    size_t capacity_bytes() const {
        return targets.capacity() * sizeof(targets[0]) + y_pass.capacity() * sizeof(uint64_t) +
               keys.capacity() * sizeof(uint32_t);
    }
};

// An array whose elements are all written before they are read: growing it
// leaves them uninitialised, and it never shrinks.
template <class T>
class WrittenFirst {
public:
    T* at_least(size_t count) {
        if (count > size_) {
            data_.reset(new T[count]);
            size_ = count;
        }
        return data_.get();
    }
    size_t capacity_bytes() const { return size_ * sizeof(T); }

private:
    std::unique_ptr<T[]> data_;
    size_t size_ = 0;
};

// The working lists of build_linked_graph, kept between events: every
// segment's second hit, the runs of segments sharing a first hit and a
// target module, and the links found, by global segment number.
struct LinkedGraphScratch {
    struct Run {
        uint32_t first;  // position of the first hits
        uint32_t begin;  // segments [begin, end)
        uint32_t end;
        uint32_t module;  // of the second hits
        uint32_t slot;    // the module's place among the targets of the first hits' module, nearest first
    };
    struct Linked {
        uint32_t segment;      // a segment with successors
        uint32_t items_begin;  // where its successors start in `items`
    };
    std::vector<uint32_t> second;       // segment -> position of its second hit
    std::vector<Run> runs;              // in segment order
    std::vector<uint32_t> run_offsets;  // position n -> runs[run_offsets[n] .. run_offsets[n + 1])
    std::vector<Linked> linked;
    std::vector<uint32_t> items;        // successors, list after list
    std::vector<uint64_t> marks;        // segment -> linked, one bit each
    WrittenFirst<uint32_t> renumbered;  // segment -> its number among the linked ones
    ReachGrid grid;
    HitArrays columns;
    FanScratch fan;

    size_t capacity_bytes() const {
        auto bytes = [](const auto& values) { return values.capacity() * sizeof(values[0]); };
        return bytes(second) + bytes(runs) + bytes(run_offsets) + bytes(linked) + bytes(items) + bytes(marks) +
               renumbered.capacity_bytes() + grid.capacity_bytes() + columns.capacity_bytes() + fan.capacity_bytes();
    }
};

// The graph of the segments that take part in a link, numbered in the order
// of all segments, with their successor lists; for distinct ids and finite
// positive tolerances. The counts are those of
// the whole graph (roots left 0).
GraphCounts build_linked_graph(const GraphDfsParameters& p, const GraphInput& input, SegmentGraph& graph,
                               LinkedGraphScratch& scratch);

// Whether build_linked_graph applies.
bool links_by_index(const GraphDfsParameters& p, std::span<const Hit> hits);

// Finds the successors of segments as they are made, by searching the
// segments that leave each one's second hit (and the positions sharing its
// id).
class SuccessorSearch {
public:
    SuccessorSearch(const GraphDfsParameters& p, std::span<const Hit> hits);

    // Appends the successor lists of segments [begin, end), the newest ones.
    void add_successors(SegmentGraph& graph, uint32_t begin, uint32_t end);

private:
    void add_by_search(SegmentGraph& graph, uint32_t t);

    const GraphDfsParameters& p_;
    PackedLists<uint32_t> sharing_id_;  // position -> positions whose segments may follow a segment ending there
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

// The same test for `count` tracks known by their hit count,
// hit_count(i), and their hits, for_each_hit(i, visit): whether each stays.
template <class HitCount, class ForEachHit>
std::vector<uint8_t> kept_by_clone_killing(size_t count, size_t id_bound, HitCount&& hit_count,
                                           ForEachHit&& for_each_hit) {
    UsedHitSet on_long_tracks(id_bound);
    for (size_t i = 0; i < count; ++i) {
        if (hit_count(i) >= 4) for_each_hit(i, [&on_long_tracks](const Hit& hit) { on_long_tracks.add(hit); });
    }
    std::vector<uint8_t> kept(count, 1);
    for (size_t i = 0; i < count; ++i) {
        if (hit_count(i) == 0 || hit_count(i) > 3) continue;
        for_each_hit(i, [&](const Hit& hit) { kept[i] &= !on_long_tracks.contains(hit); });
    }
    return kept;
}

}  // namespace corvane
