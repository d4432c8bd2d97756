#include <algorithm>
#include <string>

#include "algorithms/batch.hpp"
#include "algorithms/search_by_triplet_trie.hpp"
#include "algorithms/track_following.hpp"
#include "algorithms/worker_pool.hpp"
#include "core/errors.hpp"
#include "bindings/baseline.hpp"
#include "bindings/bind.hpp"
#include "bindings/class_builder.hpp"
#include "bindings/classes.hpp"

namespace corvane::py {
namespace {

std::vector<Track> track_following(const TrackFollowingParameters& algorithm, const EventHandle& event) {
    return solve_track_following_literal(algorithm, event.data->modules);
}

// Any list of modules (also fewer than 52, or with hand-made hit ids).
std::vector<Track> track_following_modules(const TrackFollowingParameters& algorithm, std::vector<Module> modules,
                                           bool literal) {
    return literal ? solve_track_following_literal(algorithm, modules) : solve_track_following(algorithm, modules);
}

uint64_t track_following_probes(const TrackFollowingParameters& algorithm, const EventHandle& event) {
    return count_track_following_probes(algorithm, event.data->modules);
}

std::vector<Track> search_by_triplet_trie(const SearchByTripletTrieParameters& algorithm, const EventHandle& event) {
    return solve_search_by_triplet_trie(algorithm, event.data->modules, SearchMode::plain_scan);
}

SearchMode search_mode(bool literal) { return literal ? SearchMode::plain_scan : SearchMode::indexed; }

std::vector<Track> search_by_triplet_trie_modules(const SearchByTripletTrieParameters& algorithm,
                                                  std::vector<Module> modules, bool literal) {
    return solve_search_by_triplet_trie(algorithm, modules, search_mode(literal));
}

uint64_t triplet_trie_entries(const SearchByTripletTrieParameters& algorithm, const EventHandle& event,
                              bool literal) {
    return count_triplet_trie_entries(algorithm, event.data->modules, search_mode(literal));
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
        "track_following(algorithm, event)\n--\n\nTrackFollowing.solve by plain scans, as a reference."),
    Function<&track_following_modules, "track_following_modules", "algorithm", "modules", "literal">::def(
        "track_following_modules(algorithm, modules, literal)\n--\n\nThe fast or the literal solver on a list "
        "of modules."),
    Function<&track_following_probes, "track_following_probes", "algorithm", "event">::def(
        "track_following_probes(algorithm, event)\n--\n\nHow many module searches TrackFollowing.solve makes."),
    Function<&search_by_triplet_trie, "search_by_triplet_trie", "algorithm", "event">::def(
        "search_by_triplet_trie(algorithm, event)\n--\n\nSearchByTripletTrie.solve by plain scans, as a "
        "reference."),
    Function<&search_by_triplet_trie_modules, "search_by_triplet_trie_modules", "algorithm", "modules",
             "literal">::def("search_by_triplet_trie_modules(algorithm, modules, literal)\n--\n\nThe indexed or "
                             "the plain-scan solver on a list of modules."),
    Function<&triplet_trie_entries, "triplet_trie_entries", "algorithm", "event", "literal">::def(
        "triplet_trie_entries(algorithm, event, literal)\n--\n\nBuilds the tries only; their number of "
        "entries."),
    Function<&worker_pool_size, "worker_pool_size">::def(
        "worker_pool_size()\n--\n\nThe batch pool's thread count (creates the pool)."),
    Function<&batch_probe, "batch_probe", "count", "failing">::def(
        "batch_probe(count, failing)\n--\n\nRuns items on the batch pool; the listed ones fail."),
};

}  // namespace

void attach_baseline_module(PyObject* corvane) {
    attach_private_module(corvane, "_baseline", functions);
}

}  // namespace corvane::py
