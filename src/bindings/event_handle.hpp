// What a Python Event holds: the immutable event record, shared with any
// worker that solves it, and the Monte Carlo object, which stays on the
// interpreter's side.
#pragma once

#include <memory>

#include "bindings/layer/pyref.hpp"
#include "event_model/event.hpp"

namespace corvane::py {

struct EventHandle {
    std::shared_ptr<const EventData> data;
    PyRef montecarlo;
};

}  // namespace corvane::py
