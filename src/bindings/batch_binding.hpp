// `solve(event)` and `solve_batch(events)` for every algorithm class, from the
// class's per-event core
//
//   std::vector<Track> solve_one_event(const Parameters&, const EventData&);
//
// declared in the class's method list as
//
//   solve_method<&solve_one_event>("solve($self, event)\n--\n\n"),
//   solve_batch_method<&solve_one_event>(),
//
// Both run the core without the interpreter lock, on the immutable event
// record and the algorithm's parameters (which never change after
// construction), so other Python threads keep running meanwhile; the Track
// objects are built once the lock is back. `solve_batch` also answers signals
// (Ctrl-C) while it waits for the workers.
#pragma once

#include <memory>
#include <vector>

#include "bindings/classes.hpp"
#include "bindings/layer/bind.hpp"
#include "bindings/layer/interpreter_lock.hpp"
#include "event_model/event.hpp"
#include "event_model/track.hpp"
#include "parallel/batch.hpp"

namespace corvane::py {

// What the core gets of an Event: the immutable record, never the Monte
// Carlo object, so no code without the lock ever holds a Python reference.
struct EventSnapshot {
    std::shared_ptr<const EventData> data;
};

template <>
struct FromPython<EventSnapshot> {
    static EventSnapshot convert(PyObject* object) {
        Box<EventHandle>& box = box_of<EventHandle>(object);
        SharedBorrow borrow(box.borrows);
        return {box.value.data};
    }
};

template <class Core>
struct CoreParameters;
template <class P>
struct CoreParameters<std::vector<Track> (*)(const P&, const EventData&)> {
    using type = P;
};
template <auto Core>
using parameters_of = typename CoreParameters<decltype(Core)>::type;

template <auto Core>
std::vector<Track> solve_unlocked(const parameters_of<Core>& parameters, EventSnapshot event) {
    return without_lock([&] { return Core(parameters, *event.data); });
}

template <auto Core>
PyMethodDef solve_method(const char* doc) {
    return Method<&solve_unlocked<Core>, "solve", "event">::def(doc);
}

// A pending signal runs its Python handler; true when that handler raised.
inline bool signal_handler_raised(ReleasedLock& unlocked) {
    return unlocked.relocked([] { return PyErr_CheckSignals() < 0; });
}

template <auto Core, AfterFailure after_failure>
std::vector<std::vector<Track>> solve_batch(const parameters_of<Core>& parameters, std::vector<EventSnapshot> events) {
    ReleasedLock unlocked;
    try {
        return solve_in_order<std::vector<Track>>(
            events.size(), [&](size_t i) { return Core(parameters, *events[i].data); }, after_failure,
            [&unlocked] { return signal_handler_raised(unlocked); });
    } catch (const BatchCancelled&) {
        throw ErrorAlreadySet{};  // the handler's exception is pending
    }
}

// Each class's per-event core and what its solve_batch does after a failure,
// for the private entry points that solve a batch into columns instead of
// Track objects (solved_columns.cpp). Set when the class is registered.
template <class Parameters>
struct RegisteredCore {
    static inline std::vector<Track> (*core)(const Parameters&, const EventData&) = nullptr;
    static inline AfterFailure after_failure = AfterFailure::solve_the_rest;
};

template <auto Core, AfterFailure after_failure = AfterFailure::solve_the_rest>
PyMethodDef solve_batch_method() {
    RegisteredCore<parameters_of<Core>>::core = Core;
    RegisteredCore<parameters_of<Core>>::after_failure = after_failure;
    return Method<&solve_batch<Core, after_failure>, "solve_batch", "events">::def(
        "solve_batch($self, events)\n--\n\n");
}

}  // namespace corvane::py
