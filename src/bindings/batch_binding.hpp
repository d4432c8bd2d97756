// `solve_batch(events)` for every algorithm class: the events are taken on the
// calling thread, then solved on the worker pool by the class's per-event core.
//
//   solve_batch_method<&solve_one_event>()
//
// where solve_one_event(const Parameters&, const EventData&) -> std::vector<Track>.
#pragma once

#include <memory>
#include <vector>

#include "algorithms/batch.hpp"
#include "bindings/bind.hpp"
#include "bindings/classes.hpp"
#include "event_model/event.hpp"
#include "event_model/track.hpp"

namespace corvane::py {

// What a worker gets of an Event: the immutable record, never the Monte
// Carlo object, so no worker ever holds a Python reference.
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

template <auto Core, AfterFailure after_failure>
std::vector<std::vector<Track>> solve_batch(const typename CoreParameters<decltype(Core)>::type& parameters,
                                            std::vector<EventSnapshot> events) {
    return solve_in_order<std::vector<Track>>(
        events.size(), [&](size_t i) { return Core(parameters, *events[i].data); }, after_failure);
}

template <auto Core, AfterFailure after_failure = AfterFailure::solve_the_rest>
PyMethodDef solve_batch_method() {
    return Method<&solve_batch<Core, after_failure>, "solve_batch", "events">::def("solve_batch($self, events)\n--\n\n");
}

}  // namespace corvane::py
