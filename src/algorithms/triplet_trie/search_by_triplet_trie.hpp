// The triplet-trie finder: modules are paired into layers; for every window of
// three layers a trie maps (outer hit, middle hit) to the inner hit closest to
// their line; a sweep from the last layer down extends tracks through the
// tries (or a straight-line search in one module) and seeds new ones.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "event_model/module.hpp"
#include "event_model/track.hpp"

namespace corvane {

struct SearchByTripletTrieParameters {
    double max_scatter = 0.1;
    uint64_t min_strong_track_length = 4;
    uint64_t allowed_missed_modules = 2;
};

// How closest-hit searches run: through spatial indexes, or as the reference,
// plain scans of every hit in stored order. Both give the same hits.
enum class SearchMode { indexed, reference };

// Finished during the sweep, then strong at the end, then accepted weak.
std::vector<Track> solve_search_by_triplet_trie(const SearchByTripletTrieParameters& p, std::span<const Module> modules,
                                                SearchMode mode = SearchMode::indexed);

// Builds the tries only and returns their total number of (outer, middle)
// entries: lets the benchmark split the cost of building from sweeping.
size_t count_triplet_trie_entries(const SearchByTripletTrieParameters& p, std::span<const Module> modules,
                                  SearchMode mode);

}  // namespace corvane
