// Builds the validation event of one event dictionary.
#pragma once

#include "bindings/layer/python.hpp"
#include "validator/validation_event.hpp"

namespace corvane::py {

// Reads "module_prefix_sum", "x", "y", "z" and, when present, "montecarlo".
// A missing key, or an event that is not a dict, is an internal failure.
validation::ValidationEvent read_validation_event(PyObject* event);

}  // namespace corvane::py
