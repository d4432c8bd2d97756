// The set of hits already taken by accepted tracks, keyed by id. Event hit ids
// run from 0 to N-1, so a flag per id answers in constant time; ids outside
// that range (modules built by hand) go to a hash set instead.
#pragma once

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "event_model/hit.hpp"

namespace corvane {

class UsedHitSet {
public:
    explicit UsedHitSet(size_t id_bound) : flags_(id_bound, 0) {}

    bool contains(const Hit& hit) const {
        if (in_range(hit.id)) return flags_[static_cast<size_t>(hit.id)] != 0;
        return !others_.empty() && others_.contains(hit.id);
    }

    void add(const Hit& hit) {
        if (in_range(hit.id)) {
            flags_[static_cast<size_t>(hit.id)] = 1;
        } else {
            others_.insert(hit.id);
        }
    }

private:
    bool in_range(int32_t id) const { return id >= 0 && static_cast<size_t>(id) < flags_.size(); }

    std::vector<uint8_t> flags_;
    std::unordered_set<int32_t> others_;
};

}  // namespace corvane
