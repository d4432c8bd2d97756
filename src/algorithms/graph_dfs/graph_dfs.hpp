// The graph track finder: hit pairs on two modules become segments, segments
// that share a hit and lie on one line are linked, and every root segment (one
// that leads somewhere and follows nothing) yields the track of its shortest
// chain down the graph. Its steps, in order:
//   1. the hit list sorted by x within each module;
//   2. the candidate windows: for each hit, the hits of a lower module within
//      the slope in x;
//   3. the segments: the window's pairs that pass the slope in y
//      (segments.cpp does steps 1 to 3);
//   4. the links from each segment to the segments that may follow it;
//   5. the weights, passes of 1 + the largest weight among the successors;
//   6. the roots: linked segments that follow none, heavy enough
//      (links.cpp does steps 4 to 6);
//   7. the tracks: each root's shortest chain (graph_dfs.cpp);
//   8. clone and ghost killing, when asked for.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "event_model/event.hpp"
#include "event_model/hit.hpp"
#include "event_model/module.hpp"
#include "event_model/track.hpp"

namespace corvane {

struct GraphDfsParameters {
    double max_slope_x = 0.7;  // width of the candidate window
    double max_slope_y = 0.7;  // slope test of a segment
    double max_tolerance_x = 0.4;
    double max_tolerance_y = 0.4;
    double max_scatter = 0.4;
    int32_t minimum_root_weight = 1;
    int32_t weight_assignment_iterations = 2;
    int32_t allowed_skip_modules = 1;
    bool allow_cross_track = true;  // false: only modules an even distance apart are joined
    bool clone_ghost_killing = true;
};

// What the finder reads of an event. Module ranges must lie within `hits`, in
// ascending order and without overlap (an Event's modules always do).
struct GraphInput {
    std::span<const Hit> hits;
    std::span<const Module> modules;
};

inline GraphInput graph_input(const EventData& event) { return {*event.hits, event.modules}; }

// How the links between segments are found: through a grid of the cells
// within reach of each module's hits and a bisection of the segments that
// leave each segment's second hit (the usual way), or by searching those
// segments one by one (the reference way).
enum class LinkSearch { indexed, reference };

// The tracks of one event, in root order, each the root's first hit followed
// by the first of its shortest chains in depth-first order. Linear in the
// number of segments and links.
std::vector<Track> solve_graph_dfs(const GraphDfsParameters& p, const GraphInput& input,
                                   LinkSearch links = LinkSearch::indexed);

// The same tracks found the reference way, by enumerating every chain below
// every root of the graph linked the reference way. Exponential; throws
// RuntimeError once more than `path_budget` chains have been enumerated in
// one call.
std::vector<Track> solve_graph_dfs_reference(const GraphDfsParameters& p, const GraphInput& input,
                                             uint64_t path_budget);

// Size of the graph an event makes.
struct GraphCounts {
    uint64_t segments = 0;
    uint64_t links = 0;
    uint64_t roots = 0;
};
GraphCounts count_graph_dfs(const GraphDfsParameters& p, const GraphInput& input);

}  // namespace corvane
