// The event loop shared by the validation functions: per event, weigh the
// tracks, count ghosts and fold every category's statistics.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "event_model/track.hpp"
#include "validator/categories.hpp"
#include "validator/efficiency.hpp"
#include "validator/event.hpp"

namespace corvane::validation {

struct RunTotals {
    uint64_t tracks = 0;     // every track handed in, equal ones included
    uint64_t ghosts = 0;
    double rate_sum = 0.0;   // sum over events of ghosts / entries
};

class ValidationRun {
public:
    // `warnings` receives the warning lines of the events, in order.
    ValidationRun(std::vector<Category> categories, bool count_ghosts, WarningSink warnings);

    // Processes one event; throws RuntimeError for a track hit outside the event.
    void add_event(const ValidationEvent& event, std::span<const Track> tracks);

    const RunTotals& totals() const { return totals_; }
    const std::vector<Category>& categories() const { return categories_; }
    // Per category, in category order; absent until an event had one of its particles.
    const std::vector<std::optional<CategoryStats>>& statistics() const { return statistics_; }

private:
    std::vector<Category> categories_;
    std::vector<std::optional<CategoryStats>> statistics_;
    bool count_ghosts_;
    WarningSink warnings_;
    RunTotals totals_;
};

// (ghosts * 100) / tracks, or 0 without tracks.
double overall_ghost_rate(const RunTotals& totals);
// (rate sum * 100) / number of events given (not processed), or 0 without events.
double event_average_ghost_rate(const RunTotals& totals, size_t event_count);

}  // namespace corvane::validation
