// Steps 1 to 3 of the graph: the x-sorted hit list, the candidate windows and
// the segments.
#include "algorithms/graph_dfs/graph.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/errors.hpp"

namespace corvane {
namespace {

template <class T>
size_t bytes_of(const std::vector<T>& values) {
    return values.capacity() * sizeof(T);
}

}  // namespace

// Ascending x, not-a-number last, so that the order is a true ordering (and
// the window scan below never meets a NaN before a number).
static bool x_before(const Hit& a, const Hit& b) { return !std::isnan(a.x) && (std::isnan(b.x) || a.x < b.x); }

void sorted_copy(const GraphInput& input, std::vector<Hit>& hits) {
    hits.assign(input.hits.begin(), input.hits.end());
    for (const Module& module : input.modules) {
        std::stable_sort(hits.begin() + static_cast<ptrdiff_t>(module.hit_start_index),
                         hits.begin() + static_cast<ptrdiff_t>(module.hit_end_index), x_before);
    }
}

TargetModule::TargetModule(std::span<const Hit> sorted, const Module& module)
    : hits_(sorted),
      begin_(static_cast<uint32_t>(module.hit_start_index)),
      end_(static_cast<uint32_t>(module.hit_end_index)) {
    uniform_z_ = std::all_of(hits_.begin() + begin_, hits_.begin() + end_,
                             [this](const Hit& hit) { return hit.z == hits_[begin_].z; });
    for (uint32_t i = begin_; i < end_; ++i) {
        all_z_finite_ = all_z_finite_ && std::isfinite(hits_[i].z);
        if (!std::isfinite(hits_[i].z)) continue;
        z_low_ = std::min(z_low_, hits_[i].z);
        z_high_ = std::max(z_high_, hits_[i].z);
    }
}

// Every hit left of h by more than the window can reach at any z of the
// module is outside: |w.z - h.z| rounds to at most the larger of its values
// at the module's lowest and highest z, and the slope test rounds
// monotonically, so those hits form a prefix that bisection skips. Hits at a
// non-finite z could be inside anywhere, so then nothing is skipped.
uint32_t TargetModule::first_possibly_inside(const GraphDfsParameters& p, const Hit& h) const {
    if (!all_z_finite_ || begin_ == end_) return begin_;
    const double reach = p.max_slope_x * std::max(std::abs(z_low_ - h.z),
                                                  std::abs(z_high_ - h.z));    // at least max_slope_x * |w.z - h.z|
    const double threshold = h.x - reach - (std::abs(h.x) + reach) * 0x1p-50;  // below h.x - reach, rounding included
    if (!(reach > 0) || !std::isfinite(threshold)) return begin_;
    return static_cast<uint32_t>(std::partition_point(hits_.begin() + begin_, hits_.begin() + end_,
                                                      [threshold](const Hit& w) { return w.x < threshold; }) -
                                 hits_.begin());
}

Window TargetModule::window(const GraphDfsParameters& p, const Hit& h, const HitColumns* columns) const {
    auto inside = [&p, &h](const Hit& w) { return p.max_slope_x * std::abs(w.z - h.z) > std::abs(w.x - h.x); };
    uint32_t b = begin_;
    if (uniform_z_) {
        // Outside and to the left of h: a prefix of the sorted module.
        auto left_outside = [&](const Hit& w) { return w.x < h.x && !inside(w); };
        b = static_cast<uint32_t>(std::partition_point(hits_.begin() + begin_, hits_.begin() + end_, left_outside) -
                                  hits_.begin());
        if (b < end_ && !inside(hits_[b])) b = end_;
    } else {
        b = first_possibly_inside(p, h);
        while (b < end_ && !inside(hits_[b])) ++b;
    }
    Window window{b, b};
    if (columns != nullptr) {
        window.end = inside_run_end(*columns, b, end_, {h.x, h.y, h.z}, p.max_slope_x);
    } else {
        while (window.end < end_ && inside(hits_[window.end])) ++window.end;
    }
    return window;
}

void SegmentGraph::clear() {
    hits.clear();
    first.clear();
    second.clear();
    second_x.clear();
    runs.clear();
    run_offsets.clear();
    successors.offsets.assign(1, 0);
    successors.items.clear();
}

size_t SegmentGraph::capacity_bytes() const {
    return bytes_of(hits) + bytes_of(first) + bytes_of(second) + bytes_of(second_x) + bytes_of(runs) +
           bytes_of(run_offsets) + bytes_of(successors.offsets) + bytes_of(successors.items);
}

size_t RootScratch::capacity_bytes() const { return bytes_of(with_successors) + bytes_of(weight) + bytes_of(follows); }

SegmentGraph build_segment_graph(const GraphDfsParameters& p, const GraphInput& input) {
    SegmentGraph graph;
    build_segment_graph(p, input, graph);
    return graph;
}

void build_segment_graph(const GraphDfsParameters& p, const GraphInput& input, SegmentGraph& graph) {
    graph.clear();
    sorted_copy(input, graph.hits);
    std::vector<TargetModule> targets;
    targets.reserve(input.modules.size());
    for (const Module& module : input.modules) targets.emplace_back(graph.hits, module);
    SuccessorSearch search(p, graph.hits);
    auto mark_positions_through = [&graph](size_t n) {
        while (graph.run_offsets.size() <= n) graph.run_offsets.push_back(static_cast<uint32_t>(graph.runs.size()));
    };

    // Modules are in ascending hit order, so walking them upwards numbers the
    // segments by their first hit's position. Modules 0 and 1 start none.
    for (size_t j = 0; j < input.modules.size(); ++j) {
        const Module& module = input.modules[j];
        for (auto n = static_cast<uint32_t>(module.hit_start_index); n < module.hit_end_index; ++n) {
            mark_positions_through(n);
            if (j < 2) continue;
            const Hit& a = graph.hits[n];
            for_each_target(p, static_cast<int64_t>(j), [&](size_t u) {
                const Window window = targets[u].window(p, a);
                const auto begin = static_cast<uint32_t>(graph.size());
                graph.runs.push_back({begin, begin, static_cast<uint32_t>(u), targets[u].uniform_z(), targets[u].z()});
                for (uint32_t k = window.first; k < window.end; ++k) {
                    const Hit& c = graph.hits[k];
                    if (!(p.max_slope_y * std::abs(c.z - a.z) > std::abs(c.y - a.y))) continue;
                    if (graph.size() >= std::numeric_limits<int32_t>::max()) {
                        throw RuntimeError("too many segments in one event");
                    }
                    graph.first.push_back(n);
                    graph.second.push_back(k);
                    graph.second_x.push_back(c.x);
                    graph.runs.back().end = static_cast<uint32_t>(graph.size());
                }
                if (graph.runs.back().begin == graph.runs.back().end) {
                    graph.runs.pop_back();
                } else {
                    search.add_successors(graph, begin, static_cast<uint32_t>(graph.size()));
                }
            });
        }
    }
    mark_positions_through(graph.hits.size());
}

}  // namespace corvane
