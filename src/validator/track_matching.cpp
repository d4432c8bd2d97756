#include "validator/track_matching.hpp"

#include <string>
#include <unordered_map>

#include "core/errors.hpp"

namespace corvane::validation {
namespace {

struct TrackPointerHash {
    size_t operator()(const Track* track) const { return TrackHash{}(*track); }
};
struct TrackPointerEqual {
    bool operator()(const Track* a, const Track* b) const { return *a == *b; }
};

// Indices of the first occurrence of each distinct track, in list order.
std::vector<uint32_t> distinct_tracks(std::span<const Track> tracks) {
    std::unordered_map<const Track*, uint32_t, TrackPointerHash, TrackPointerEqual> seen;
    seen.reserve(tracks.size());
    std::vector<uint32_t> first;
    first.reserve(tracks.size());
    for (uint32_t i = 0; i < tracks.size(); ++i) {
        if (seen.emplace(&tracks[i], i).second) first.push_back(i);
    }
    return first;
}

// Appends the non-zero weights of one track of 2 or more hits.
void weigh_track(const Track& track, const ValidationEvent& event, std::vector<uint32_t>& counters,
                 std::vector<uint32_t>& touched, std::vector<WeightEntry>& out) {
    for (const Hit& hit : track.hits) {
        if (!event.has_hit(hit.id)) {
            throw RuntimeError("Error: hit with id " + std::to_string(hit.id) + " not found in hit_to_mcp mapping");
        }
        for (const uint32_t particle : event.particles_of_hit(static_cast<uint32_t>(hit.id))) {
            if (counters[particle]++ == 0) touched.push_back(particle);
        }
    }
    const auto hit_count = static_cast<double>(track.hits.size());
    for (const uint32_t particle : touched) {
        out.push_back({particle, static_cast<double>(counters[particle]) / hit_count});
        counters[particle] = 0;
    }
    touched.clear();
}

}  // namespace

EventWeights weigh_tracks(const ValidationEvent& event, std::span<const Track> tracks) {
    EventWeights weights;
    const size_t particle_count = event.particles.size();
    weights.best_weight.assign(particle_count, 0.0);
    weights.entry_offsets.push_back(0);
    if (particle_count == 0) return weights;

    weights.first_occurrence = distinct_tracks(tracks);
    std::vector<uint32_t> counters(particle_count, 0);
    std::vector<uint32_t> touched;
    for (const uint32_t index : weights.first_occurrence) {
        const Track& track = tracks[index];
        if (track.hits.size() >= 2) weigh_track(track, event, counters, touched, weights.entries);
        weights.entry_offsets.push_back(static_cast<uint32_t>(weights.entries.size()));
    }
    for (const WeightEntry& entry : weights.entries) {
        if (entry.weight > weights.best_weight[entry.particle]) weights.best_weight[entry.particle] = entry.weight;
    }
    return weights;
}

std::optional<WeightEntry> matched_particle(std::span<const WeightEntry> weights, const ValidationEvent& event,
                                            ParticlePredicate selects) {
    std::optional<WeightEntry> best;
    for (const WeightEntry& entry : weights) {
        if (selects != nullptr && !selects(event.particles[entry.particle])) continue;
        if (!best || entry.weight > best->weight || (entry.weight == best->weight && entry.particle > best->particle)) {
            best = entry;
        }
    }
    if (best && best->weight > kMatchThreshold) return best;
    return std::nullopt;
}

}  // namespace corvane::validation
