#include "validator/event.hpp"

#include <limits>

#include "core/errors.hpp"

namespace corvane::validation {
namespace {

constexpr uint32_t kNoParticle = std::numeric_limits<uint32_t>::max();

// Calls visit(hit, position) once per distinct hit of every indexed particle.
template <class Visit>
void for_each_distinct_hit(const ValidationEvent& event, std::vector<uint32_t>& last_seen, Visit&& visit) {
    last_seen.assign(event.hit_count, kNoParticle);
    for (uint32_t position = 0; position < event.particles.size(); ++position) {
        if (!event.is_indexed[position]) continue;
        for (const uint32_t hit : event.particles[position].hits) {
            if (last_seen[hit] == position) continue;
            last_seen[hit] = position;
            visit(hit, position);
        }
    }
}

}  // namespace

ValidationEvent build_validation_event(uint64_t hit_count, std::vector<McParticle> particles) {
    if (hit_count > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) ||
        particles.size() >= kNoParticle) {
        throw InternalFailure("the event has more hits or particles than ids can number");
    }
    ValidationEvent event;
    event.hit_count = static_cast<uint32_t>(hit_count);
    event.particles = std::move(particles);
    const auto count = static_cast<uint32_t>(event.particles.size());

    event.position_of_key.reserve(count);
    for (uint32_t position = 0; position < count; ++position) {
        event.position_of_key[event.particles[position].key] = position;
    }
    event.is_indexed.assign(count, false);
    for (const auto& [key, position] : event.position_of_key) event.is_indexed[position] = true;

    // Two passes over the same distinct (hit, particle) pairs: count, then fill.
    std::vector<uint32_t> last_seen;
    event.distinct_hit_count.assign(count, 0);
    event.hit_offsets.assign(static_cast<size_t>(event.hit_count) + 1, 0);
    for_each_distinct_hit(event, last_seen, [&event](uint32_t hit, uint32_t position) {
        ++event.hit_offsets[hit + 1];
        ++event.distinct_hit_count[position];
    });
    for (size_t h = 0; h < event.hit_count; ++h) event.hit_offsets[h + 1] += event.hit_offsets[h];
    event.hit_particles.resize(event.hit_offsets[event.hit_count]);
    std::vector<uint32_t> fill(event.hit_offsets.begin(), event.hit_offsets.end() - 1);
    for_each_distinct_hit(event, last_seen,
                          [&event, &fill](uint32_t hit, uint32_t position) { event.hit_particles[fill[hit]++] = position; });
    return event;
}

}  // namespace corvane::validation
