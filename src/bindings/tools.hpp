// `corvane._tools`: native helpers behind the Python package corvane_tools
// (arrays out of tracks and events, the validation summary as text). Not
// listed in __all__.
#pragma once

#include "bindings/python.hpp"

namespace corvane::py {

void attach_tools_module(PyObject* corvane);

}  // namespace corvane::py
