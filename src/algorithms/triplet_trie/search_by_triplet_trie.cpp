#include "algorithms/triplet_trie/search_by_triplet_trie.hpp"

#include <algorithm>

#include "algorithms/triplet_trie/closest_hit_index.hpp"
#include "algorithms/triplet_trie/steps.hpp"
#include "algorithms/triplet_trie/triplet_search.hpp"

namespace corvane {

std::vector<Module> make_layers(std::span<const Module> modules) {
    std::vector<Module> layers;
    layers.reserve(modules.size() / 2);
    for (size_t k = 0; k + 1 < modules.size(); k += 2) {
        const Module& first = modules[k];
        const Module& second = modules[k + 1];
        Module layer = first;
        layer.hit_end_index = std::max(second.hit_end_index, first.hit_start_index);
        // Modules made by hand may hold different hit lists: the layer never
        // reads past the end of its own.
        layer.hit_end_index = std::min<uint64_t>(layer.hit_end_index, first.global_hits->size());
        layer.module_number = first.module_number >> 1;
        layers.push_back(std::move(layer));
    }
    return layers;
}

TrieTable build_trie_table(const SearchByTripletTrieParameters& p, std::span<const Module> layers, SearchMode mode) {
    TrieTable tries;
    const size_t n = layers.size();
    std::vector<std::optional<ClosestHitIndex>> inner_indexes(n);
    for (size_t i = n; i-- > 2;) {
        const Module& outer = layers[i];
        const Module& middle = layers[i - 1];
        const size_t k = middle.module_number == 0 ? 0 : middle.module_number - 1;
        // A trie for a layer without a slot would be dropped unused.
        if (k >= n || outer.module_number >= kTrieSlots) continue;
        std::optional<ClosestHitIndex>& inner = inner_indexes[k];
        if (!inner) inner.emplace(layers[k].hits(), mode == SearchMode::indexed, p.max_scatter);
        tries[outer.module_number] = find_triplets(p, outer, middle, *inner, mode);
    }
    return tries;
}

std::vector<Track> solve_search_by_triplet_trie(const SearchByTripletTrieParameters& p, std::span<const Module> modules,
                                                SearchMode mode) {
    const std::vector<Module> layers = make_layers(modules);
    if (layers.size() < 3) return {};
    const TrieTable tries = build_trie_table(p, layers, mode);
    return sweep_layers(p, modules, layers, tries, mode);
}

size_t count_triplet_trie_entries(const SearchByTripletTrieParameters& p, std::span<const Module> modules,
                                  SearchMode mode) {
    const std::vector<Module> layers = make_layers(modules);
    if (layers.size() < 3) return 0;
    size_t count = 0;
    for (const std::optional<TripletTrie>& trie : build_trie_table(p, layers, mode)) {
        if (trie) count += trie->entry_count();
    }
    return count;
}

}  // namespace corvane
