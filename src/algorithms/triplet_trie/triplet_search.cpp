#include "algorithms/triplet_trie/triplet_search.hpp"

#include "algorithms/triplet_trie/reaching_pairs.hpp"

namespace corvane {
namespace {

// A thread keeps at most this much scratch between windows.
constexpr size_t kKeptScratchBytes = size_t{16} << 20;

// The filter's arrays and grid, kept per thread between windows and events.
struct TripletScratch {
    ReachingPairs filter;
    std::vector<uint32_t> candidates;
};

}  // namespace

// For every (outer, middle) pair in stored order, the inner hit closest to
// their line, if one scatters below max_scatter. Pairs whose line cannot come
// near an inner hit are passed over without a search.
TripletTrie find_triplets(const SearchByTripletTrieParameters& p, const Module& outer, const Module& middle,
                          const ClosestHitIndex& inner, SearchMode mode) {
    // Scatters are never negative (or are NaN): such a bound accepts nothing.
    if (!(p.max_scatter > 0.0)) return TripletTrie();
    thread_local TripletScratch scratch;
    std::vector<Triplet> triplets;
    const std::span<const Hit> inner_hits = inner.hits();
    const std::span<const Hit> middle_hits = middle.hits();
    // The reference tests every pair.
    const double filter_bound = mode == SearchMode::indexed ? p.max_scatter : 0.0;
    scratch.filter.reset(middle_hits, inner_hits, outer.hits(), filter_bound);
    const auto keep_all = [](const Hit&) { return false; };
    for (const Hit& h1 : outer.hits()) {
        scratch.filter.candidates(h1, scratch.candidates);
        for (uint32_t j : scratch.candidates) {
            const Closest found = inner.closest(line_through(h1, middle_hits[j]), p.max_scatter, keep_all);
            if (found.found()) {
                triplets.push_back({&h1, &middle_hits[j], &inner_hits[found.position], found.scatter});
            }
        }
    }
    // One huge layer does not hold its buffers for the thread's lifetime.
    if (scratch.filter.footprint() + scratch.candidates.capacity() * sizeof(uint32_t) > kKeptScratchBytes) {
        scratch = TripletScratch{};
    }
    return TripletTrie(std::move(triplets));
}

}  // namespace corvane
