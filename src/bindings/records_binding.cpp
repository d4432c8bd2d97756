#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "bindings/classes.hpp"
#include "bindings/layer/bind.hpp"
#include "bindings/layer/class_builder.hpp"
#include "bindings/layer/interpreter_lock.hpp"
#include "bindings/layer/native_column.hpp"
#include "bindings/layer/standard_output.hpp"
#include "bindings/registration.hpp"
#include "bindings/solved_columns.hpp"
#include "bindings/track_columns.hpp"
#include "bindings/validation_event_reader.hpp"
#include "bindings/validation_export.hpp"
#include "core/errors.hpp"
#include "parallel/batch.hpp"
#include "validator/mc_particle.hpp"
#include "validator/report.hpp"
#include "validator/validation_event.hpp"

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

// Little-endian values of a bytes object, `count` of them or a ValueError.
template <class T>
std::vector<T> values_of(const ByteString& bytes, size_t count, const char* what, const char* function) {
    if (count > bytes.data.size() / sizeof(T) || bytes.data.size() != count * sizeof(T)) {
        throw ValueError(std::string(function) + ": " + what + " has the wrong size");
    }
    std::vector<T> values(count);
    if (count != 0) std::memcpy(values.data(), bytes.data.data(), bytes.data.size());
    return values;
}

// One particle from typed columns, read by the rules a row of Python values
// is read by: a key below 0 and an integer beyond 32 bits give the field's
// default, a negative hit position makes the whole list unreadable (empty),
// positions from `hit_count` up are dropped. Its hits close the next list of
// `hits`.
validation::McParticle column_particle(const int64_t* integers, double p, const int64_t* positions, size_t count,
                                       uint64_t hit_count, PackedLists<uint32_t>& hits) {
    const auto fits_32 = [](int64_t value) { return value >= INT32_MIN && value <= INT32_MAX; };
    const auto flag = [&](int64_t value, bool fallback) { return fits_32(value) ? value != 0 : fallback; };
    validation::McParticle particle;
    particle.key = integers[0] >= 0 ? static_cast<uint64_t>(integers[0]) : 0;
    particle.pid = fits_32(integers[1]) ? static_cast<int32_t>(integers[1]) : 0;
    particle.p = p;
    particle.is_long = flag(integers[2], false);
    particle.has_velo = flag(integers[3], true);
    particle.from_beauty_decay = flag(integers[4], false);
    particle.from_strange_decay = flag(integers[5], false);
    if (std::all_of(positions, positions + count, [](int64_t position) { return position >= 0; })) {
        for (size_t i = 0; i < count; ++i) {
            if (static_cast<uint64_t>(positions[i]) < hit_count)
                hits.items.push_back(static_cast<uint32_t>(positions[i]));
        }
    }
    hits.close_list();
    particle.above_5gev = validation::momentum_above_5gev(p);
    return particle;
}

constexpr size_t kParticleIntegers = 7;  // key, pid, isLong, hasVelo, fromBeautyDecay, fromStrangeDecay, hit count

// The Monte Carlo records of consecutive events given as typed columns rather
// than Python rows: `events` holds per event (hits, particles), `particles` per
// particle the kParticleIntegers integers, `momenta` per particle p,
// `positions` every particle's hit positions one after the other.
struct TruthColumns {
    std::vector<int64_t> sizes;
    std::vector<int64_t> integers;
    std::vector<double> momenta;
    std::vector<int64_t> positions;

    size_t event_count() const { return sizes.size() / 2; }
};

TruthColumns truth_columns(const ByteString& events, const ByteString& particles, const ByteString& momenta,
                           const ByteString& positions, const char* function) {
    const size_t event_count = events.data.size() / (2 * sizeof(int64_t));
    const size_t particle_count = particles.data.size() / (kParticleIntegers * sizeof(int64_t));
    return {values_of<int64_t>(events, 2 * event_count, "events", function),
            values_of<int64_t>(particles, kParticleIntegers * particle_count, "particles", function),
            values_of<double>(momenta, particle_count, "momenta", function),
            values_of<int64_t>(positions, positions.data.size() / sizeof(int64_t), "positions", function)};
}

