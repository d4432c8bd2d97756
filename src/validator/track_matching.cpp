#include "validator/track_matching.hpp"

#include <bit>
#include <string>

#include "core/errors.hpp"

namespace corvane::validation {
namespace {

// Indices of the first occurrence of each distinct track, in list order: an
// open-addressing table of track indices, sized for at most half full.
std::vector<uint32_t> distinct_tracks(const TrackList& tracks) {
    const size_t count = tracks.size();
    std::vector<uint32_t> first;
    first.reserve(count);
    const size_t capacity = std::bit_ceil(2 * count + 1);
    std::vector<uint32_t> slots(capacity, 0);  // track index + 1; 0: empty
    for (uint32_t i = 0; i < count; ++i) {
        for (size_t slot = tracks.hash(i) & (capacity - 1);; slot = (slot + 1) & (capacity - 1)) {
            if (slots[slot] == 0) {
                slots[slot] = i + 1;
                first.push_back(i);
                break;
            }
            if (tracks.same(slots[slot] - 1, i)) break;
        }
    }
    return first;
}

// Appends the non-zero weights of one track of 2 or more hits.
void weigh_track(std::span<const int32_t> hits, const ValidationEvent& event, std::vector<uint32_t>& counters,
                 std::vector<uint32_t>& touched, std::vector<WeightEntry>& out) {
    for (const int32_t id : hits) {
        if (!event.has_hit(id)) {
            throw RuntimeError("Error: hit with id " + std::to_string(id) + " not found in hit_to_mcp mapping");
        }
        for (const uint32_t particle : event.particles_of_hit(static_cast<uint32_t>(id))) {
            if (counters[particle]++ == 0) touched.push_back(particle);
        }
    }
    const auto hit_count = static_cast<double>(hits.size());
    for (const uint32_t particle : touched) {
        out.push_back({particle, counters[particle], static_cast<double>(counters[particle]) / hit_count});
        counters[particle] = 0;
    }
    touched.clear();
}

}  // namespace

EventWeights weigh_tracks(const ValidationEvent& event, const TrackList& tracks) {
    EventWeights weights;
    const size_t particle_count = event.particles.size();
    weights.best_weight.assign(particle_count, 0.0);
    weights.entry_offsets.push_back(0);
    if (particle_count == 0) return weights;

    weights.first_occurrence = distinct_tracks(tracks);
    weights.entry_offsets.reserve(weights.first_occurrence.size() + 1);
    std::vector<uint32_t> counters(particle_count, 0);
    std::vector<uint32_t> touched;
    for (const uint32_t index : weights.first_occurrence) {
        const std::span<const int32_t> hits = tracks.hits(index);
        if (hits.size() >= 2) weigh_track(hits, event, counters, touched, weights.entries);
        weights.entry_offsets.push_back(static_cast<uint32_t>(weights.entries.size()));
    }
    for (const WeightEntry& entry : weights.entries) {
        if (entry.weight > weights.best_weight[entry.particle]) weights.best_weight[entry.particle] = entry.weight;
    }
    return weights;
}

std::optional<WeightEntry> matched_particle(std::span<const WeightEntry> weights) {
    std::optional<WeightEntry> best;
    for (const WeightEntry& entry : weights) {
        if (!best || beats(entry, *best)) best = entry;
    }
    if (best && best->weight > kMatchThreshold) return best;
    return std::nullopt;
}

}  // namespace corvane::validation
