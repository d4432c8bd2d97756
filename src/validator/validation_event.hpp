// The truth side of one event: its hit count, the Monte Carlo particles and
// the map from each hit to the particles that produced it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/packed_lists.hpp"
#include "validator/mc_particle.hpp"

namespace corvane::validation {

// The Monte Carlo record of one event: one particle per row, in row order,
// and list i of `hits` the ids of particle i's hits (row order, repeats kept).
// One packed list rather than a vector per particle: an event has hundreds.
struct McTruth {
    std::vector<McParticle> particles;
    PackedLists<uint32_t> hits;
};

struct ValidationEvent {
    // Hits are numbered 0 .. hit_count-1; a hit id outside that range is not
    // an event hit.
    uint32_t hit_count = 0;
    // One record per Monte Carlo row, in row order (repeated keys included).
    std::vector<McParticle> particles;
    // Per position: the ids of the particle's hits.
    PackedLists<uint32_t> particle_hits;
    // Per position: whether this is the last row with its key. Only that row
    // ever carries weight for the particle; it also holds the key's hit list.
    std::vector<bool> is_indexed;
    // Per indexed position: number of distinct hit ids in its hit list.
    std::vector<uint32_t> distinct_hit_count;
    // hit -> indexed positions of the particles listing it, each once, in
    // position order.
    PackedLists<uint32_t> hit_particles;

    bool has_hit(int64_t id) const { return id >= 0 && id < static_cast<int64_t>(hit_count); }

    // The particles of a valid hit id.
    std::span<const uint32_t> particles_of_hit(uint32_t id) const { return hit_particles.of(id); }
};

// Builds the truth maps. Particle hit ids must already be below hit_count,
// and `truth` must hold one hit list per particle. Throws InternalFailure
// when hit_count does not fit a hit id.
ValidationEvent build_validation_event(uint64_t hit_count, McTruth truth);

}  // namespace corvane::validation
