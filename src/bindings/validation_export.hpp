// The dictionaries of the JSON exports, built from a finished validation run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "bindings/layer/pyref.hpp"
#include "validator/validation_run.hpp"

namespace corvane::py {

// The "events" dictionary of the snapshots, keyed by event number from `first_number` on.
PyRef events_dict(std::span<const validation::CategorySnapshot> snapshots, uint64_t first_number);

// Totals and the categories that have statistics; with `detailed`, also the
// "events" dictionary of the per-event snapshots the run keeps and has not handed over.
PyRef export_dict(const validation::ValidationRun& run, size_t event_count, bool detailed);

}  // namespace corvane::py
