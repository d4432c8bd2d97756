#include "algorithms/graph_dfs/graph_dfs.hpp"

#include <algorithm>
#include <limits>
#include <optional>

#include "algorithms/graph_dfs/graph.hpp"
#include "algorithms/used_hits.hpp"

namespace corvane {
namespace {

constexpr uint32_t kNoSegment = std::numeric_limits<uint32_t>::max();

// For every segment, the first of its shortest chains in depth-first order:
// over its successors in order, the first whose own shortest chain is
// shortest, then that successor's choice. Successors have lower indices, so
// one ascending sweep sees every successor settled before its predecessors.
class ShortestChains {
public:
    // The lists are the caller's, reused between events.
    ShortestChains(const SegmentGraph& graph, std::vector<uint32_t>& next, std::vector<uint32_t>& length)
        : next_(next), length_(length) {
        next_.assign(graph.size(), kNoSegment);
        length_.assign(graph.size(), 1);
        for (uint32_t s = 0; s < graph.size(); ++s) {
            for (uint32_t c : graph.successors.of(s)) {
                if (next_[s] == kNoSegment || length_[c] < length_[next_[s]]) next_[s] = c;
            }
            if (next_[s] != kNoSegment) length_[s] = length_[next_[s]] + 1;
        }
    }

    std::vector<uint32_t> chain(uint32_t root) const {
        std::vector<uint32_t> chain;
        chain.reserve(length_[root]);
        for (uint32_t s = root; s != kNoSegment; s = next_[s]) chain.push_back(s);
        return chain;
    }

private:
    std::vector<uint32_t>& next_;
    std::vector<uint32_t>& length_;
};

// The working memory of solve, kept by each thread between events: building
// megabytes afresh for every event costs page faults that hold back threads
// solving side by side. A thread keeps no more than kKeptBytes of it between
// events, so one huge event does not pin its memory.
struct SolveScratch {
    static constexpr size_t kKeptBytes = size_t{64} << 20;
    SegmentGraph graph;
    LinkedGraphScratch linked;
    RootScratch roots;
    std::vector<uint32_t> next, length;

    size_t capacity_bytes() const {
        return graph.capacity_bytes() + linked.capacity_bytes() + roots.capacity_bytes() +
               (next.capacity() + length.capacity()) * sizeof(uint32_t);
    }
};

// Lends the thread's scratch for one solve and trims it afterwards, also when
// the solve throws. A solve nested in another on the same thread (nothing
// does that today) gets scratch of its own.
class BorrowedScratch {
public:
    BorrowedScratch() : lent_(!owner().in_use) {
        if (lent_) {
            owner().in_use = true;
        } else {
            own_.emplace();
        }
    }
    ~BorrowedScratch() {
        if (!lent_) return;
        SolveScratch& scratch = owner().scratch;
        if (scratch.capacity_bytes() > SolveScratch::kKeptBytes) scratch = SolveScratch{};
        owner().in_use = false;
    }
    BorrowedScratch(const BorrowedScratch&) = delete;
    BorrowedScratch& operator=(const BorrowedScratch&) = delete;
    SolveScratch& operator*() { return lent_ ? owner().scratch : *own_; }

private:
    struct Owner {
        SolveScratch scratch;
        bool in_use = false;
    };
    static Owner& owner() {
        thread_local Owner owner;
        return owner;
    }
    bool lent_;
    std::optional<SolveScratch> own_;
};

// The graph into scratch.graph: only its linked segments when the hit index
// applies, else every segment. The counts are those of the whole graph.
GraphCounts build_graph(const GraphDfsParameters& p, const GraphInput& input, LinkSearch links, SolveScratch& scratch) {
    if (links == LinkSearch::indexed && links_by_index(p, input.hits)) {
        return build_linked_graph(p, input, scratch.graph, scratch.linked);
    }
    build_segment_graph(p, input, scratch.graph);
    return {scratch.graph.size(), scratch.graph.successors.items.size(), 0};
}

}  // namespace

Track chain_track(const SegmentGraph& graph, std::span<const uint32_t> chain) {
    Track track;
    track.hits.reserve(chain.size() + 1);
    track.hits.push_back(graph.hits[graph.first[chain.front()]]);
    for (uint32_t s : chain) track.hits.push_back(graph.hits[graph.second[s]]);
    return track;
}

void kill_clones_and_ghosts(std::vector<Track>& tracks, size_t id_bound) {
    UsedHitSet on_long_tracks(id_bound);
    for (const Track& track : tracks) {
        if (track.hits.size() < 4) continue;
        for (const Hit& hit : track.hits) on_long_tracks.add(hit);
    }
    std::erase_if(tracks, [&on_long_tracks](const Track& track) {
        return !track.hits.empty() && track.hits.size() <= 3 &&
               std::any_of(track.hits.begin(), track.hits.end(),
                           [&on_long_tracks](const Hit& hit) { return on_long_tracks.contains(hit); });
    });
}

std::vector<Track> solve_graph_dfs(const GraphDfsParameters& p, const GraphInput& input, LinkSearch links) {
    BorrowedScratch borrowed;
    SolveScratch& scratch = *borrowed;
    build_graph(p, input, links, scratch);
    const SegmentGraph& graph = scratch.graph;
    const std::vector<uint32_t> roots = find_roots(p, graph, scratch.roots);
    std::vector<Track> tracks;
    if (roots.empty()) return tracks;
    const ShortestChains chains(graph, scratch.next, scratch.length);
    tracks.reserve(roots.size());
    for (uint32_t root : roots) tracks.push_back(chain_track(graph, chains.chain(root)));
    if (p.clone_ghost_killing) kill_clones_and_ghosts(tracks, graph.hits.size());
    return tracks;
}

GraphCounts count_graph_dfs(const GraphDfsParameters& p, const GraphInput& input) {
    BorrowedScratch borrowed;
    SolveScratch& scratch = *borrowed;
    GraphCounts counts = build_graph(p, input, LinkSearch::indexed, scratch);
    counts.roots = find_roots(p, scratch.graph, scratch.roots).size();
    return counts;
}

}  // namespace corvane
