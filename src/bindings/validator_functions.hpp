// A function of the Validator's code that corvane._tools registers: the
// summary text as a string.
#pragma once

#include "bindings/layer/python.hpp"

namespace corvane::py {

PyMethodDef& summary_text_function();

}  // namespace corvane::py
