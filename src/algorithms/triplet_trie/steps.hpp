// The two stages of the triplet-trie search: building the tries of every
// window, then sweeping the layers with them.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <vector>

#include "algorithms/triplet_trie/search_by_triplet_trie.hpp"
#include "algorithms/triplet_trie/triplet_trie.hpp"

namespace corvane {

// Layers numbered from this on have no trie.
inline constexpr size_t kTrieSlots = 26;

using TrieTable = std::array<std::optional<TripletTrie>, kTrieSlots>;

// Modules 2k and 2k+1 merged into layer k; a trailing unpaired module is left
// out.
std::vector<Module> make_layers(std::span<const Module> modules);

// One trie per window, in the slot of its outer layer's number.
TrieTable build_trie_table(const SearchByTripletTrieParameters& p, std::span<const Module> layers, SearchMode mode);

// Extends, finishes and seeds tracks from the last layer down to the first.
std::vector<Track> sweep_layers(const SearchByTripletTrieParameters& p, std::span<const Module> modules,
                                std::span<const Module> layers, const TrieTable& tries, SearchMode mode);

}  // namespace corvane
