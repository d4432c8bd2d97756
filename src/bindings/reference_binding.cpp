#include <algorithm>
#include <string>

#include "algorithms/graph_dfs/graph_dfs.hpp"
#include "algorithms/track_following/track_following.hpp"
#include "algorithms/triplet_trie/search_by_triplet_trie.hpp"
#include "bindings/classes.hpp"
#include "bindings/layer/bind.hpp"
#include "bindings/layer/class_builder.hpp"
#include "bindings/registration.hpp"
#include "core/errors.hpp"
#include "parallel/batch.hpp"
#include "parallel/worker_pool.hpp"

namespace corvane::py {
namespace {

std::vector<Track> track_following(const TrackFollowingParameters& algorithm, const EventHandle& event) {
    return solve_track_following_reference(algorithm, event.data->modules);
}

// Any list of modules (also fewer than 52, or with hand-made hit ids).
std::vector<Track> track_following_modules(const TrackFollowingParameters& algorithm, std::vector<Module> modules,
                                           bool reference) {
    return reference ? solve_track_following_reference(algorithm, modules) : solve_track_following(algorithm, modules);
}

uint64_t track_following_probes(const TrackFollowingParameters& algorithm, const EventHandle& event) {
    return count_track_following_probes(algorithm, event.data->modules);
}

std::vector<Track> search_by_triplet_trie(const SearchByTripletTrieParameters& algorithm, const EventHandle& event) {
    return solve_search_by_triplet_trie(algorithm, event.data->modules, SearchMode::reference);
}

SearchMode search_mode(bool reference) { return reference ? SearchMode::reference : SearchMode::indexed; }

std::vector<Track> search_by_triplet_trie_modules(const SearchByTripletTrieParameters& algorithm,
                                                  std::vector<Module> modules, bool reference) {
    return solve_search_by_triplet_trie(algorithm, modules, search_mode(reference));
}

uint64_t triplet_trie_entries(const SearchByTripletTrieParameters& algorithm, const EventHandle& event,
                              bool reference) {
    return count_triplet_trie_entries(algorithm, event.data->modules, search_mode(reference));
}

std::vector<Track> graph_dfs(const GraphDfsParameters& algorithm, const EventHandle& event, uint64_t path_budget) {
    return solve_graph_dfs_reference(algorithm, graph_input(*event.data), path_budget);
}

std::vector<Track> graph_dfs_reference_links(const GraphDfsParameters& algorithm, const EventHandle& event) {
    return solve_graph_dfs(algorithm, graph_input(*event.data), LinkSearch::reference);
}

// Any hit list (ids may repeat) cut into modules at ascending boundaries;
// the enumeration when a path budget is given, else the usual solver.
std::vector<Track> graph_dfs_hits(const GraphDfsParameters& algorithm, std::vector<Hit> hits,
                                  std::vector<uint64_t> boundaries, std::optional<uint64_t> path_budget) {
    auto shared = std::make_shared<const std::vector<Hit>>(std::move(hits));
    std::vector<Module> modules;
    for (size_t m = 0; m + 1 < boundaries.size(); ++m) {
        modules.push_back(make_module(static_cast<uint32_t>(m), 0.0, boundaries[m], boundaries[m + 1], shared));
    }
    const GraphInput input{*shared, modules};
    return path_budget ? solve_graph_dfs_reference(algorithm, input, *path_budget) : solve_graph_dfs(algorithm, input);
}

std::vector<uint64_t> graph_dfs_counts(const GraphDfsParameters& algorithm, const EventHandle& event) {
    const GraphCounts counts = count_graph_dfs(algorithm, graph_input(*event.data));
    return {counts.segments, counts.links, counts.roots};
}

uint64_t worker_pool_size() { return WorkerPool::shared().size(); }

// Items 0..count-1 on the pool; the listed ones fail. Shows how results and
// failures come back from the workers.
std::vector<uint64_t> batch_probe(uint64_t count, std::vector<uint64_t> failing) {
    return solve_in_order<uint64_t>(count, [&failing](size_t i) -> uint64_t {
        if (std::find(failing.begin(), failing.end(), i) != failing.end()) {
            throw ValueError("item " + std::to_string(i) + " failed");
        }
        return i;
    });
}

PyMethodDef functions[] = {
    Function<&track_following, "track_following", "algorithm", "event">::def(
        "track_following(algorithm, event)\n--\n\nTrackFollowing.solve by the reference path (scans, a used-hit "
        "list)."),
    Function<&track_following_modules, "track_following_modules", "algorithm", "modules", "reference">::def(
        "track_following_modules(algorithm, modules, reference)\n--\n\nThe fast or the reference solver on a "
        "list of modules."),
    Function<&track_following_probes, "track_following_probes", "algorithm", "event">::def(
        "track_following_probes(algorithm, event)\n--\n\nHow many module searches TrackFollowing.solve makes."),
    Function<&search_by_triplet_trie, "search_by_triplet_trie", "algorithm", "event">::def(
        "search_by_triplet_trie(algorithm, event)\n--\n\nSearchByTripletTrie.solve by the reference path "
        "(scans)."),
    Function<&search_by_triplet_trie_modules, "search_by_triplet_trie_modules", "algorithm", "modules",
             "reference">::def("search_by_triplet_trie_modules(algorithm, modules, reference)\n--\n\nThe indexed "
                               "or the reference solver on a list of modules."),
    Function<&triplet_trie_entries, "triplet_trie_entries", "algorithm", "event", "reference">::def(
        "triplet_trie_entries(algorithm, event, reference)\n--\n\nBuilds the tries only; their number of "
        "entries."),
    Function<&graph_dfs, "graph_dfs", "algorithm", "event", "path_budget">::def(
        "graph_dfs(algorithm, event, path_budget)\n--\n\nGraphDFS.solve by the reference path: every path below "
        "each root enumerated; RuntimeError beyond path_budget paths."),
    Function<&graph_dfs_reference_links, "graph_dfs_reference_links", "algorithm", "event">::def(
        "graph_dfs_reference_links(algorithm, event)\n--\n\nGraphDFS.solve with the reference link search: "
        "the segments leaving each segment's end, searched one by one."),
    Function<&graph_dfs_hits, "graph_dfs_hits", "algorithm", "hits", "boundaries", "path_budget">::def(
        "graph_dfs_hits(algorithm, hits, boundaries, path_budget=None)\n--\n\nGraphDFS on any hit list cut into "
        "modules at ascending boundaries; the reference enumeration when path_budget is given."),
    Function<&graph_dfs_counts, "graph_dfs_counts", "algorithm", "event">::def(
        "graph_dfs_counts(algorithm, event)\n--\n\n[segments, links, roots] of GraphDFS on the event."),
    Function<&worker_pool_size, "worker_pool_size">::def(
        "worker_pool_size()\n--\n\nThe batch pool's thread count (creates the pool)."),
    Function<&batch_probe, "batch_probe", "count", "failing">::def(
        "batch_probe(count, failing)\n--\n\nRuns items on the batch pool; the listed ones fail."),
};

}  // namespace

void register_reference_module(PyObject* corvane) { attach_private_module(corvane, "_reference", functions); }

}  // namespace corvane::py
