// Steps 1 to 4 of the graph when links are found through the hit index: the
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

#include "algorithms/graph_dfs/graph.hpp"
#include "algorithms/graph_dfs/link_test.hpp"
#include "algorithms/graph_dfs/z_planes.hpp"
#include "core/errors.hpp"

namespace corvane {
namespace {

// The enumeration: numbers every segment in order and records the links of
// each one that has successors.
class LinkedGraphBuilder {
public:
    LinkedGraphBuilder(const GraphDfsParameters& p, const GraphInput& input, std::span<const Hit> hits,
                       LinkedGraphScratch& scratch)
        : p_(p),
          input_(input),
          hits_(hits),
          s_(scratch),
          strips_(hits, input.modules, 2 * p.max_tolerance_x, 2 * p.max_tolerance_y) {
        targets_.reserve(input.modules.size());
        for (const Module& module : input.modules) targets_.emplace_back(hits, module);
        s_.planes.find(hits, input.modules);
        s_.second.clear();
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
                for_each_target(p_, static_cast<int64_t>(j), [&](size_t u) { add_run(n, u); });
            }
        }
        s_.run_offsets.push_back(static_cast<uint32_t>(s_.runs.size()));
    }

private:
    // The segments from position n to module u, each linked as it is made:
    // its successors leave from lower positions, so they are numbered already.
    void add_run(uint32_t n, size_t u) {
        const Hit& a = hits_[n];
        const Window window = targets_[u].window(p_, a);
        if (window.first == window.end) return;
        s_.planes.reciprocals(u, a.z, reciprocals_);
        const auto begin = static_cast<uint32_t>(s_.second.size());
        for (uint32_t k = window.first; k < window.end; ++k) {
            const Hit& c = hits_[k];
            if (!(p_.max_slope_y * std::abs(c.z - a.z) > std::abs(c.y - a.y))) continue;
            if (s_.second.size() >= std::numeric_limits<int32_t>::max()) {
                throw RuntimeError("too many segments in one event");
            }
            const auto t = static_cast<uint32_t>(s_.second.size());
            s_.second.push_back(k);
            link(t, a, k);
        }
        if (s_.second.size() > begin) {
            s_.runs.push_back({n, begin, static_cast<uint32_t>(s_.second.size()), static_cast<uint32_t>(u)});
        }
    }

    // Records the successors of segment t (b -> hit at k): the segments
    // leaving k, nearest module first and ascending within one (segment
    // order), whose second hit lies near t's line.
    void link(uint32_t t, const Hit& b, uint32_t k) {
        const uint32_t first_run = s_.run_offsets[k];
        const uint32_t end_run = s_.run_offsets[k + 1];
        if (first_run == end_run) return;  // nothing leaves k: t has no successor
        const Hit& a = hits_[k];
        if (a.z - b.z == 0) return;
        const uint8_t plane = s_.planes.plane(k);
        const Predecessor t_line(b, a, plane == ZPlanes::kNone ? 1 / (a.z - b.z) : reciprocals_[plane]);
        const auto items_begin = static_cast<uint32_t>(s_.items.size());
        for (uint32_t r = first_run; r < end_run; ++r) add_successors(t_line, s_.runs[r]);
        if (s_.items.size() == items_begin) return;
        // Lists start at 32-bit offsets.
        if (s_.items.size() > std::numeric_limits<uint32_t>::max()) throw RuntimeError("too many links in one event");
        s_.linked.push_back({t, items_begin});
    }

    // The line's offset at a z is computed by steps that each round
    // monotonically, so over a module's z range it lies between its values at
    // the lowest and the highest z: the box spans both, widened by the
    // tolerance (and a little more, for the rounding of the box itself).
    void add_successors(const Predecessor& t_line, const LinkedGraphScratch::Run& run) {
        const TargetModule& module = targets_[run.module];
        if (!(module.z_low() <= module.z_high())) return;  // no hit at a finite z: none can pass
        auto passes = [&](uint32_t c) { return t_line.may_follow(p_, hits_[c]); };
        const double x1 = t_line.x_offset(module.z_low(), 0.0);
        const double x2 = t_line.x_offset(module.z_high(), 0.0);
        const double y1 = t_line.y_offset(module.z_low(), 0.0);
        const double y2 = t_line.y_offset(module.z_high(), 0.0);
        std::vector<uint32_t>& near = s_.near;
        near.clear();
        // Finite differences imply finite offsets (an infinite or NaN one
        // makes its difference infinite or NaN).
        if (std::isfinite((x1 - x2) + (y1 - y2))) {
            const double x_slack = (std::abs(x1) + std::abs(x2) + p_.max_tolerance_x) * 0x1p-40;
            const double y_slack = (std::abs(y1) + std::abs(y2) + p_.max_tolerance_y) * 0x1p-40;
            const double x_half = p_.max_tolerance_x + x_slack;
            const double y_half = p_.max_tolerance_y + y_slack;
            const double x_low = (x1 < x2 ? x1 : x2) - x_half;
            const double x_high = (x1 < x2 ? x2 : x1) + x_half;
            const double y_low = (y1 < y2 ? y1 : y2) - y_half;
            const double y_high = (y1 < y2 ? y2 : y1) + y_half;
            if (!strips_.may_hold(run.module, x_low, x_high, y_low, y_high)) return;
            strips_.for_each_in_box(run.module, x_low, x_high, y_low, y_high, [&](uint32_t c) {
                if (passes(c)) near.push_back(c);
            });
            if (near.empty()) return;
            std::sort(near.begin(), near.end());
        } else {
            // An overflowing line may still pass near some z of the range:
            // test the run's second hits one by one.
            for (uint32_t s = run.begin; s < run.end; ++s) {
                if (passes(s_.second[s])) near.push_back(s_.second[s]);
            }
        }
        // The run's second hits ascend, as do the hits found; a hit passing
        // the link test must still be the second hit of a segment from a.
        // Few hits found (the usual case) are looked up by bisection; many
        // (in dense bundles) are merged with the run in one pass.
        const auto end = s_.second.begin() + run.end;
        auto s = s_.second.begin() + run.begin;
        const bool merge = near.size() * 8 > run.end - run.begin;
        for (uint32_t c : near) {
            if (merge) {
                while (s != end && *s < c) ++s;
            } else {
                s = std::lower_bound(s, end, c);
            }
            if (s == end) break;
            if (*s == c) s_.items.push_back(static_cast<uint32_t>(s - s_.second.begin()));
        }
    }

    const GraphDfsParameters& p_;
    const GraphInput& input_;
    std::span<const Hit> hits_;
    LinkedGraphScratch& s_;
    std::vector<TargetModule> targets_;
    StripIndex strips_;
    std::array<double, ZPlanes::kMaxPlanes> reciprocals_{};
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
    std::vector<uint32_t>& renumbered = s.renumbered;
    renumbered.resize(total);
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