// The validation events of the columns; ValueError when the sizes do not fit.
std::vector<validation::ValidationEvent> build_column_events(const TruthColumns& columns, const std::string& function) {
    const size_t event_count = columns.event_count();
    const size_t particle_count = columns.momenta.size();
    std::vector<validation::ValidationEvent> built;
    built.reserve(event_count);
    size_t particle = 0, position = 0;
    for (size_t event = 0; event < event_count; ++event) {
        const int64_t hits = columns.sizes[2 * event], count = columns.sizes[2 * event + 1];
        if (hits < 0 || hits > INT32_MAX || count < 0 || static_cast<size_t>(count) > particle_count - particle) {
            throw ValueError(function + ": an event's sizes do not fit the columns");
        }
        validation::McTruth truth;
        truth.particles.reserve(static_cast<size_t>(count));
        truth.hits.offsets.reserve(static_cast<size_t>(count) + 1);
        for (int64_t i = 0; i < count; ++i, ++particle) {
            const int64_t* row = &columns.integers[kParticleIntegers * particle];
            const int64_t listed = row[kParticleIntegers - 1];
            if (listed < 0 || static_cast<size_t>(listed) > columns.positions.size() - position) {
                throw ValueError(function + ": the hit positions do not fit the columns");
            }
            truth.particles.push_back(column_particle(row, columns.momenta[particle],
                                                      columns.positions.data() + position, static_cast<size_t>(listed),
                                                      static_cast<uint64_t>(hits), truth.hits));
            position += static_cast<size_t>(listed);
        }
        built.push_back(validation::build_validation_event(static_cast<uint64_t>(hits), std::move(truth)));
    }
    return built;
}

// The records of consecutive events whose Monte Carlo record comes as typed
// columns (see TruthColumns), measured like measure_events, on the worker pool
// without the interpreter lock.
ByteString measure_columns(ByteString events, ByteString particles, ByteString momenta, ByteString positions,
                           std::vector<std::vector<Track>> py_tracks) {
    const TruthColumns columns = truth_columns(events, particles, momenta, positions, "measure_columns");
    if (py_tracks.size() != columns.event_count()) {
        throw ValueError("measure_columns: one track list per event is needed");
    }
    return without_lock([&]() -> ByteString {
        const std::vector<validation::ValidationEvent> built = build_column_events(columns, "measure_columns");
        const ValidationRun run = standard_run(false, false);
        const std::vector<EventRecord> records = solve_in_order<EventRecord>(
            built.size(), [&](size_t i) { return run.measure_event(built[i], py_tracks[i]); });
        return {validation::encode_records(records, standard_category_count())};
    });
}

// The positions of the measured events among `event_count` (int64,
// increasing), one per event of the truth columns; ValueError otherwise.
std::vector<int64_t> measured_events(const ByteString& measured, size_t truth_events, size_t event_count,
                                     const std::string& function) {
    std::vector<int64_t> chosen = values_of<int64_t>(measured, truth_events, "measured", function.c_str());
    for (size_t i = 0; i < chosen.size(); ++i) {
        if (chosen[i] < 0 || static_cast<size_t>(chosen[i]) >= event_count || (i > 0 && chosen[i] <= chosen[i - 1])) {
            throw ValueError(function + ": measured events must be increasing positions of the events' tracks");
        }
    }
    return chosen;
}

// The records of events chosen[0], chosen[1], ... of the batch, whose
// validation events `build()` makes, without the interpreter lock and on this
// thread (the worker pool stays free for the solvers).
template <class Build>
std::string measure_chosen(Build&& build, const std::vector<int64_t>& chosen, const BatchTracks& tracks) {
    return without_lock([&] {
        const std::vector<validation::ValidationEvent> built = build();
        const ValidationRun run = standard_run(false, false);
        std::vector<EventRecord> records;
        records.reserve(built.size());
        size_t first_track = 0, event = 0;
        for (size_t i = 0; i < built.size(); ++i) {
            for (; event < static_cast<size_t>(chosen[i]); ++event) first_track += tracks.counts[event];
            records.push_back(run.measure_event(built[i], tracks.event(first_track, event)));
        }
        return validation::encode_records(records, standard_category_count());
    });
}

// A batch of solved events at once: the records of the events with truth,
// whose typed columns describe events measured[0], measured[1], ... of
// py_tracks, and every event's tracks as columns. Each track is read from
// Python once, for both.
auto measure_tracks(ByteString events, ByteString particles, ByteString momenta, ByteString positions,
                    ByteString measured, BatchTracks py_tracks) {
    const TruthColumns columns = truth_columns(events, particles, momenta, positions, "measure_tracks");
    const std::vector<int64_t> chosen =
        measured_events(measured, columns.event_count(), py_tracks.counts.size(), "measure_tracks");
    std::string records =
        measure_chosen([&] { return build_column_events(columns, "measure_tracks"); }, chosen, py_tracks);
    return std::tuple_cat(std::tuple(ByteString{std::move(records)}), native_columns(std::move(py_tracks.tracks)),
                          std::tuple(NativeColumn<int64_t>{std::move(py_tracks.counts)}));
}

