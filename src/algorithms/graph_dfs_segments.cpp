// Steps 1 to 3 of the graph: the x-sorted hit list, the candidate windows and
// the segments.
#include "algorithms/graph_dfs_graph.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/errors.hpp"

namespace corvane {
namespace {

// Ascending x, not-a-number last, so that the order is a true ordering (and
// the window scan below never meets a NaN before a number).
bool x_before(const Hit& a, const Hit& b) { return !std::isnan(a.x) && (std::isnan(b.x) || a.x < b.x); }

std::vector<Hit> sorted_copy(const GraphInput& input) {
    std::vector<Hit> hits(input.hits.begin(), input.hits.end());
    for (const Module& module : input.modules) {
        std::stable_sort(hits.begin() + static_cast<ptrdiff_t>(module.hit_start_index),
                         hits.begin() + static_cast<ptrdiff_t>(module.hit_end_index), x_before);
    }
    return hits;
}

struct Window {
    uint32_t first = 0;
    uint32_t end = 0;  // first == end: empty
};

// One module of the x-sorted hit list. When all its hits share one z, the
// x-window is a contiguous run found by bisection; otherwise by the scan.
class TargetModule {
public:
    TargetModule(std::span<const Hit> sorted, const Module& module)
        : hits_(sorted), begin_(static_cast<uint32_t>(module.hit_start_index)),
          end_(static_cast<uint32_t>(module.hit_end_index)) {
        uniform_z_ = std::all_of(hits_.begin() + begin_, hits_.begin() + end_,
                                 [this](const Hit& hit) { return hit.z == hits_[begin_].z; });
    }

    // The run of candidates for h: from the first hit inside the x-window to
    // the first hit after it that is outside (later hits are not candidates).
    bool uniform_z() const { return uniform_z_; }
    double z() const { return begin_ < end_ ? hits_[begin_].z : 0.0; }

    Window window(const GraphDfsParameters& p, const Hit& h) const {
        auto inside = [&p, &h](const Hit& w) { return p.max_slope_x * std::abs(w.z - h.z) > std::abs(w.x - h.x); };
        uint32_t b = begin_;
        if (uniform_z_) {
            // Outside and to the left of h: a prefix of the sorted module.
            auto left_outside = [&](const Hit& w) { return w.x < h.x && !inside(w); };
            b = static_cast<uint32_t>(std::partition_point(hits_.begin() + begin_, hits_.begin() + end_, left_outside) -
                                      hits_.begin());
            if (b < end_ && !inside(hits_[b])) b = end_;
        } else {
            while (b < end_ && !inside(hits_[b])) ++b;
        }
        Window window{b, b};
        while (window.end < end_ && inside(hits_[window.end])) ++window.end;
        return window;
    }

private:
    std::span<const Hit> hits_;
    uint32_t begin_;
    uint32_t end_;
    bool uniform_z_ = false;
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

}  // namespace

void add_segments(const GraphDfsParameters& p, const GraphInput& input, SegmentGraph& graph) {
    graph.hits = sorted_copy(input);
    const size_t module_count = input.modules.size();
    std::vector<uint32_t> run_positions;
    if (module_count >= 3) {
        std::vector<TargetModule> targets;
        targets.reserve(module_count);
        for (const Module& module : input.modules) targets.emplace_back(graph.hits, module);

        // Modules are in ascending hit order, so walking them upwards numbers
        // the segments by their first hit's position.
        for (size_t j = 2; j < module_count; ++j) {
            const Module& module = input.modules[j];
            for (auto n = static_cast<uint32_t>(module.hit_start_index); n < module.hit_end_index; ++n) {
                const Hit& a = graph.hits[n];
                for_each_target(p, static_cast<int64_t>(j), [&](size_t u) {
                    const Window window = targets[u].window(p, a);
                    SegmentRun run{static_cast<uint32_t>(graph.size()), 0, targets[u].uniform_z(), targets[u].z()};
                    for (uint32_t k = window.first; k < window.end; ++k) {
                        const Hit& c = graph.hits[k];
                        if (!(p.max_slope_y * std::abs(c.z - a.z) > std::abs(c.y - a.y))) continue;
                        if (graph.size() >= std::numeric_limits<int32_t>::max()) {
                            throw RuntimeError("too many segments in one event");
                        }
                        graph.first.push_back(n);
                        graph.second.push_back(k);
                        graph.second_x.push_back(c.x);
                    }
                    run.end = static_cast<uint32_t>(graph.size());
                    if (run.end == run.begin) return;
                    graph.runs.push_back(run);
                    run_positions.push_back(n);
                });
            }
        }
    }
    graph.run_offsets.assign(graph.hits.size() + 1, 0);
    for (uint32_t n : run_positions) ++graph.run_offsets[n + 1];
    for (size_t n = 0; n < graph.hits.size(); ++n) graph.run_offsets[n + 1] += graph.run_offsets[n];
}

}  // namespace corvane
