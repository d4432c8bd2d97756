#include "validator/validation_run.hpp"

#include "validator/helper.hpp"

namespace corvane::validation {

ValidationRun::ValidationRun(std::vector<Category> categories, bool count_ghosts, WarningSink warnings)
    : categories_(std::move(categories)),
      statistics_(categories_.size()),
      count_ghosts_(count_ghosts),
      warnings_(std::move(warnings)) {}

void ValidationRun::add_event(const ValidationEvent& event, std::span<const Track> tracks) {
    totals_.tracks += tracks.size();
    const EventWeights weights = weigh_tracks(event, tracks);
    if (count_ghosts_) {
        const GhostCount ghosts = count_ghosts(weights, event);
        totals_.ghosts += ghosts.ghosts;
        totals_.rate_sum += ghosts.entries == 0
                                ? 0.0
                                : static_cast<double>(ghosts.ghosts) / static_cast<double>(ghosts.entries);
    }
    for (size_t i = 0; i < categories_.size(); ++i) {
        statistics_[i] = update_efficiencies(std::move(statistics_[i]), event, tracks, weights, categories_[i].name,
                                             categories_[i].selects, warnings_);
    }
}

double overall_ghost_rate(const RunTotals& totals) {
    if (totals.tracks == 0) return 0.0;
    return (static_cast<double>(totals.ghosts) * 100.0) / static_cast<double>(totals.tracks);
}

double event_average_ghost_rate(const RunTotals& totals, size_t event_count) {
    if (event_count == 0) return 0.0;
    return (totals.rate_sum * 100.0) / static_cast<double>(event_count);
}

}  // namespace corvane::validation
