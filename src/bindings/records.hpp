// `corvane._records`: per-event validation records and their fold, so that
// events validated in separate processes add up to exactly one local run.
// Not listed in __all__.
#pragma once

#include "bindings/python.hpp"

namespace corvane::py {

void attach_records_module(PyObject* corvane);

}  // namespace corvane::py
