// How failures cross the boundary: C++ exceptions inside, the interpreter's
// error indicator outside.
#pragma once

#include <string>

#include "bindings/layer/python.hpp"

namespace corvane::py {

// Thrown after a Python error has been set; carries nothing itself.
struct ErrorAlreadySet {};

[[noreturn]] void throw_error_already_set();
[[noreturn]] void raise(PyObject* type, const std::string& message);
// TypeError "'{type}' object cannot be converted to '{target}'".
[[noreturn]] void raise_conversion_error(PyObject* object, const char* target);

// The qualified name of the object's type, as used in conversion messages.
std::string type_name(PyObject* object);

// The internal-failure exception type: derives from BaseException directly,
// created once per process on first use.
PyObject* internal_failure_type();

// Inside a catch handler: sets the Python error matching the exception in
// flight (core errors, allocation failure, anything else as internal failure).
void set_error_from_current_exception() noexcept;

// Where the rules let a value that cannot be read fall back to a default:
// clears the pending error and returns true when it says the value was
// unreadable (any Exception but MemoryError). Interrupts, exits, running out
// of memory and the module's own internal failures stay pending (false).
bool clear_unreadable_value_error() noexcept;

// Replaces a pending TypeError by "argument '{name}': {message}", keeping its
// cause; other pending errors are left as they are.
void prefix_argument_error(const char* name) noexcept;

// Runs `body` and turns any exception into a pending Python error and
// `on_error`. Every entry point from the interpreter goes through here.
template <class Result, class Body>
Result guarded(Result on_error, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        set_error_from_current_exception();
        return on_error;
    }
}

}  // namespace corvane::py
