// A reconstructed trajectory: its ordered hits and two flags about missed
// modules.
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
    // How many modules in a row the finder passed without a new hit when it
    // ended the track; travels with pickles, takes no part in identity.
    uint8_t missed = 0;

    Track() = default;
    explicit Track(std::vector<Hit> track_hits) : hits(std::move(track_hits)) {}
};

// Record identity: hit ids in order and the two flags (coordinates and
// `missed` are not compared).
bool operator==(const Track& a, const Track& b);

// "Track with 1 hits: [Hit { ... }]".
std::string track_repr(const Track& track);

}  // namespace corvane