// Track columns as solve_tracks returns them, checked to fit together.
BatchTracks track_columns(const ByteString& hit_ids, const ByteString& offsets, const ByteString& missed_last,
                          const ByteString& missed_penultimate, const ByteString& counts) {
    const char* function = "measure_solved";
    BatchTracks batch;
    batch.counts = values_of<int64_t>(counts, counts.data.size() / sizeof(int64_t), "track_counts", function);
    validation::TrackColumns& tracks = batch.tracks;
    tracks.hit_ids = values_of<int32_t>(hit_ids, hit_ids.data.size() / sizeof(int32_t), "hit_ids", function);
    tracks.offsets = values_of<int64_t>(offsets, offsets.data.size() / sizeof(int64_t), "offsets", function);
    tracks.missed_last_module = values_of<uint8_t>(missed_last, missed_last.data.size(), "flags", function);
    tracks.missed_penultimate_module =
        values_of<uint8_t>(missed_penultimate, missed_penultimate.data.size(), "flags", function);
    const size_t track_count = tracks.missed_last_module.size();
    uint64_t counted = 0;
    bool fits = tracks.missed_penultimate_module.size() == track_count && tracks.offsets.size() == track_count + 1 &&
                tracks.offsets.front() == 0 && tracks.offsets.back() == static_cast<int64_t>(tracks.hit_ids.size());
    for (size_t t = 0; fits && t < track_count; ++t) fits = tracks.offsets[t] <= tracks.offsets[t + 1];
    for (const int64_t count : batch.counts) {
        fits = fits && count >= 0 && static_cast<uint64_t>(count) <= track_count - counted;
        if (fits) counted += static_cast<uint64_t>(count);
    }
    if (!fits || counted != track_count) throw ValueError("measure_solved: the track columns do not fit together");
    return batch;
}

// The records of the measured events of tracks solved into columns
// (solve_tracks), whose truth is either typed columns, a tuple (events,
// particles, momenta, positions) as measure_tracks takes them, or a list of
// event dictionaries, read as the exports read them.
ByteString measure_solved(PyObject* truth, ByteString measured, ByteString hit_ids, ByteString offsets,
                          ByteString missed_last_module, ByteString missed_penultimate_module,
                          ByteString track_counts) {
    const BatchTracks tracks =
        track_columns(hit_ids, offsets, missed_last_module, missed_penultimate_module, track_counts);
    if (PyTuple_CheckExact(truth)) {
        if (PyTuple_GET_SIZE(truth) != 4) throw ValueError("measure_solved: typed truth is a tuple of four columns");
        const auto column = [truth](Py_ssize_t i) { return from_python<ByteString>(PyTuple_GET_ITEM(truth, i)); };
        const TruthColumns columns = truth_columns(column(0), column(1), column(2), column(3), "measure_solved");
        const std::vector<int64_t> chosen =
            measured_events(measured, columns.event_count(), tracks.counts.size(), "measure_solved");
        return {measure_chosen([&] { return build_column_events(columns, "measure_solved"); }, chosen, tracks)};
    }
    const auto py_events = from_python<std::vector<PyRef>>(truth);
    const std::vector<int64_t> chosen =
        measured_events(measured, py_events.size(), tracks.counts.size(), "measure_solved");
    std::vector<validation::ValidationEvent> events;
    events.reserve(py_events.size());
    for (const PyRef& event : py_events) events.push_back(read_validation_event(event.get()));
    return {measure_chosen([&] { return std::move(events); }, chosen, tracks)};
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

// Hands the kept snapshots over as an "events" dictionary, and forgets them only once it is built.
PyRef take_events(ValidationRun& run) {
    PyRef events = events_dict(run.snapshots(), run.snapshots_taken() + 1);
    run.forget_snapshots();
    return events;
}

PyMethodDef functions[] = {
    Function<&measure_events, "measure_events", "py_events", "py_tracks">::def(
        "measure_events(py_events, py_tracks)\n--\n\nThe validation records of the paired events, as bytes."),
    Function<&measure_columns, "measure_columns", "events", "particles", "momenta", "positions", "py_tracks">::def(
        "measure_columns(events, particles, momenta, positions, py_tracks)\n--\n\nThe validation records of events "
        "whose Monte Carlo record comes as typed columns (int64 and float64 bytes), as bytes."),
    Function<&measure_tracks, "measure_tracks", "events", "particles", "momenta", "positions", "measured",
             "py_tracks">::
        def("measure_tracks(events, particles, momenta, positions, measured, py_tracks)\n--\n\nOn the calling "
            "thread: the validation records of the events `measured` (int64 positions in py_tracks) whose Monte Carlo "
            "record comes as typed columns, and every event's tracks as hit ids (int32), offsets (int64, over the "
            "whole batch), the two flags (one byte each) and track counts (int64)."),
    Function<&measure_solved, "measure_solved", "truth", "measured", "hit_ids", "offsets", "missed_last_module",
             "missed_penultimate_module", "track_counts">::
        def("measure_solved(truth, measured, hit_ids, offsets, missed_last_module, missed_penultimate_module, "
            "track_counts)\n--\n\nThe validation records of the `measured` events (int64 positions) of tracks given "
            "as the columns solve_tracks returns; `truth`: a tuple of typed columns as measure_tracks takes them, or "
            "a list of event dictionaries."),
    solve_tracks_function(),
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
                Method<&take_events, "take_events">::def(
                    "take_events($self)\n--\n\nThe \"events\" dictionary of the statistics kept since the last "
                    "call (numbered on from there); the fold forgets them, and the detailed export then lists "
                    "only those kept after."),
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
