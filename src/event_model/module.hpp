// One detector layer of an event: its number, its z and a half-open range of
// the event's hit list.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "event_model/hit.hpp"

namespace corvane {

// The event's hit list, shared by the event and all its modules. It never
// changes once built, so sharing it is indistinguishable from each module
// owning a private copy.
using HitList = std::shared_ptr<const std::vector<Hit>>;

struct Module {
    uint32_t module_number = 0;
    double z = 0.0;
    uint64_t hit_start_index = 0;
    uint64_t hit_end_index = 0;
    HitList global_hits;

    // The module's hits, in stored order, without copying.
    std::span<const Hit> hits() const {
        return {global_hits->data() + hit_start_index, static_cast<size_t>(hit_end_index - hit_start_index)};
    }
    size_t size() const { return static_cast<size_t>(hit_end_index - hit_start_index); }
};

// Throws ValueError "Invalid hit indices: ..." unless
// hit_start_index <= hit_end_index <= hit_count.
void check_hit_range(uint64_t hit_start_index, uint64_t hit_end_index, size_t hit_count);

// Checks the range against global_hits (as above) and makes the record.
Module make_module(uint32_t module_number, double z, uint64_t hit_start_index, uint64_t hit_end_index,
                   HitList global_hits);

// "module 3:\n At z: 100.0\n Number of hits: 1\n Hits: [...]".
std::string module_repr(const Module& module);

}  // namespace corvane
