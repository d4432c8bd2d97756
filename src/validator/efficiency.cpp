#include "validator/efficiency.hpp"

#include <array>
#include <bit>
#include <vector>

#include "core/errors.hpp"

namespace corvane::validation {
namespace {

double mean_percent(double sum, uint64_t count) {
    return count == 0 ? 0.0 : (sum / static_cast<double>(count)) * 100.0;
}

}  // namespace

double clone_percentage(const CategoryStats& stats) {
    if (stats.n_recon_particles == 0) return 0.0;
    return 100.0 * static_cast<double>(stats.n_clones) / static_cast<double>(stats.n_recon_particles);
}

double hit_efficiency_percentage(const CategoryStats& stats) {
    if (stats.n_hiteff == 0) return 0.0;
    return (stats.hiteff_sum * 100.0) / static_cast<double>(stats.n_hiteff);
}

CategoryMasks category_masks(const ValidationEvent& event, std::span<const Category> categories) {
    if (categories.size() > 64) throw InternalFailure("a validation run takes at most 64 categories");
    // The predicates read a particle's traits alone, and an event's hundreds of particles have few distinct
    // traits: each set of traits is asked about once.
    std::array<uint64_t, kTraitSets> by_traits{};
    std::array<bool, kTraitSets> asked{};
    CategoryMasks masks(event.particles.size(), 0);
    for (size_t position = 0; position < masks.size(); ++position) {
        const McParticle& particle = event.particles[position];
        const unsigned traits = particle_traits(particle);
        if (!asked[traits]) {
            for (size_t c = 0; c < categories.size(); ++c) {
                if (categories[c].selects(particle)) by_traits[traits] |= uint64_t{1} << c;
            }
            asked[traits] = true;
        }
        masks[position] = by_traits[traits];
    }
    return masks;
}

std::vector<CategoryShare> measure_categories(const ValidationEvent& event, const EventWeights& weights,
                                              const CategoryMasks& masks, size_t category_count) {
    std::vector<CategoryShare> shares(category_count);
    for (uint32_t position = 0; position < masks.size(); ++position) {
        // A repeated key is one particle: only its indexed row can be found.
        const bool reconstructed = event.is_indexed[position] && weights.best_weight[position] > kMatchThreshold;
        for (uint64_t bits = masks[position]; bits != 0; bits &= bits - 1) {
            CategoryShare& share = shares[static_cast<size_t>(std::countr_zero(bits))];
            ++share.particles;
            share.reconstructed += reconstructed;
        }
    }

    // Per category, the distinct tracks matching one of its particles, in track order: a track's
    // largest weight among the category's particles, the later particle on ties, above the threshold.
    struct Match {
        uint32_t track;
        WeightEntry particle;
    };
    std::vector<std::vector<Match>> matches(category_count);
    std::vector<WeightEntry> best(category_count);
    for (uint32_t track = 0; track < weights.track_count(); ++track) {
        uint64_t seen = 0;
        for (const WeightEntry& entry : weights.weights_of(track)) {
            for (uint64_t bits = masks[entry.particle]; bits != 0; bits &= bits - 1) {
                const auto c = static_cast<size_t>(std::countr_zero(bits));
                const uint64_t bit = uint64_t{1} << c;
                if ((seen & bit) == 0 || beats(entry, best[c])) best[c] = entry;
                seen |= bit;
            }
        }
        for (uint64_t bits = seen; bits != 0; bits &= bits - 1) {
            const auto c = static_cast<size_t>(std::countr_zero(bits));
            if (best[c].weight > kMatchThreshold) matches[c].push_back({track, best[c]});
        }
    }

    std::vector<uint8_t> matched(masks.size(), 0);
    for (size_t c = 0; c < category_count; ++c) {
        CategoryShare& share = shares[c];
        if (share.particles == 0) continue;  // no particle of the category: no track matches one either
        share.matched_tracks = matches[c].size();
        // Clones: every matched track beyond the first for the same particle.
        uint64_t particles_matched = 0;
        for (const Match& match : matches[c]) {
            if (!matched[match.particle.particle]) {
                matched[match.particle.particle] = 1;
                ++particles_matched;
            }
        }
        for (const Match& match : matches[c]) matched[match.particle.particle] = 0;
        share.clones = matches[c].size() - particles_matched;
        // Sums in order of first occurrence of the tracks.
        for (const Match& match : matches[c]) {
            share.purity_sum += match.particle.weight;
            const uint32_t distinct_hits = event.distinct_hit_count[match.particle.particle];
            if (distinct_hits == 0) continue;
            share.hiteff_sum += static_cast<double>(match.particle.shared) / static_cast<double>(distinct_hits);
            ++share.hiteff_count;
        }
    }
    return shares;
}

std::optional<CategoryStats> fold_category(std::optional<CategoryStats> stats, const CategoryShare& share,
                                           std::string_view name, const WarningSink& warnings) {
    if (share.particles == 0) {
        if (warnings) warnings("update_efficiencies: No particles match condition for '" + std::string(name) + "'\n");
        return stats;
    }
    if (!stats) stats = CategoryStats{.label = std::string(name)};
    CategoryStats& s = *stats;
    s.n_particles += share.particles;
    s.n_recon_particles += share.reconstructed;
    s.avg_recoeff = s.n_particles == 0
                        ? 0.0
                        : (static_cast<double>(s.n_recon_particles) / static_cast<double>(s.n_particles)) * 100.0;
    s.n_clones += share.clones;
    s.purity_sum += share.purity_sum;
    s.hiteff_sum += share.hiteff_sum;
    s.n_hiteff += share.hiteff_count;
    s.latest_event_hiteff = mean_percent(share.hiteff_sum, share.hiteff_count);
    s.latest_event_purity = mean_percent(share.purity_sum, share.matched_tracks);
    if (s.n_particles != 0) {
        s.recoeff = (100.0 * static_cast<double>(s.n_recon_particles)) / static_cast<double>(s.n_particles);
    }
    if (s.n_recon_particles != 0) {
        s.purity =
            (s.purity_sum * 100.0) / (static_cast<double>(s.n_recon_particles) + static_cast<double>(s.n_clones));
    }
    return stats;
}

GhostCount count_ghosts(const EventWeights& weights) {
    GhostCount count;
    count.entries = weights.track_count();
    for (uint32_t track = 0; track < weights.track_count(); ++track) {
        if (!matched_particle(weights.weights_of(track))) ++count.ghosts;
    }
    return count;
}

}  // namespace corvane::validation
