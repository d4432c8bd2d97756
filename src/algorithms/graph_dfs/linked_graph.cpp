// Steps 1 to 4 of the graph when links are found the usual way: the
// segments are enumerated and numbered in order, each one's successors looked
// up as it is made, and only the segments that take part in a link are kept,
// renumbered in the same order. Most segments link to nothing, and weights,
// roots and chains only ever look at linked ones.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <span>

#include "algorithms/graph_dfs/fan_cells.hpp"
#include "algorithms/graph_dfs/graph.hpp"
#include "algorithms/graph_dfs/link_test.hpp"
#include "core/errors.hpp"

namespace corvane {
namespace {

// The enumeration: numbers every segment in order and records the links of
// each one that has successors.
class LinkedGraphBuilder {
public:
    static constexpr size_t kSegmentsPerHitReserved = 96;
    static constexpr size_t kMostSegmentsReserved = size_t{1} << 22;  // 16 MB

    LinkedGraphBuilder(const GraphDfsParameters& p, const GraphInput& input, std::span<const Hit> hits,
                       LinkedGraphScratch& scratch)
        : p_(p), input_(input), hits_(hits), s_(scratch) {
        targets_.reserve(input.modules.size());
        for (const Module& module : input.modules) targets_.emplace_back(hits, module);
        by_grid_ = s_.grid.build(p, hits, input.modules);
        s_.columns.fill(hits);
        s_.second.clear();
        // Realistic events make up to about a hundred segments per hit: room
        // for them from the start saves copying the list as it grows (a huge
        // event's list grows as it must).
        s_.second.reserve(std::min(kSegmentsPerHitReserved * hits.size(), kMostSegmentsReserved));
        s_.runs.clear();
        s_.run_offsets.clear();
        s_.linked.clear();
        s_.items.clear();
    }

    void enumerate() {
        // Modules are in ascending hit order, so walking them upwards numbers
        // the segments by their first hit's position. Modules 0 and 1 start
        // none.
        for (size_t j = 0; j < input_.modules.size(); ++j) {
            const Module& module = input_.modules[j];
            for (auto n = static_cast<uint32_t>(module.hit_start_index); n < module.hit_end_index; ++n) {
                s_.run_offsets.push_back(static_cast<uint32_t>(s_.runs.size()));
                if (j < 2) continue;
                uint32_t slot = 0;
                for_each_target(p_, static_cast<int64_t>(j), [&](size_t u) { add_run(n, u, slot++); });
            }
        }
        s_.run_offsets.push_back(static_cast<uint32_t>(s_.runs.size()));
    }

private:
    // The segments from position n to module u, each linked as it is made:
    // its successors leave from lower positions, so they are numbered already.
    void add_run(uint32_t n, size_t u, uint32_t slot) {
        const Hit& b = hits_[n];
        const HitColumns columns = s_.columns.view();
        const Window window = targets_[u].window(p_, b, &columns);
        if (window.first == window.end) return;
        const uint32_t length = window.end - window.first;
        find_cells(b, u, window);
        // Room for every candidate, written in place and trimmed after: the
        // list only grows by this window while it is filled.
        std::vector<uint32_t>& second = s_.second;
        const auto begin = static_cast<uint32_t>(second.size());
        second.resize(size_t{begin} + length);
        // Segment numbers stay below 2^31 - 1; only a window that could pass
        // that needs counting.
        const bool near_limit = second.size() >= std::numeric_limits<int32_t>::max();
        const uint32_t end =
            by_grid_
                ? (near_limit ? fill_run<true, true>(b, window, begin) : fill_run<true, false>(b, window, begin))
                : (near_limit ? fill_run<false, true>(b, window, begin) : fill_run<false, false>(b, window, begin));
        second.resize(end);
        if (end > begin) s_.runs.push_back({n, begin, end, static_cast<uint32_t>(u), slot});
    }

