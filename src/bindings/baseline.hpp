// `corvane._baseline`: the literal reference procedures and a view of the
// worker pool, for the tests and the benchmarks. Not listed in __all__.
#pragma once

#include "bindings/python.hpp"

namespace corvane::py {

void attach_baseline_module(PyObject* corvane);

}  // namespace corvane::py
