#include "algorithms/triplet_trie/triplet_search.hpp"

#include "algorithms/triplet_trie/reaching_pairs.hpp"

namespace corvane {
namespace {

// A thread keeps at most this much scratch between windows.
constexpr size_t kKeptScratchBytes = size_t{16} << 20;

// The filter's arrays and grid, kept per thread between windows and events.
struct TripletScratch {
    ReachingPairs filter;
    std::vector<ReachingPairs::Candidate> candidates;
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
        for (const ReachingPairs::Candidate& candidate : scratch.candidates) {
            const Hit& h2 = middle_hits[candidate.position];
            const LineThrough line = line_through(h1, h2);
            const Closest found = candidate.cell == ReachingPairs::kAnyCell
                                      ? inner.closest(line, p.max_scatter, keep_all)
                                      : scratch.filter.closest_near(line, candidate.cell, p.max_scatter);
            if (found.found()) triplets.push_back({&h1, &h2, &inner_hits[found.position], found.scatter});
        }
    }
    // One huge layer does not hold its buffers for the thread's lifetime.
    if (scratch.filter.footprint() + scratch.candidates.capacity() * sizeof(ReachingPairs::Candidate) >
        kKeptScratchBytes) {
        scratch = TripletScratch{};
    }
    return TripletTrie(std::move(triplets));
}

}  // namespace corvane