    // Numbers the window's segments from `begin` (those that pass the slope
    // test in y) and links each one; returns the number after the last. Out
    // of line, with its own locals: inlined into the enumeration, its
    // counters lived on the stack.
    template <bool ByGrid, bool NearLimit>
    [[gnu::noinline]] uint32_t fill_run(const Hit& b, const Window& window, uint32_t begin) {
        uint32_t* const made = s_.second.data();
        // Locals for the loop: the link lists it appends to could alias
        // anything held in the scratch.
        const uint32_t* const run_offsets = s_.run_offsets.data();
        const LinkedGraphScratch::Run* const runs = s_.runs.data();
        const uint32_t* const keys = s_.fan.keys.data();
        const uint32_t stride = s_.fan.stride;
        const ReachGrid::Marks marks = s_.grid.marks();
        const uint64_t* const passing = s_.fan.y_pass.data();
        const uint32_t first = window.first, length = window.end - window.first;
        uint32_t t = begin;
        // A word of candidates at a time: most windows are one word, so the
        // loop over them ends once, not after every four.
        for (uint32_t word = 0; word < length; word += 64) {
            for (uint64_t bits = passing[word / 64]; bits != 0; bits &= bits - 1) {
                if (NearLimit && t >= std::numeric_limits<int32_t>::max()) {
                    throw RuntimeError("too many segments in one event");
                }
                const uint32_t i = word + static_cast<uint32_t>(std::countr_zero(bits));
                const uint32_t k = first + i;
                made[t] = k;
                // Only a segment into a hit that starts segments can have
                // successors (every segment has a length in z: the slope
                // test in y fails at none), and the reach grid rules out
                // most of those runs with one lookup each.
                const uint32_t end_run = run_offsets[k + 1];
                for (uint32_t r = run_offsets[k]; r < end_run; ++r) {
                    if (ByGrid && !marks.marked(keys[runs[r].slot * stride + i])) continue;
                    link(t, b, k, i, r, end_run);
                    break;
                }
                ++t;
            }
        }
        return t;
    }

    // The slope test in y of the window's hits, and where each candidate's
    // line crosses the target modules of u (when the reach grid applies).
    void find_cells(const Hit& b, size_t u, const Window& window) {
        FanScratch& fan = s_.fan;
        fan.targets.clear();
        if (by_grid_) {
            for_each_target(p_, static_cast<int64_t>(u), [&](size_t v) { fan.targets.push_back(&s_.grid.cells(v)); });
        }
        const uint32_t length = window.end - window.first;
        fan.stride = (length + 3) & ~uint32_t{3};
        fan.y_pass.resize(std::max<size_t>(fan.y_pass.size(), (length + 63) / 64));
        fan.keys.resize(std::max(fan.keys.size(), size_t{fan.stride} * fan.targets.size()));
        fan_cells(s_.columns.view(), window.first, length, {b.x, b.y, b.z}, p_.max_slope_y, fan.targets,
                  fan.y_pass.data(), fan.keys.data(), fan.stride);
    }

    // Records the successors of segment t (b -> hit at k, candidate i of the
    // window): the segments of runs [first_run, end_run) leaving k, nearest
    // module first and ascending within one (segment order), whose second
    // hit lies near t's line. Runs whose cell is unmarked hold none; the
    // caller has skipped those before first_run. Out of line: few segments
    // get here, and the loop that calls it stays lean.
    [[gnu::noinline]] void link(uint32_t t, const Hit& b, uint32_t k, uint32_t i, uint32_t first_run,
                                uint32_t end_run) {
        const auto items_begin = static_cast<uint32_t>(s_.items.size());
        bool found = false;
        for (uint32_t r = first_run; r < end_run; ++r) {
            const LinkedGraphScratch::Run& run = s_.runs[r];
            if (by_grid_ && !s_.grid.marked(s_.fan.keys[run.slot * s_.fan.stride + i])) continue;
            found |= add_successors(Predecessor(b, hits_[k]), run);
        }
        if (!found) return;
        // Lists start at 32-bit offsets.
        if (s_.items.size() > std::numeric_limits<uint32_t>::max()) throw RuntimeError("too many links in one event");
        s_.linked.push_back({t, items_begin});
    }

