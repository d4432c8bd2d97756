#include "event_model/event.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <unordered_set>

#include "core/errors.hpp"

namespace corvane {

void check_prefix_length(const std::vector<uint64_t>& module_prefix_sum) {
    if (module_prefix_sum.size() < kModuleCount + 1) {
        throw InternalFailure("module_prefix_sum has " + std::to_string(module_prefix_sum.size()) +
                              " entries; at least 53 are needed for 52 modules");
    }
}

std::vector<double> distinct_z_values(std::span<const Hit> hits) {
    // Key equal values by one bit pattern: -0.0 as 0.0, every NaN as one NaN.
    auto key = [](double z) -> uint64_t {
        if (std::isnan(z)) return std::bit_cast<uint64_t>(std::numeric_limits<double>::quiet_NaN());
        if (z == 0.0) return 0;
        return std::bit_cast<uint64_t>(z);
    };
    std::vector<double> values;
    std::unordered_set<uint64_t> seen;
    uint64_t last_key = 0;
    for (const Hit& hit : hits) {
        const uint64_t k = key(hit.z);
        // Hits of one module usually share a z: skip the set for repeats.
        if (!values.empty() && k == last_key) continue;
        last_key = k;
        if (seen.insert(k).second) values.push_back(hit.z);
    }
    return values;
}

namespace {

// Hit ids are signed 32-bit.
constexpr uint64_t kMaxHits = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());

struct NamedColumn {
    const char* name;
    std::span<const double> values;
};

std::vector<NamedColumn> named_columns(const CoordinateColumns& columns) {
    std::vector<NamedColumn> named{{"x", columns.x}, {"y", columns.y}, {"z", columns.z}};
    if (columns.has_t) named.push_back({"t", columns.t});
    return named;
}

[[noreturn]] void fail_missing_coordinates(uint64_t index, const NamedColumn& column) {
    throw InternalFailure("hit index " + std::to_string(index) + " is beyond the \"" + column.name + "\" list of " +
                          std::to_string(column.values.size()) + " entries");
}

// Before anything is allocated: every coordinate list must reach the hit
// count, and the count must fit the ids, so a huge prefix entry fails here
// instead of sizing an allocation. Returns how many hit indices have
// coordinates and a valid id.
uint64_t check_hit_count(uint64_t number_of_hits, const CoordinateColumns& columns) {
    uint64_t usable = kMaxHits + 1;
    for (const NamedColumn& column : named_columns(columns)) {
        if (column.values.size() < number_of_hits) fail_missing_coordinates(column.values.size(), column);
        usable = std::min<uint64_t>(usable, column.values.size());
    }
    if (number_of_hits > kMaxHits) {
        throw InternalFailure("an event holds at most " + std::to_string(kMaxHits) + " hits, not " +
                              std::to_string(number_of_hits));
    }
    return usable;
}

// Finds, from the prefix sums alone, the first failure that making the hits
// module by module and then the modules would meet. Ranges that run
// backwards make no hits; the first index without coordinates stops the
// hits; then, module by module, an empty module comes before a range that
// ends beyond the hits made.
void check_module_ranges(const std::vector<uint64_t>& prefix, uint64_t usable, const CoordinateColumns& columns) {
    uint64_t hits_made = 0;
    for (size_t m = 0; m < kModuleCount; ++m) {
        const uint64_t begin = prefix[m];
        const uint64_t end = prefix[m + 1];
        if (end <= begin) continue;
        if (end > usable) {
            const uint64_t index = std::max(begin, usable);
            for (const NamedColumn& column : named_columns(columns)) {
                if (column.values.size() <= index) fail_missing_coordinates(index, column);
            }
            throw InternalFailure("hit index " + std::to_string(index) + " does not fit a 32-bit hit id");
        }
        hits_made += end - begin;  // every range is below 2^31 here: no overflow
    }
    for (size_t m = 0; m < kModuleCount; ++m) {
        if (prefix[m + 1] <= prefix[m]) throw InternalFailure("module " + std::to_string(m) + " has no hits");
        check_hit_range(prefix[m], prefix[m + 1], hits_made);
    }
}

}  // namespace

EventData build_event(std::string description, std::vector<uint64_t> module_prefix_sum,
                      const CoordinateColumns& columns) {
    check_prefix_length(module_prefix_sum);
    const std::vector<uint64_t>& prefix = module_prefix_sum;
    const uint64_t usable = check_hit_count(prefix[kModuleCount], columns);
    check_module_ranges(prefix, usable, columns);
    // From here on entry 0 is 0 and the entries strictly increase.

    auto hits = std::make_shared<std::vector<Hit>>();
    hits->reserve(static_cast<size_t>(prefix[kModuleCount]));
    for (size_t m = 0; m < kModuleCount; ++m) {
        for (uint64_t i = prefix[m]; i < prefix[m + 1]; ++i) {
            hits->push_back(Hit{static_cast<int32_t>(i), columns.x[i], columns.y[i], columns.z[i],
                                columns.has_t ? columns.t[i] : 0.0, static_cast<int32_t>(m), columns.has_t});
        }
    }

    EventData event;
    event.description = std::move(description);
    event.number_of_hits = prefix[kModuleCount];
    event.module_zs.reserve(kModuleCount);
    size_t position = 0;
    for (size_t m = 0; m < kModuleCount; ++m) {
        const size_t count = static_cast<size_t>(prefix[m + 1] - prefix[m]);
        event.module_zs.push_back(distinct_z_values(std::span<const Hit>(hits->data() + position, count)));
        position += count;
    }
    event.hits = std::move(hits);
    event.modules.reserve(kModuleCount);
    for (size_t m = 0; m < kModuleCount; ++m) {
        event.modules.push_back(make_module(static_cast<uint32_t>(m), event.module_zs[m].front(), prefix[m],
                                            prefix[m + 1], event.hits));
    }
    event.module_prefix_sum = std::move(module_prefix_sum);
    return event;
}

}  // namespace corvane
