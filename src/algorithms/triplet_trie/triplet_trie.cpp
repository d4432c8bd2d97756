#include "algorithms/triplet_trie/triplet_trie.hpp"

#include <algorithm>
#include <numeric>

namespace corvane {
namespace {

bool by_ids(const Triplet& l, const Triplet& r) {
    return l.outer->id < r.outer->id || (l.outer->id == r.outer->id && l.middle->id < r.middle->id);
}

// The end of the run of triplets from `begin` that share `same`.
template <class Same>
size_t run_end(const std::vector<uint32_t>& order, size_t begin, Same&& same) {
    size_t end = begin + 1;
    while (end < order.size() && same(order[begin], order[end])) ++end;
    return end;
}

}  // namespace

TripletTrie::TripletTrie(std::vector<Triplet> triplets) {
    // Group by (outer id, middle id), keeping insertion order inside a group.
    // Hits recorded in id order (every event's layers) are grouped already.
    std::vector<uint32_t> order(triplets.size());
    std::iota(order.begin(), order.end(), uint32_t{0});
    const auto by_ids_at = [&triplets](uint32_t l, uint32_t r) { return by_ids(triplets[l], triplets[r]); };
    if (!std::is_sorted(order.begin(), order.end(), by_ids_at)) {
        std::stable_sort(order.begin(), order.end(), by_ids_at);
    }
    const auto same_outer = [&triplets](uint32_t l, uint32_t r) {
        return triplets[l].outer->id == triplets[r].outer->id;
    };
    const auto same_pair = [&](uint32_t l, uint32_t r) {
        return same_outer(l, r) && triplets[l].middle->id == triplets[r].middle->id;
    };
    std::vector<uint32_t> first_rank;  // per branch, in id order
    entries_.reserve(triplets.size());
    for (size_t begin = 0; begin < order.size();) {
        const size_t end = run_end(order, begin, same_outer);
        const uint32_t first = *std::min_element(order.begin() + begin, order.begin() + end);
        const uint32_t entries_begin = static_cast<uint32_t>(entries_.size());
        for (size_t pair = begin; pair < end;) {
            const size_t pair_end = run_end(order, pair, same_pair);
            const Triplet& key = triplets[order[pair]];            // first inserted
            const Triplet& value = triplets[order[pair_end - 1]];  // last inserted
            entries_.push_back({key.middle, value.inner, value.scatter, order[pair]});
            pair = pair_end;
        }
        branches_.push_back({triplets[first].outer, entries_begin, static_cast<uint32_t>(entries_.size())});
        first_rank.push_back(first);
        begin = end;
    }
    // Branches in iteration order: by their first insertion.
    std::vector<uint32_t> branch_order(branches_.size());
    std::iota(branch_order.begin(), branch_order.end(), uint32_t{0});
    const auto by_first = [&first_rank](uint32_t l, uint32_t r) { return first_rank[l] < first_rank[r]; };
    if (!std::is_sorted(branch_order.begin(), branch_order.end(), by_first)) {
        std::sort(branch_order.begin(), branch_order.end(), by_first);
        std::vector<Branch> ordered;
        ordered.reserve(branches_.size());
        for (uint32_t b : branch_order) ordered.push_back(branches_[b]);
        branches_ = std::move(ordered);
    }
    branch_by_outer_id_.reserve(branches_.size());
    for (uint32_t b = 0; b < branches_.size(); ++b) branch_by_outer_id_.emplace_back(branches_[b].outer->id, b);
    std::sort(branch_by_outer_id_.begin(), branch_by_outer_id_.end());
}

const Hit* TripletTrie::inner_for(const Hit& outer, const Hit& middle) const {
    const auto branch =
        std::lower_bound(branch_by_outer_id_.begin(), branch_by_outer_id_.end(), std::pair{outer.id, uint32_t{0}});
    if (branch == branch_by_outer_id_.end() || branch->first != outer.id) return nullptr;
    const std::span<const Entry> found = entries(branches_[branch->second]);
    const auto entry = std::lower_bound(found.begin(), found.end(), middle.id,
                                        [](const Entry& e, int32_t id) { return e.middle->id < id; });
    if (entry == found.end() || entry->middle->id != middle.id) return nullptr;
    return entry->inner;
}

}  // namespace corvane
