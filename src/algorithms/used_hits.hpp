// The set of hits already taken by accepted tracks, keyed by id. Event hit ids
// run from 0 to N-1, so a flag per id answers in constant time; ids outside
// that range (modules built by hand) go to a hash set instead.
#pragma once

#include <cstdint>
#include <span>
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
            uint8_t& flag = flags_[static_cast<size_t>(hit.id)];
            additions_ += flag == 0;
            flag = 1;
        } else {
            additions_ += others_.insert(hit.id).second;
        }
    }

    // Grows whenever a hit is added that was not yet present.
    uint64_t additions() const { return additions_; }

private:
    bool in_range(int32_t id) const { return id >= 0 && static_cast<size_t>(id) < flags_.size(); }

    std::vector<uint8_t> flags_;
    std::unordered_set<int32_t> others_;
    uint64_t additions_ = 0;
};

// The hits of one module not yet used, in stored order, so that a loop over
// second seed hits does not visit the used ones again and again. Hits used
// since the list was made are dropped when it is next asked for; a loop over
// it must still test each hit, since hits may be used while it runs.
class UnusedHitList {
public:
    explicit UnusedHitList(const UsedHitSet& used) : used_(used) {}

    std::span<const Hit* const> of(std::span<const Hit> module_hits) {
        if (module_hits.data() != source_ || module_hits.size() != source_size_) {
            source_ = module_hits.data();
            source_size_ = module_hits.size();
            hits_.clear();
            for (const Hit& hit : module_hits) {
                if (!used_.contains(hit)) hits_.push_back(&hit);
            }
        } else if (used_.additions() != additions_seen_) {
            std::erase_if(hits_, [this](const Hit* hit) { return used_.contains(*hit); });
        }
        additions_seen_ = used_.additions();
        return hits_;
    }

private:
    const UsedHitSet& used_;
    const Hit* source_ = nullptr;
    size_t source_size_ = 0;
    uint64_t additions_seen_ = 0;
    std::vector<const Hit*> hits_;
};

}  // namespace corvane
