// A reconstructed trajectory: its ordered hits, two flags about missed modules
// and the miss counter used while a track is extended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "event_model/hit.hpp"

namespace corvane {

struct Track {
    std::vector<Hit> hits;
    bool missed_last_module = false;
    bool missed_penultimate_module = false;
    uint8_t missed = 0;  // consecutive extension steps without a new hit

    Track() = default;
    explicit Track(std::vector<Hit> track_hits) : hits(std::move(track_hits)) {}
};

// Record identity: hit ids in order and the two flags (coordinates and the
// miss counter are not compared).
bool operator==(const Track& a, const Track& b);

struct TrackHash {
    size_t operator()(const Track& track) const;
};

// "Track with 1 hits: [Hit { ... }]".
std::string track_repr(const Track& track);

}  // namespace corvane
