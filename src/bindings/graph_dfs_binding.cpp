#include "algorithms/graph_dfs/graph_dfs.hpp"
#include "bindings/batch_binding.hpp"
#include "bindings/classes.hpp"
#include "bindings/layer/bind.hpp"
#include "bindings/layer/class_builder.hpp"
#include "bindings/registration.hpp"

namespace corvane::py {
namespace {

using Pair = std::pair<double, double>;

GraphDfsParameters new_graph_dfs(std::optional<Pair> max_slopes, std::optional<Pair> max_tolerance,
                                 std::optional<double> max_scatter, std::optional<int32_t> minimum_root_weight,
                                 std::optional<int32_t> weight_assignment_iterations,
                                 std::optional<int32_t> allowed_skip_modules, std::optional<bool> allow_cross_track,
                                 std::optional<bool> clone_ghost_killing) {
    GraphDfsParameters p;
    if (max_slopes) std::tie(p.max_slope_x, p.max_slope_y) = *max_slopes;
    if (max_tolerance) std::tie(p.max_tolerance_x, p.max_tolerance_y) = *max_tolerance;
    p.max_scatter = max_scatter.value_or(p.max_scatter);
    p.minimum_root_weight = minimum_root_weight.value_or(p.minimum_root_weight);
    p.weight_assignment_iterations = weight_assignment_iterations.value_or(p.weight_assignment_iterations);
    p.allowed_skip_modules = allowed_skip_modules.value_or(p.allowed_skip_modules);
    p.allow_cross_track = allow_cross_track.value_or(p.allow_cross_track);
    p.clone_ghost_killing = clone_ghost_killing.value_or(p.clone_ghost_killing);
    return p;
}

auto graph_dfs_arguments(const GraphDfsParameters& p) {
    return std::tuple(Pair(p.max_slope_x, p.max_slope_y), Pair(p.max_tolerance_x, p.max_tolerance_y), p.max_scatter,
                      p.minimum_root_weight, p.weight_assignment_iterations, p.allowed_skip_modules,
                      p.allow_cross_track, p.clone_ghost_killing);
}

std::vector<Track> solve_one_event(const GraphDfsParameters& p, const EventData& event) {
    return solve_graph_dfs(p, graph_input(event));
}

}  // namespace

void register_graph_dfs(PyObject* owner) {
    static ClassDefinition definition{
        .doc =
            "GraphDFS(cls, max_slopes=None, max_tolerance=None, max_scatter=None, minimum_root_weight=None, "
            "weight_assignment_iterations=None, allowed_skip_modules=None, allow_cross_track=None, "
            "clone_ghost_killing=None)\n--\n\n",
        .construct = Constructor<&new_graph_dfs, "max_slopes", "max_tolerance", "max_scatter", "minimum_root_weight",
                                 "weight_assignment_iterations", "allowed_skip_modules", "allow_cross_track",
                                 "clone_ghost_killing">::call,
        .getters = {},
        .methods =
            {
                solve_method<&solve_one_event>(
                    "solve($self, event)\n--\n\nSolves the event using the DFS strategy and returns a list of Tracks."),
                solve_batch_method<&solve_one_event>(),
            },
        .reduce = reduce<&graph_dfs_arguments>(),
    };
    register_class<GraphDfsParameters>(owner, definition);
}

}  // namespace corvane::py
