#include "validator/validation_run.hpp"

#include "core/errors.hpp"
#include "validator/track_matching.hpp"

namespace corvane::validation {

ValidationRun::ValidationRun(std::vector<Category> categories, bool count_ghosts, WarningSink warnings,
                             bool keep_snapshots)
    : categories_(std::move(categories)),
      statistics_(categories_.size()),
      count_ghosts_(count_ghosts),
      warnings_(std::move(warnings)),
      keep_snapshots_(keep_snapshots) {}

EventRecord ValidationRun::measure_event(const ValidationEvent& event, const TrackList& tracks) const {
    EventRecord record;
    record.tracks = tracks.size();
    const EventWeights weights = weigh_tracks(event, tracks);
    if (count_ghosts_) {
        const GhostCount ghosts = count_ghosts(weights);
        record.ghosts = ghosts.ghosts;
        record.ghost_entries = ghosts.entries;
    }
    record.categories = measure_categories(event, weights, category_masks(event, categories_), categories_.size());
    return record;
}

void ValidationRun::add_record(const EventRecord& record) {
    if (record.categories.size() != categories_.size()) {
        throw ValueError("a validation record does not have one share per category");
    }
    totals_.tracks += record.tracks;
    if (count_ghosts_) {
        totals_.ghosts += record.ghosts;
        totals_.rate_sum += record.ghost_entries == 0
                                ? 0.0
                                : static_cast<double>(record.ghosts) / static_cast<double>(record.ghost_entries);
    }
    for (size_t i = 0; i < categories_.size(); ++i) {
        statistics_[i] = fold_category(std::move(statistics_[i]), record.categories[i], categories_[i].name, warnings_);
    }
    ++events_folded_;
    if (keep_snapshots_) snapshots_.push_back(present_statistics());
}

void ValidationRun::forget_snapshots() {
    snapshots_taken_ += snapshots_.size();
    std::vector<CategorySnapshot>().swap(snapshots_);
}

CategorySnapshot ValidationRun::present_statistics() const {
    CategorySnapshot present;
    for (const auto& stats : statistics_) {
        if (stats) present.push_back(*stats);
    }
    return present;
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
