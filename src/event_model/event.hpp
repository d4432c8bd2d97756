// One recorded event as the reconstruction sees it: the hits grouped into the
// detector's 52 modules, with the tables derived from them.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "event_model/hit.hpp"
#include "event_model/module.hpp"

namespace corvane {

inline constexpr size_t kModuleCount = 52;

// Hit ids are signed 32-bit.
inline constexpr uint64_t kMaxEventHits = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());

// Immutable once built. The Python-side Event also holds the Monte Carlo
// object; this record holds no Python reference, so worker threads may share
// it freely.
struct EventData {
    std::string description;
    std::vector<uint64_t> module_prefix_sum;  // all entries as given
    uint64_t number_of_hits = 0;              // entry 52 of module_prefix_sum
    std::vector<std::vector<double>> module_zs;
    HitList hits;
    std::vector<Module> modules;
};

// How many entries each coordinate list has; `t` counts only with has_t.
struct ColumnLengths {
    uint64_t x = 0;
    uint64_t y = 0;
    uint64_t z = 0;
    uint64_t t = 0;
    bool has_t = false;
};

// Throws InternalFailure when the prefix sums cannot describe 52 modules.
void check_prefix_length(const std::vector<uint64_t>& module_prefix_sum);

// Builds the hits and modules from records whose coordinates are filled in:
// hits[i] holds x, y, z (and t with has_t) of hit index i, for every index
// below both the hit count and the shortest list; the other fields are set
// here. Throws InternalFailure for a coordinate list shorter than the hit
// count or a module without hits, and ValueError when a module range ends
// beyond the hits made.
EventData build_event(std::string description, std::vector<uint64_t> module_prefix_sum, const ColumnLengths& lengths,
                      std::vector<Hit> hits);

// Distinct values in first-seen order; 0.0 and -0.0 are one value (the first
// kept), and all NaNs are one value.
std::vector<double> distinct_z_values(std::span<const Hit> hits);

}  // namespace corvane
