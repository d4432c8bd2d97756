#include "validator/track_list.hpp"

#include <algorithm>

namespace corvane::validation {

bool TrackList::same(size_t a, size_t b) const {
    if (missed_last_module[a] != missed_last_module[b] ||
        missed_penultimate_module[a] != missed_penultimate_module[b]) {
        return false;
    }
    const std::span<const int32_t> first = hits(a), second = hits(b);
    return std::equal(first.begin(), first.end(), second.begin(), second.end());
}

size_t TrackList::hash(size_t track) const {
    // Mixes exactly what `same` compares: the length, the ids, the two flags.
    // Each step adds with shifts, then multiplies by a 64-bit prime.
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](uint64_t v) {
        h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
        h *= 1099511628211ull;
    };
    const std::span<const int32_t> ids = hits(track);
    mix(ids.size());
    for (const int32_t id : ids) mix(static_cast<uint32_t>(id));
    mix(missed_last_module[track]);
    mix(missed_penultimate_module[track]);
    return static_cast<size_t>(h);
}

TrackList TrackList::slice(size_t first, size_t count) const {
    return {hit_ids, offsets.subspan(first, count + 1), missed_last_module.subspan(first, count),
            missed_penultimate_module.subspan(first, count)};
}

void TrackColumns::append(const Track& track) {
    for (const Hit& hit : track.hits) hit_ids.push_back(hit.id);
    offsets.push_back(static_cast<int64_t>(hit_ids.size()));
    missed_last_module.push_back(track.missed_last_module);
    missed_penultimate_module.push_back(track.missed_penultimate_module);
}

TrackColumns TrackColumns::of(std::span<const Track> tracks) {
    TrackColumns columns;
    columns.offsets.reserve(tracks.size() + 1);
    columns.missed_last_module.reserve(tracks.size());
    columns.missed_penultimate_module.reserve(tracks.size());
    for (const Track& track : tracks) columns.append(track);
    return columns;
}

}  // namespace corvane::validation
