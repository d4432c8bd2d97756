// Reads the coordinate lists of an event dictionary straight into hit records,
// without a temporary list of doubles per coordinate.
#pragma once

#include <cstdint>
#include <vector>

#include "bindings/layer/python.hpp"
#include "event_model/event.hpp"

namespace corvane::py {

struct HitColumns {
    std::vector<Hit> hits;  // coordinates of hit index i in hits[i]
    ColumnLengths lengths;
};

// Looks up and converts "x", "y", "z" and, with has_t, "t", in that order,
// every item of each (so the errors are those of converting whole lists).
// Fills records for the indices below `hit_count` that every list reaches;
// the lengths tell build_event whether that is all of them.
HitColumns read_hit_columns(PyObject* event, uint64_t hit_count, bool has_t);

}  // namespace corvane::py
