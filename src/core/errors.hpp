// Failures raised by the Python-free core. The binding layer maps each one to
// its Python exception type; the core never sees the interpreter.
#pragma once

#include <stdexcept>
#include <string>

namespace corvane {

// A caller-visible error with a fixed Python type and message.
struct ValueError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct KeyError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct RuntimeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The input broke a precondition the module relies on (a missing key, too few
// module boundaries, a hit index beyond the coordinates, ...).
struct InternalFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace corvane
