#include "bindings/solved_columns.hpp"

#include <optional>
#include <tuple>
#include <vector>

#include "bindings/batch_binding.hpp"
#include "bindings/track_columns.hpp"

namespace corvane::py {
namespace {

using validation::TrackColumns;

// Per-event columns one after the other, offsets running over the whole batch.
BatchTracks concatenated(std::vector<TrackColumns> per_event) {
    BatchTracks batch;
    batch.counts.reserve(per_event.size());
    for (const TrackColumns& event : per_event) {
        const auto base = static_cast<int64_t>(batch.tracks.hit_ids.size());
        batch.tracks.hit_ids.insert(batch.tracks.hit_ids.end(), event.hit_ids.begin(), event.hit_ids.end());
        for (size_t t = 1; t < event.offsets.size(); ++t) batch.tracks.offsets.push_back(base + event.offsets[t]);
        batch.tracks.missed_last_module.insert(batch.tracks.missed_last_module.end(), event.missed_last_module.begin(),
                                               event.missed_last_module.end());
        batch.tracks.missed_penultimate_module.insert(batch.tracks.missed_penultimate_module.end(),
                                                      event.missed_penultimate_module.begin(),
                                                      event.missed_penultimate_module.end());
        batch.counts.push_back(static_cast<int64_t>(event.missed_last_module.size()));
    }
    return batch;
}

// The batch solved with the core of class P, if `algorithm` is one: on the
// worker pool as solve_batch solves it (same failures, same signal handling),
// each worker making its own event's columns, so that the tracks are freed
// where they were made.
template <class P>
std::optional<BatchTracks> solve_with(PyObject* algorithm, const std::vector<EventSnapshot>& events) {
    if (!PyObject_TypeCheck(algorithm, PyClass<P>::type)) return std::nullopt;
    const Borrowed<P> parameters(box_of<P>(algorithm));
    const auto core = RegisteredCore<P>::core;
    ReleasedLock unlocked;
    try {
        return concatenated(solve_in_order<TrackColumns>(
            events.size(), [&](size_t i) { return TrackColumns::of(core(parameters.get(), *events[i].data)); },
            RegisteredCore<P>::after_failure, [&unlocked] { return signal_handler_raised(unlocked); }));
    } catch (const BatchCancelled&) {
        throw ErrorAlreadySet{};  // the handler's exception is pending
    }
}

auto solve_tracks(PyObject* algorithm, std::vector<EventSnapshot> events) {
    std::optional<BatchTracks> solved = solve_with<TrackFollowingParameters>(algorithm, events);
    if (!solved) solved = solve_with<SearchByTripletTrieParameters>(algorithm, events);
    if (!solved) solved = solve_with<GraphDfsParameters>(algorithm, events);
    if (!solved) raise(PyExc_TypeError, "solve_tracks: the algorithm is not one of the module's classes");
    return std::tuple_cat(native_columns(std::move(solved->tracks)),
                          std::tuple(NativeColumn<int64_t>{std::move(solved->counts)}));
}

}  // namespace

PyMethodDef& solve_tracks_function() {
    static PyMethodDef definition = Function<&solve_tracks, "solve_tracks", "algorithm", "events">::def(
        "solve_tracks(algorithm, events)\n--\n\nWhat algorithm.solve_batch(events) finds, as columns: hit ids "
        "(int32), offsets (int64, over the whole batch), the two flags (one byte each) and track counts (int64).");
    return definition;
}

}  // namespace corvane::py
