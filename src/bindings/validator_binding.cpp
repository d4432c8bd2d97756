#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "bindings/classes.hpp"
#include "bindings/layer/bind.hpp"
#include "bindings/layer/class_builder.hpp"
#include "bindings/layer/dict_items.hpp"
#include "bindings/layer/standard_output.hpp"
#include "bindings/registration.hpp"
#include "bindings/validation_event_reader.hpp"
#include "bindings/validation_export.hpp"
#include "bindings/validator_functions.hpp"
#include "validator/report.hpp"
#include "validator/validation_run.hpp"

namespace corvane::py {
namespace {

using validation::ValidationEvent;
using validation::ValidationRun;

using EventList = std::vector<PyRef>;
using TrackLists = std::vector<std::vector<Track>>;

// Every event dictionary, read before any event is processed.
std::vector<ValidationEvent> read_all_events(const EventList& py_events) {
    std::vector<ValidationEvent> events;
    events.reserve(py_events.size());
    for (const PyRef& event : py_events) events.push_back(read_validation_event(event.get()));
    return events;
}

size_t pair_count(const EventList& py_events, const TrackLists& py_tracks) {
    return std::min(py_events.size(), py_tracks.size());
}

// Warnings are written as they arise, each line whole.
void write_warning(std::string_view line) { write_standard_output(line); }

// The summary, after the warnings (when `verbose`) have gone to `warnings`.
std::string validation_summary(const EventList& py_events, const TrackLists& py_tracks, bool verbose,
                               const validation::WarningSink& warnings) {
    const std::vector<ValidationEvent> events = read_all_events(py_events);
    ValidationRun run(validation::standard_category_list(), true, verbose ? warnings : validation::WarningSink());
    for (size_t i = 0; i < pair_count(py_events, py_tracks); ++i) run.add_event(events[i], py_tracks[i]);
    return validation::summary_text(run, py_events.size());
}

void print_validation_summary(EventList py_events, TrackLists py_tracks, bool verbose) {
    write_standard_output(validation_summary(py_events, py_tracks, verbose, write_warning));
}

// Exactly what print_validation_summary writes, returned instead.
std::string validation_summary_text(EventList py_events, TrackLists py_tracks, bool verbose) {
    std::string text;
    std::string summary =
        validation_summary(py_events, py_tracks, verbose, [&text](std::string_view line) { text += line; });
    return text + summary;
}

double compute_tracking_efficiency(EventList py_events, TrackLists py_tracks, std::string particle_type) {
    const std::vector<ValidationEvent> events = read_all_events(py_events);
    ValidationRun run({{particle_type, validation::predicate_for(particle_type)}}, false, write_warning);
    for (size_t i = 0; i < pair_count(py_events, py_tracks); ++i) run.add_event(events[i], py_tracks[i]);
    const auto& stats = run.statistics().front();
    return stats ? stats->recoeff / 100.0 : 0.0;
}

// Each event dictionary is read only when its pair is processed.
PyRef export_run(const EventList& py_events, const TrackLists& py_tracks, bool verbose, bool detailed) {
    ValidationRun run(validation::standard_category_list(), true, verbose ? write_warning : validation::WarningSink(),
                      detailed);
    for (size_t i = 0; i < pair_count(py_events, py_tracks); ++i) {
        run.add_event(read_validation_event(py_events[i].get()), py_tracks[i]);
    }
    return export_dict(run, py_events.size(), detailed);
}

PyRef export_validation_to_json(EventList py_events, TrackLists py_tracks, bool verbose) {
    return export_run(py_events, py_tracks, verbose, false);
}

PyRef export_detailed_metrics_json(EventList py_events, TrackLists py_tracks, bool verbose) {
    return export_run(py_events, py_tracks, verbose, true);
}

}  // namespace

void register_validator_functions(PyObject* owner) {
    // In registration order; the definitions live for the whole process.
    static PyMethodDef functions[] = {
        Function<&print_validation_summary, "print_validation_summary", "py_events", "py_tracks", "verbose">::def(
            "print_validation_summary(py_events, py_tracks, verbose)\n--\n\n"),
        Function<&compute_tracking_efficiency, "compute_tracking_efficiency", "py_events", "py_tracks",
                 "particle_type">::def("compute_tracking_efficiency(py_events, py_tracks, particle_type)\n--\n\n"
                                       "Exposed to Python: computes and returns the reconstruction efficiency (a "
                                       "value in [0, 1])\nfor a given particle type from a set of event "
                                       "dictionaries and corresponding tracks."),
        Function<&export_validation_to_json, "export_validation_to_json", "py_events", "py_tracks", "verbose">::def(
            "export_validation_to_json(py_events, py_tracks, verbose)\n--\n\n"),
        Function<&export_detailed_metrics_json, "export_detailed_metrics_json", "py_events", "py_tracks",
                 "verbose">::def("export_detailed_metrics_json(py_events, py_tracks, verbose)\n--\n\n"),
    };
    for (PyMethodDef& function : functions) register_function(owner, function);
}

PyMethodDef& summary_text_function() {
    static PyMethodDef function =
        Function<&validation_summary_text, "validation_summary_text", "py_events", "py_tracks", "verbose">::def(
            "validation_summary_text(py_events, py_tracks, verbose)\n--\n\n"
            "The text print_validation_summary writes (warnings included when verbose), as a str.");
    return function;
}

}  // namespace corvane::py
