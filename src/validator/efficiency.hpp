// Running statistics of one particle category, folded event by event, and
// the per-event ghost count.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "event_model/track.hpp"
#include "validator/categories.hpp"
#include "validator/event.hpp"
#include "validator/helper.hpp"

namespace corvane::validation {

struct CategoryStats {
    std::string label;
    uint64_t n_particles = 0;
    uint64_t n_recon_particles = 0;
    double purity_sum = 0.0;
    uint64_t n_clones = 0;
    double hiteff_sum = 0.0;
    uint64_t n_hiteff = 0;
    double recoeff = 0.0;      // percent, over all events so far
    double purity = 0.0;       // percent, over all events so far
    double avg_recoeff = 0.0;  // recoeff computed dividing first
    double avg_purity = 0.0;   // percent, latest contributing event only
    double avg_hiteff = 0.0;   // percent, latest contributing event only
};

// 100 * clones / reconstructed particles, or 0 without reconstructed particles.
double clone_percentage(const CategoryStats& stats);
// Mean hit efficiency in percent over all matched tracks, or 0 without any.
double hit_efficiency_percentage(const CategoryStats& stats);

// Receives each warning line (ending in "\n") as it arises, so that the
// caller decides where it goes; an empty sink drops the warnings.
using WarningSink = std::function<void(std::string_view line)>;

// Folds one event into a category's statistics. An event without a particle
// of the category leaves them as they are (still absent if they were) and
// gives `warnings` a line.
std::optional<CategoryStats> update_efficiencies(std::optional<CategoryStats> stats, const ValidationEvent& event,
                                                 std::span<const Track> tracks, const EventWeights& weights,
                                                 std::string_view name, ParticlePredicate selects,
                                                 const WarningSink& warnings);

struct GhostCount {
    uint64_t ghosts = 0;   // distinct tracks matching no particle
    uint64_t entries = 0;  // distinct tracks weighed
};

GhostCount count_ghosts(const EventWeights& weights, const ValidationEvent& event);

}  // namespace corvane::validation
