// One event's tracks as the validation reads them: every track's hit ids one
// after the other, and its two flags. Matching looks at nothing else (hit
// coordinates play no part), so tracks from records and tracks read straight
// out of Python objects are measured alike, without a copy of their hits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "event_model/track.hpp"

namespace corvane::validation {

// A view: track t holds hit_ids[offsets[t] .. offsets[t + 1]).
struct TrackList {
    std::span<const int32_t> hit_ids;
    std::span<const int64_t> offsets;  // size() + 1 increasing entries, all within hit_ids
    std::span<const uint8_t> missed_last_module;
    std::span<const uint8_t> missed_penultimate_module;

    size_t size() const { return missed_last_module.size(); }
    std::span<const int32_t> hits(size_t track) const {
        return hit_ids.subspan(static_cast<size_t>(offsets[track]),
                               static_cast<size_t>(offsets[track + 1] - offsets[track]));
    }
    // Record identity, as for Track: hit ids in order and the two flags.
    bool same(size_t a, size_t b) const;
    size_t hash(size_t track) const;
    // Tracks first .. first + count - 1.
    TrackList slice(size_t first, size_t count) const;
};

// Tracks owned as columns, the layout TrackList views.
struct TrackColumns {
    std::vector<int32_t> hit_ids;
    std::vector<int64_t> offsets{0};
    std::vector<uint8_t> missed_last_module;
    std::vector<uint8_t> missed_penultimate_module;

    void append(const Track& track);
    TrackList view() const { return {hit_ids, offsets, missed_last_module, missed_penultimate_module}; }
    static TrackColumns of(std::span<const Track> tracks);
};

}  // namespace corvane::validation
