#include <algorithm>
#include <optional>
#include <vector>

#include "bindings/classes.hpp"
#include "bindings/layer/bind.hpp"
#include "bindings/layer/class_builder.hpp"
#include "bindings/layer/interpreter_lock.hpp"
#include "bindings/layer/standard_output.hpp"
#include "bindings/registration.hpp"
#include "bindings/validation_event_reader.hpp"
#include "bindings/validation_export.hpp"
#include "parallel/batch.hpp"
#include "validator/report.hpp"

namespace corvane::py {
namespace {

using validation::EventRecord;
using validation::ValidationRun;

// Records travel with the seven standard categories and ghost counting on;
// warnings are written when the records are folded, in event order.
ValidationRun standard_run(bool verbose, bool detailed) {
    return ValidationRun(validation::standard_category_list(), true,
                         verbose ? validation::WarningSink(write_standard_output) : validation::WarningSink(),
                         detailed);
}

size_t standard_category_count() { return validation::standard_categories().size(); }

// The records of the paired events, in order. The event dictionaries are read
// first, in order, as the exports read them; the measuring touches no Python
// object, so it runs on the worker pool without the interpreter lock. A failure
// is that of the earliest event that fails, as if measured one by one.
ByteString measure_events(std::vector<PyRef> py_events, std::vector<std::vector<Track>> py_tracks) {
    const ValidationRun run = standard_run(false, false);
    const size_t pairs = std::min(py_events.size(), py_tracks.size());
    std::vector<validation::ValidationEvent> events;
    events.reserve(pairs);
    for (size_t i = 0; i < pairs; ++i) events.push_back(read_validation_event(py_events[i].get()));
    const std::vector<EventRecord> records = without_lock([&] {
        return solve_in_order<EventRecord>(pairs, [&](size_t i) { return run.measure_event(events[i], py_tracks[i]); });
    });
    return {validation::encode_records(records, standard_category_count())};
}

// Per event: (tracks, ghosts), what the ghost-rate totals of any set of events add up from.
std::vector<std::pair<uint64_t, uint64_t>> event_totals(ByteString records) {
    std::vector<std::pair<uint64_t, uint64_t>> totals;
    for (const EventRecord& record : validation::decode_records(records.data, standard_category_count())) {
        totals.emplace_back(record.tracks, record.ghosts);
    }
    return totals;
}

ValidationRun new_fold(bool verbose, std::optional<bool> detailed) {
    return standard_run(verbose, detailed.value_or(false));
}

// Decodes the whole string before folding any of it, so bad bytes change nothing.
uint64_t add(ValidationRun& run, ByteString records) {
    const std::vector<EventRecord> decoded = validation::decode_records(records.data, standard_category_count());
    for (const EventRecord& record : decoded) run.add_record(record);
    return decoded.size();
}

uint64_t events_folded(const ValidationRun& run) { return run.events_folded(); }

size_t event_count_or_folded(const ValidationRun& run, std::optional<uint64_t> event_count) {
    return static_cast<size_t>(event_count.value_or(run.events_folded()));
}

std::string summary(const ValidationRun& run, std::optional<uint64_t> event_count) {
    return validation::summary_text(run, event_count_or_folded(run, event_count));
}

PyRef export_metrics(const ValidationRun& run, std::optional<uint64_t> event_count) {
    return export_dict(run, event_count_or_folded(run, event_count), run.keeps_snapshots());
}

PyMethodDef functions[] = {
    Function<&measure_events, "measure_events", "py_events", "py_tracks">::def(
        "measure_events(py_events, py_tracks)\n--\n\nThe validation records of the paired events, as bytes."),
    Function<&event_totals, "event_totals", "records">::def(
        "event_totals(records)\n--\n\nPer event of the records: (tracks, ghosts)."),
};

ClassDefinition& record_fold_definition() {
    static ClassDefinition definition{
        .doc =
            "RecordFold(verbose, detailed=False)\n--\n\nFolds validation records in event order. With "
            "`detailed`, keeps every event's statistics for the detailed export.",
        .construct = Constructor<&new_fold, "verbose", "detailed">::call,
        .getters = {getter<&events_folded, "events">("Number of events folded so far.")},
        .methods =
            {
                Method<&add, "add", "records">::def(
                    "add($self, records)\n--\n\nFolds the records of the next events; returns how many."),
                Method<&summary, "summary", "event_count">::def(
                    "summary($self, event_count=None)\n--\n\nThe summary text; the ghost rate is averaged over "
                    "`event_count` events (default: the events folded)."),
                Method<&export_metrics, "export", "event_count">::def(
                    "export($self, event_count=None)\n--\n\nThe export dictionary (the detailed one when "
                    "the fold keeps snapshots)."),
            },
    };
    return definition;
}

}  // namespace

void register_records_module(PyObject* corvane) {
    PyRef module = attach_private_module(corvane, "_records", functions);
    register_class<ValidationRun>(module.get(), record_fold_definition());
}

}  // namespace corvane::py
