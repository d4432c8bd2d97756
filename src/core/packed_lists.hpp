// Lists of items for owners 0 .. n-1 packed into one array: the list of owner
// i is items[offsets[i] .. offsets[i + 1]). Built either by appending one
// list after another, or from (owner, item) pairs by a counting sort (count
// per owner, prefix sums, fill), which keeps each owner's items in the order
// the pairs came in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "core/errors.hpp"

namespace corvane {

template <class Item>
struct PackedLists {
    std::vector<uint32_t> offsets{0};
    std::vector<Item> items;

    size_t owners() const { return offsets.size() - 1; }

    std::span<const Item> of(size_t owner) const {
        return {items.data() + offsets[owner], offsets[owner + 1] - offsets[owner]};
    }
    std::span<Item> of(size_t owner) { return {items.data() + offsets[owner], offsets[owner + 1] - offsets[owner]}; }

    // Ends the list being appended to (its items are those added since).
    void close_list() {
        check_total(items.size());
        offsets.push_back(static_cast<uint32_t>(items.size()));
    }

    // The lists of `owners` owners from the pairs that `for_each_pair(add)`
    // hands to add(owner, item), owner < owners. It is called twice (once to
    // count, once to fill) and must hand the same pairs both times.
    template <class ForEachPair>
    static PackedLists gather(size_t owners, ForEachPair&& for_each_pair) {
        PackedLists lists;
        lists.offsets.assign(owners + 1, 0);
        size_t total = 0;
        for_each_pair([&lists, &total](size_t owner, const Item&) {
            ++lists.offsets[owner + 1];
            ++total;
        });
        check_total(total);
        for (size_t i = 0; i < owners; ++i) lists.offsets[i + 1] += lists.offsets[i];
        lists.items.resize(total);
        std::vector<uint32_t> next(lists.offsets.begin(), lists.offsets.end() - 1);
        for_each_pair([&lists, &next](size_t owner, const Item& item) { lists.items[next[owner]++] = item; });
        return lists;
    }

private:
    static void check_total(size_t total) {
        if (total > std::numeric_limits<uint32_t>::max()) {
            throw InternalFailure("more list items than 32-bit offsets can number");
        }
    }
};

}  // namespace corvane
