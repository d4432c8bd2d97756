// The dictionaries of the JSON exports, built from a finished validation run.
#pragma once

#include <cstddef>

#include "bindings/layer/pyref.hpp"
#include "validator/validation_run.hpp"

namespace corvane::py {

// Totals and the categories that have statistics; with `detailed`, also the
// "events" dictionary of per-event snapshots (the run must have kept them).
PyRef export_dict(const validation::ValidationRun& run, size_t event_count, bool detailed);

}  // namespace corvane::py