    // The run's segments whose second hit passes the link test after t, in
    // order. The line's offset at a z is computed by steps that each round
    // monotonically, so over a module's z range it lies between its values
    // at the lowest and the highest z: a passing hit lies within the
    // tolerance of that span (widened a little for the rounding of the
    // bounds), a stretch of the run's second hits, which ascend in x.
    bool add_successors(const Predecessor& t_line, const LinkedGraphScratch::Run& run) {
        const TargetModule& module = targets_[run.module];
        if (!(module.z_low() <= module.z_high())) return false;  // no hit at a finite z: none can pass
        const uint32_t* s = s_.second.data() + run.begin;
        const uint32_t* const end = s_.second.data() + run.end;
        const double* const xs = s_.columns.x.data();  // by position
        const double x1 = t_line.x_offset(module.z_low(), 0.0);
        const double x2 = t_line.x_offset(module.z_high(), 0.0);
        double x_high = INFINITY;
        if (std::abs(x1 - x2) < INFINITY) {
            const double slack = (std::abs(x1) + std::abs(x2) + p_.max_tolerance_x) * 0x1p-40;
            const double half = p_.max_tolerance_x + slack;
            const double x_low = (x1 < x2 ? x1 : x2) - half;
            x_high = (x1 < x2 ? x2 : x1) + half;
            s = std::partition_point(s, end, [xs, x_low](uint32_t c) { return xs[c] < x_low; });
        }
        // An overflowing line may still pass near some z of the range: then
        // every second hit is tested (NaN x sort last and never pass).
        bool found = false;
        for (; s != end && !(xs[*s] > x_high); ++s) {
            if (!t_line.may_follow(p_, hits_[*s])) continue;
            s_.items.push_back(static_cast<uint32_t>(s - s_.second.data()));
            found = true;
        }
        return found;
    }

    const GraphDfsParameters& p_;
    const GraphInput& input_;
    std::span<const Hit> hits_;
    LinkedGraphScratch& s_;
    std::vector<TargetModule> targets_;
    bool by_grid_ = false;
};

// Keeps the linked segments (those with successors and those that follow
// one), numbered in their order, with their successor lists renumbered.
void keep_linked(LinkedGraphScratch& s, SegmentGraph& graph) {
    const auto total = static_cast<uint32_t>(s.second.size());
    std::vector<uint64_t>& marks = s.marks;
    marks.assign(total / 64 + 1, 0);
    auto mark = [&marks](uint32_t i) { marks[i >> 6] |= uint64_t{1} << (i & 63); };
    for (const auto& entry : s.linked) mark(entry.segment);
    for (uint32_t item : s.items) mark(item);
    // Every linked segment's new number, by its old one (only those are read).
    uint32_t* const renumbered = s.renumbered.at_least(total);
    size_t run = 0;
    size_t next_linked = 0;
    for (size_t w = 0; w < marks.size(); ++w) {
        for (uint64_t bits = marks[w]; bits != 0; bits &= bits - 1) {
            const auto i = static_cast<uint32_t>(w * 64 + static_cast<size_t>(std::countr_zero(bits)));
            while (s.runs[run].end <= i) ++run;
            renumbered[i] = static_cast<uint32_t>(graph.first.size());
            graph.first.push_back(s.runs[run].first);
            graph.second.push_back(s.second[i]);
            if (next_linked < s.linked.size() && s.linked[next_linked].segment == i) ++next_linked;
            graph.successors.offsets.push_back(next_linked < s.linked.size() ? s.linked[next_linked].items_begin
                                                                             : static_cast<uint32_t>(s.items.size()));
        }
    }
    // The successor lists are already in segment order: renumber in place.
    for (uint32_t& item : s.items) item = renumbered[item];
    std::swap(graph.successors.items, s.items);
}

}  // namespace

GraphCounts build_linked_graph(const GraphDfsParameters& p, const GraphInput& input, SegmentGraph& graph,
                               LinkedGraphScratch& scratch) {
    graph.clear();
    sorted_copy(input, graph.hits);
    LinkedGraphBuilder builder(p, input, graph.hits, scratch);
    builder.enumerate();
    GraphCounts counts;
    counts.segments = scratch.second.size();
    counts.links = scratch.items.size();
    keep_linked(scratch, graph);
    return counts;
}

}  // namespace corvane
