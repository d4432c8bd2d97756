// Running statistics of one particle category, folded event by event from
// per-event shares, and the per-event ghost count.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "validator/categories.hpp"
#include "validator/track_list.hpp"
#include "validator/track_matching.hpp"
#include "validator/validation_event.hpp"

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
    // Percent, over the latest event with particles of this category only
    // (0 when none of them matched); reported as "avg_purity"/"avg_hiteff".
    double latest_event_purity = 0.0;
    double latest_event_hiteff = 0.0;
};

// 100 * clones / reconstructed particles, or 0 without reconstructed particles.
double clone_percentage(const CategoryStats& stats);
// Mean hit efficiency in percent over all matched tracks, or 0 without any.
double hit_efficiency_percentage(const CategoryStats& stats);

// Receives each warning line (ending in "\n") as it arises, so that the
// caller decides where it goes; an empty sink drops the warnings.
using WarningSink = std::function<void(std::string_view line)>;

// One event's share of one category's statistics: everything the event adds
// to the running sums, measured without looking at any other event.
struct CategoryShare {
    uint64_t particles = 0;       // selected particles; 0: the event does not count
    uint64_t reconstructed = 0;   // selected particles with a matching track
    uint64_t clones = 0;          // matched tracks beyond the first per particle
    uint64_t matched_tracks = 0;  // distinct tracks matching a selected particle
    uint64_t hiteff_count = 0;    // matched tracks with a hit efficiency
    double purity_sum = 0.0;      // this event's purities, summed in track order
    double hiteff_sum = 0.0;      // this event's hit efficiencies, summed in track order
};

// Bit c of a particle's mask: whether category c selects it. Asked once per
// particle and category, not once per track weighed.
CategoryMasks category_masks(const ValidationEvent& event, std::span<const Category> categories);

// Measures one event against categories 0 .. category_count - 1, category c
// being the particles whose mask has bit c. One pass over the tracks serves
// every category: each track's best particle within each category.
std::vector<CategoryShare> measure_categories(const ValidationEvent& event, const EventWeights& weights,
                                              const CategoryMasks& masks, size_t category_count);

// Folds one event's share into a category's statistics. A share without
// particles leaves them as they are (still absent if they were) and gives
// `warnings` a line.
std::optional<CategoryStats> fold_category(std::optional<CategoryStats> stats, const CategoryShare& share,
                                           std::string_view name, const WarningSink& warnings);

struct GhostCount {
    uint64_t ghosts = 0;   // distinct tracks matching no particle
    uint64_t entries = 0;  // distinct tracks weighed
};

GhostCount count_ghosts(const EventWeights& weights);

}  // namespace corvane::validation
