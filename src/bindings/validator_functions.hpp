// The four functions of the Validator submodule, in registration order.
#pragma once

#include <span>

#include "bindings/python.hpp"

namespace corvane::py {

std::span<PyMethodDef> validator_functions();

}  // namespace corvane::py
