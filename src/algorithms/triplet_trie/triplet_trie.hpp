// A triplet trie: outer hit -> middle hit -> (inner hit, scatter), keyed by
// hit id and iterated in insertion order, so results never depend on hashing.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "event_model/hit.hpp"

namespace corvane {

struct Triplet {
    const Hit* outer;
    const Hit* middle;
    const Hit* inner;
    double scatter;
};

class TripletTrie {
public:
    struct Entry {
        const Hit* middle;
        const Hit* inner;
        double scatter;
        uint32_t rank;  // place in iteration order within the branch's map
    };
    struct Branch {
        const Hit* outer;
        uint32_t begin;  // of its entries, sorted by middle id
        uint32_t end;
    };

    TripletTrie() = default;

    // Inserts the triplets in order: an outer hit's branch takes the place of
    // its first triplet, and a repeated (outer, middle) pair keeps its first
    // place and key hit but takes the later inner hit and scatter.
    explicit TripletTrie(std::vector<Triplet> triplets);

    bool empty() const { return branches_.empty(); }
    size_t entry_count() const { return entries_.size(); }

    // The inner hit stored for (outer, middle), matched by id, or nullptr.
    const Hit* inner_for(const Hit& outer, const Hit& middle) const;

    // Branches in iteration order; a branch's entries by middle id, each with
    // its rank in iteration order.
    std::span<const Branch> branches() const { return branches_; }
    std::span<const Entry> entries(const Branch& branch) const {
        return std::span(entries_).subspan(branch.begin, branch.end - branch.begin);
    }

private:
    std::vector<Branch> branches_;
    std::vector<Entry> entries_;
    std::vector<std::pair<int32_t, uint32_t>> branch_by_outer_id_;  // sorted by id
};

}  // namespace corvane
