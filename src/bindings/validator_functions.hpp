// The four functions of the Validator submodule, in registration order.
#pragma once

#include <span>

#include "bindings/python.hpp"

namespace corvane::py {

std::span<PyMethodDef> validator_functions();

// Private: the summary text as a string, for corvane._tools.
PyMethodDef& summary_text_function();

}  // namespace corvane::py
