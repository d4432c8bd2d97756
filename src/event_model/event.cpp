#include "event_model/event.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <utility>

#include "core/errors.hpp"

namespace corvane {

void check_prefix_length(const std::vector<uint64_t>& module_prefix_sum) {
    if (module_prefix_sum.size() < kModuleCount + 1) {
        throw InternalFailure("module_prefix_sum has " + std::to_string(module_prefix_sum.size()) +
                              " entries; at least 53 are needed for 52 modules");
    }
}

namespace {

// Equal values share one key: -0.0 keys as 0.0, every NaN as one NaN.
uint64_t z_key(double z) {
    if (std::isnan(z)) return std::bit_cast<uint64_t>(std::numeric_limits<double>::quiet_NaN());
    if (z == 0.0) return 0;
    return std::bit_cast<uint64_t>(z);
}

}  // namespace

namespace {

// Any number of values: sorted by key, then position, each key's first entry
// is where its value was first seen; those positions in order give
// first-seen order. A sort takes the same time whatever the values, unlike a
// hash set.
std::vector<double> sorted_distinct_values(std::span<const Hit> hits) {
    std::vector<std::pair<uint64_t, size_t>> keyed;
    keyed.reserve(hits.size());
    for (size_t position = 0; position < hits.size(); ++position) keyed.emplace_back(z_key(hits[position].z), position);
    std::sort(keyed.begin(), keyed.end());
    std::vector<size_t> first_seen;
    for (size_t i = 0; i < keyed.size(); ++i) {
        if (i == 0 || keyed[i].first != keyed[i - 1].first) first_seen.push_back(keyed[i].second);
    }
    std::sort(first_seen.begin(), first_seen.end());
    std::vector<double> values;
    values.reserve(first_seen.size());
    for (size_t position : first_seen) values.push_back(hits[position].z);
    return values;
}

// A module's sensors sit on a few planes: up to this many distinct values
// are found in one pass, more go to the sort.
constexpr size_t kFewValues = 16;

// Slot of a key in a small direct-mapped table (Fibonacci hashing).
constexpr unsigned kSlotBits = 6;
size_t slot_of(uint64_t key) { return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - kSlotBits)); }

}  // namespace

std::vector<double> distinct_z_values(std::span<const Hit> hits) {
    // The planes come in any order, so a branch on which value a hit has
    // would mostly guess wrong; a slot lookup confirms a known value with one
    // test. Slots start out holding a key that no value has (z_key never
    // returns a signalling-NaN pattern), a shared slot only sends its values
    // to the list, and the list is short, so crafted values cost at most a
    // bounded scan per hit before the sort takes over.
    constexpr uint64_t kNoKey = 0x7FF0000000000001ull;
    std::array<uint64_t, size_t{1} << kSlotBits> slots;
    slots.fill(kNoKey);
    std::array<uint64_t, kFewValues> keys;
    std::array<double, kFewValues> values;
    size_t count = 0;
    for (const Hit& hit : hits) {
        const uint64_t key = z_key(hit.z);
        uint64_t& slot = slots[slot_of(key)];
        if (slot == key) continue;
        size_t found = 0;
        while (found < count && keys[found] != key) ++found;
        if (found < count) continue;
        if (count == kFewValues) return sorted_distinct_values(hits);
        if (slot == kNoKey) slot = key;
        keys[count] = key;
        values[count] = hit.z;
        ++count;
    }
    return std::vector<double>(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(count));
}

namespace {

struct NamedColumn {
    const char* name;
    uint64_t length;
};

std::vector<NamedColumn> named_columns(const ColumnLengths& lengths) {
    std::vector<NamedColumn> named{{"x", lengths.x}, {"y", lengths.y}, {"z", lengths.z}};
    if (lengths.has_t) named.push_back({"t", lengths.t});
    return named;
}

[[noreturn]] void fail_missing_coordinates(uint64_t index, const NamedColumn& column) {
    throw InternalFailure("hit index " + std::to_string(index) + " is beyond the \"" + column.name + "\" list of " +
                          std::to_string(column.length) + " entries");
}

// Before anything is allocated: every coordinate list must reach the hit
// count, and the count must fit the ids, so a huge prefix entry fails here
// instead of sizing an allocation. Returns how many hit indices have
// coordinates and a valid id.
uint64_t check_hit_count(uint64_t number_of_hits, const ColumnLengths& lengths) {
    uint64_t usable = kMaxEventHits + 1;
    for (const NamedColumn& column : named_columns(lengths)) {
        if (column.length < number_of_hits) fail_missing_coordinates(column.length, column);
        usable = std::min<uint64_t>(usable, column.length);
    }
    if (number_of_hits > kMaxEventHits) {
        throw InternalFailure("an event holds at most " + std::to_string(kMaxEventHits) + " hits, not " +
                              std::to_string(number_of_hits));
    }
    return usable;
}

// Finds, from the prefix sums alone, the first failure that making the hits
// module by module and then the modules would meet. Ranges that run
// backwards make no hits; the first index without coordinates stops the
// hits; then, module by module, an empty module comes before a range that
// ends beyond the hits made.
void check_module_ranges(const std::vector<uint64_t>& prefix, uint64_t usable, const ColumnLengths& lengths) {
    uint64_t hits_made = 0;
    for (size_t m = 0; m < kModuleCount; ++m) {
        const uint64_t begin = prefix[m];
        const uint64_t end = prefix[m + 1];
        if (end <= begin) continue;
        if (end > usable) {
            const uint64_t index = std::max(begin, usable);
            for (const NamedColumn& column : named_columns(lengths)) {
                if (column.length <= index) fail_missing_coordinates(index, column);
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

EventData build_event(std::string description, std::vector<uint64_t> module_prefix_sum, const ColumnLengths& lengths,
                      std::vector<Hit> hits) {
    check_prefix_length(module_prefix_sum);
    const std::vector<uint64_t>& prefix = module_prefix_sum;
    const uint64_t usable = check_hit_count(prefix[kModuleCount], lengths);
    check_module_ranges(prefix, usable, lengths);
    // From here on entry 0 is 0 and the entries strictly increase, and every
    // coordinate list reaches the hit count.
    const size_t hit_count = static_cast<size_t>(prefix[kModuleCount]);
    if (hits.size() < hit_count) throw InternalFailure("fewer hit records than hits");
    hits.resize(hit_count);
    EventData event;
    event.description = std::move(description);
    event.number_of_hits = prefix[kModuleCount];
    event.module_zs.reserve(kModuleCount);
    for (size_t m = 0; m < kModuleCount; ++m) {
        const size_t begin = static_cast<size_t>(prefix[m]);
        const size_t end = static_cast<size_t>(prefix[m + 1]);
        for (size_t i = begin; i < end; ++i) {
            Hit& hit = hits[i];
            hit.id = static_cast<int32_t>(i);
            hit.module_number = static_cast<int32_t>(m);
            hit.with_t = lengths.has_t;
            if (!lengths.has_t) hit.t = 0.0;
        }
        // While the module's hits are still in cache.
        event.module_zs.push_back(distinct_z_values(std::span<const Hit>(hits).subspan(begin, end - begin)));
    }
    event.hits = std::make_shared<const std::vector<Hit>>(std::move(hits));
    event.modules.reserve(kModuleCount);
    for (size_t m = 0; m < kModuleCount; ++m) {
        event.modules.push_back(
            make_module(static_cast<uint32_t>(m), event.module_zs[m].front(), prefix[m], prefix[m + 1], event.hits));
    }
    event.module_prefix_sum = std::move(module_prefix_sum);
    return event;
}

}  // namespace corvane
