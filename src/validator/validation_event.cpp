#include "validator/validation_event.hpp"

#include <algorithm>
#include <limits>
#include <numeric>

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
        for (const uint32_t hit : event.particle_hits.of(position)) {
            if (last_seen[hit] == position) continue;
            last_seen[hit] = position;
            visit(hit, position);
        }
    }
}

// Per position: whether no later row has the same key. Sorted rather than
// hashed, so that no choice of keys can make it slow; keys that already
// increase row by row (as simulated records number them) need no sort.
std::vector<bool> last_rows_of_keys(const std::vector<McParticle>& particles) {
    const bool increasing = std::adjacent_find(particles.begin(), particles.end(), [](const auto& a, const auto& b) {
                                return a.key >= b.key;
                            }) == particles.end();
    if (increasing) return std::vector<bool>(particles.size(), true);
    std::vector<uint32_t> order(particles.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&particles](uint32_t a, uint32_t b) {
        return particles[a].key != particles[b].key ? particles[a].key < particles[b].key : a < b;
    });
    std::vector<bool> last(particles.size(), false);
    for (size_t i = 0; i < order.size(); ++i) {
        if (i + 1 == order.size() || particles[order[i + 1]].key != particles[order[i]].key) last[order[i]] = true;
    }
    return last;
}

}  // namespace

ValidationEvent build_validation_event(uint64_t hit_count, McTruth truth) {
    if (hit_count > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) ||
        truth.particles.size() >= kNoParticle) {
        throw InternalFailure("the event has more hits or particles than ids can number");
    }
    if (truth.hits.owners() != truth.particles.size()) throw InternalFailure("one hit list per particle is needed");
    ValidationEvent event;
    event.hit_count = static_cast<uint32_t>(hit_count);
    event.particles = std::move(truth.particles);
    event.particle_hits = std::move(truth.hits);
    const auto count = static_cast<uint32_t>(event.particles.size());

    event.is_indexed = last_rows_of_keys(event.particles);

    std::vector<uint32_t> last_seen;
    event.hit_particles = PackedLists<uint32_t>::gather(
        event.hit_count, [&event, &last_seen](auto&& add) { for_each_distinct_hit(event, last_seen, add); });
    event.distinct_hit_count.assign(count, 0);
    for (const uint32_t position : event.hit_particles.items) ++event.distinct_hit_count[position];
    return event;
}

}  // namespace corvane::validation
