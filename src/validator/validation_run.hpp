// The event loop shared by the validation functions: per event, weigh the
// tracks, count ghosts and measure every category into one record, then fold
// the record into the run. Records of separately measured events folded in
// event order give exactly what measuring them in one run gives.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "event_model/track.hpp"
#include "validator/categories.hpp"
#include "validator/efficiency.hpp"
#include "validator/event_record.hpp"
#include "validator/track_list.hpp"
#include "validator/validation_event.hpp"

namespace corvane::validation {

struct RunTotals {
    uint64_t tracks = 0;  // every track handed in, equal ones included
    uint64_t ghosts = 0;
    double rate_sum = 0.0;  // sum over events of ghosts / entries
};

using CategorySnapshot = std::vector<CategoryStats>;  // the categories that have statistics, in order

class ValidationRun {
public:
    // `warnings` receives the warning lines of the events, in order, as they are folded;
    // `keep_snapshots`: remember every category's statistics after each event.
    ValidationRun(std::vector<Category> categories, bool count_ghosts, WarningSink warnings,
                  bool keep_snapshots = false);

    // One event's record; throws RuntimeError for a track hit outside the event.
    EventRecord measure_event(const ValidationEvent& event, const TrackList& tracks) const;
    EventRecord measure_event(const ValidationEvent& event, std::span<const Track> tracks) const {
        return measure_event(event, TrackColumns::of(tracks).view());
    }
    // Folds the next event's record in; records must come in event order.
    void add_record(const EventRecord& record);
    void add_event(const ValidationEvent& event, std::span<const Track> tracks) {
        add_record(measure_event(event, tracks));
    }

    const RunTotals& totals() const { return totals_; }
    const std::vector<Category>& categories() const { return categories_; }
    // Per category, in category order; absent until an event had one of its particles.
    const std::vector<std::optional<CategoryStats>>& statistics() const { return statistics_; }
    // The categories that have statistics now, in category order.
    CategorySnapshot present_statistics() const;
    // One snapshot per folded event not yet taken (only with keep_snapshots); the first is that of
    // event number snapshots_taken() + 1.
    const std::vector<CategorySnapshot>& snapshots() const { return snapshots_; }
    // Forgets the snapshots kept so far (once handed on), so a long run need not hold them all.
    void forget_snapshots();
    uint64_t snapshots_taken() const { return snapshots_taken_; }
    bool keeps_snapshots() const { return keep_snapshots_; }
    uint64_t events_folded() const { return events_folded_; }

private:
    std::vector<Category> categories_;
    std::vector<std::optional<CategoryStats>> statistics_;
    bool count_ghosts_;
    WarningSink warnings_;
    bool keep_snapshots_;
    RunTotals totals_;
    uint64_t events_folded_ = 0;
    std::vector<CategorySnapshot> snapshots_;
    uint64_t snapshots_taken_ = 0;
};

// (ghosts * 100) / tracks, or 0 without tracks.
double overall_ghost_rate(const RunTotals& totals);
// (rate sum * 100) / number of events given (not processed), or 0 without events.
double event_average_ghost_rate(const RunTotals& totals, size_t event_count);

}  // namespace corvane::validation
