// Weighing tracks against the particles of one event, and picking the
// particle a track matches.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "validator/track_list.hpp"
#include "validator/validation_event.hpp"

namespace corvane::validation {

// A track and a particle match only above this weight.
inline constexpr double kMatchThreshold = 0.7;

// The share of a track's hits that one particle produced.
struct WeightEntry {
    uint32_t particle;  // position in the event's particle list
    uint32_t shared;    // the track's hits (repeats counted) that the particle lists
    double weight;      // shared over the track's hits
};

// The weights of one event's tracks, stored sparsely: a track touches a few
// particles, and every weight not listed is 0. Tracks equal as records are
// one track here (in order of first occurrence), as in every map keyed by
// track. An event without particles has no tracks here at all.
struct EventWeights {
    std::vector<uint32_t> first_occurrence;  // per distinct track: its index in the track list
    std::vector<uint32_t> entry_offsets;     // per distinct track d: entries[offsets[d] .. offsets[d+1])
    std::vector<WeightEntry> entries;
    std::vector<double> best_weight;  // per particle position: the largest weight any track gives it

    size_t track_count() const { return first_occurrence.size(); }
    std::span<const WeightEntry> weights_of(size_t track) const {
        return std::span<const WeightEntry>(entries).subspan(entry_offsets[track],
                                                             entry_offsets[track + 1] - entry_offsets[track]);
    }
};

// Throws RuntimeError "Error: hit with id {id} not found in hit_to_mcp
// mapping" for a track of 2 or more hits with a hit id outside the event.
// Tracks with fewer than 2 hits weigh 0 everywhere and are not looked up.
EventWeights weigh_tracks(const ValidationEvent& event, const TrackList& tracks);

// Per particle position: bit c set when the particle belongs to category c.
using CategoryMasks = std::vector<uint64_t>;

// Whether `entry` beats `best` for the particle a track matches: a larger
// weight, or an equal one of a later particle.
inline bool beats(const WeightEntry& entry, const WeightEntry& best) {
    return entry.weight > best.weight || (entry.weight == best.weight && entry.particle > best.particle);
}

// The particle a track matches among all of the event's: the best of its
// weights (see `beats`), when that weight is above the threshold.
std::optional<WeightEntry> matched_particle(std::span<const WeightEntry> weights);

}  // namespace corvane::validation
