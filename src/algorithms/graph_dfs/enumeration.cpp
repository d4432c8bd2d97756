// The root's chains enumerated one by one, depth first, then ordered by
// length: the slow reference the dynamic programme is checked against.
#include <algorithm>
#include <string>
#include <utility>

#include "algorithms/graph_dfs/graph.hpp"
#include "algorithms/graph_dfs/graph_dfs.hpp"
#include "core/errors.hpp"

namespace corvane {
namespace {

// Every chain from `root` to a segment without successors, in depth-first
// order (successors in list order). `budget` counts down the chains still
// allowed in this call.
std::vector<std::vector<uint32_t>> enumerate_chains(const SegmentGraph& graph, uint32_t root, uint64_t& budget,
                                                    uint64_t path_budget) {
    std::vector<std::vector<uint32_t>> chains;
    std::vector<std::pair<uint32_t, size_t>> stack{{root, 0}};  // segment, next successor to visit
    while (!stack.empty()) {
        const auto [s, next] = stack.back();
        const auto successors = graph.successors.of(s);
        if (successors.empty()) {
            if (budget == 0) {
                throw RuntimeError("more than " + std::to_string(path_budget) + " paths to enumerate");
            }
            --budget;
            std::vector<uint32_t> chain;
            chain.reserve(stack.size());
            for (const auto& entry : stack) chain.push_back(entry.first);
            chains.push_back(std::move(chain));
        }
        if (next == successors.size()) {
            stack.pop_back();
            continue;
        }
        stack.back().second = next + 1;
        stack.emplace_back(successors[next], 0);
    }
    return chains;
}

}  // namespace

std::vector<Track> solve_graph_dfs_reference(const GraphDfsParameters& p, const GraphInput& input,
                                             uint64_t path_budget) {
    const SegmentGraph graph = build_segment_graph(p, input);
    std::vector<Track> tracks;
    uint64_t budget = path_budget;
    for (uint32_t root : find_roots(p, graph)) {
        std::vector<std::vector<uint32_t>> chains = enumerate_chains(graph, root, budget, path_budget);
        std::stable_sort(chains.begin(), chains.end(),
                         [](const auto& a, const auto& b) { return a.size() < b.size(); });
        tracks.push_back(chain_track(graph, chains.front()));
    }
    if (p.clone_ghost_killing) kill_clones_and_ghosts(tracks, graph.hits.size());
    return tracks;
}

}  // namespace corvane
