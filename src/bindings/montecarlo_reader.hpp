// Reads the Monte Carlo record of an event dictionary into particle records.
#pragma once

#include <cstdint>

#include "bindings/layer/python.hpp"
#include "validator/validation_event.hpp"

namespace corvane::py {

// `montecarlo` must be a dict with "description" (column names) and
// "particles" (rows). Values inside rows never fail: an unreadable one takes
// its field's default. Hit positions from `hit_count` up are dropped.
validation::McTruth read_montecarlo(PyObject* montecarlo, uint32_t hit_count);

}  // namespace corvane::py
