#include "algorithms/graph_dfs/graph_dfs.hpp"

#include <algorithm>
#include <limits>
#include <optional>

#include "algorithms/graph_dfs/graph.hpp"

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

    // The hits of root's track: its first hit, then each segment's second.
    uint32_t hit_count(uint32_t root) const { return length_[root] + 1; }
    template <class Visit>
    void for_each_hit(const SegmentGraph& graph, uint32_t root, Visit&& visit) const {
        visit(graph.hits[graph.first[root]]);
        for (uint32_t s = root; s != kNoSegment; s = next_[s]) visit(graph.hits[graph.second[s]]);
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
    const std::vector<uint8_t> kept = kept_by_clone_killing(
        tracks.size(), id_bound, [&tracks](size_t i) { return tracks[i].hits.size(); },
        [&tracks](size_t i, auto&& visit) {
            for (const Hit& hit : tracks[i].hits) visit(hit);
        });
    size_t i = 0;
    std::erase_if(tracks, [&kept, &i](const Track&) { return !kept[i++]; });
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
    // Tracks are made only for the roots that clone and ghost killing keeps.
    auto for_each_hit = [&](size_t i, auto&& visit) { chains.for_each_hit(graph, roots[i], visit); };
    const std::vector<uint8_t> kept =
        p.clone_ghost_killing ? kept_by_clone_killing(
                                    roots.size(), graph.hits.size(),
                                    [&](size_t i) { return size_t{chains.hit_count(roots[i])}; }, for_each_hit)
                              : std::vector<uint8_t>(roots.size(), 1);
    tracks.reserve(roots.size());
    for (size_t i = 0; i < roots.size(); ++i) {
        if (!kept[i]) continue;
        Track& track = tracks.emplace_back();
        track.hits.reserve(chains.hit_count(roots[i]));
        for_each_hit(i, [&track](const Hit& hit) { track.hits.push_back(hit); });
    }
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
