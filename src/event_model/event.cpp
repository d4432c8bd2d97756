#include "event_model/event.hpp"

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

// Every module must receive at least one hit, and every hit must have its
// coordinates: both are checked before anything is allocated, so a huge
// prefix entry cannot exhaust memory.
void check_ranges(const std::vector<uint64_t>& prefix, const CoordinateColumns& columns) {
    for (size_t m = 0; m < kModuleCount; ++m) {
        if (prefix[m + 1] <= prefix[m]) {
            throw InternalFailure("module " + std::to_string(m) + " has no hits");
        }
    }
    const uint64_t needed = prefix[kModuleCount];
    auto check_column = [needed](std::span<const double> column, const char* name) {
        if (column.size() < needed) {
            throw InternalFailure(std::string("hit index ") + std::to_string(column.size()) + " is beyond the \"" +
                                  name + "\" list of " + std::to_string(column.size()) + " entries");
        }
    };
    check_column(columns.x, "x");
    check_column(columns.y, "y");
    check_column(columns.z, "z");
    if (columns.has_t) check_column(columns.t, "t");
    if (needed - 1 > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
        throw InternalFailure("an event holds at most 2147483647 hits");
    }
}

}  // namespace

EventData build_event(std::string description, std::vector<uint64_t> module_prefix_sum,
                      const CoordinateColumns& columns) {
    check_prefix_length(module_prefix_sum);
    check_ranges(module_prefix_sum, columns);
    const std::vector<uint64_t>& prefix = module_prefix_sum;

    auto hits = std::make_shared<std::vector<Hit>>();
    hits->reserve(static_cast<size_t>(prefix[kModuleCount] - prefix[0]));
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
