// The triplets of one window: for every (outer, middle) pair of hits, the
// inner hit closest to their line.
#pragma once

#include "algorithms/triplet_trie/closest_hit_index.hpp"
#include "algorithms/triplet_trie/search_by_triplet_trie.hpp"
#include "algorithms/triplet_trie/triplet_trie.hpp"

namespace corvane {

// Pairs in stored order (outer, then middle); a pair gets an entry when an
// inner hit scatters below max_scatter. The indexed mode passes over the pairs
// whose line cannot come near an inner hit.
TripletTrie find_triplets(const SearchByTripletTrieParameters& p, const Module& outer, const Module& middle,
                          const ClosestHitIndex& inner, SearchMode mode);

}  // namespace corvane
