// Pickling and copying of the module's instances. Every class with a
// reduction pickles as `corvane._restore(class name, arguments)`: the classes
// report `builtins` as their module, so pickle could not find them by name,
// while `corvane._restore` is found by importing `corvane`. The arguments are
// plain values (no addresses), and rebuilding goes through the class's own
// constructor or an equally strict restorer.
#pragma once

#include "bindings/layer/pyref.hpp"
#include "bindings/layer/python.hpp"

namespace corvane::py {

// (corvane._restore, (class_name, arguments)), the value of __reduce__.
PyObject* reduction(const char* class_name, PyRef arguments);

// `callable(*arguments)` rebuilds an instance of the class; kept for the
// process's lifetime.
void register_restorer(const char* class_name, PyObject* callable);

// Sets `corvane._restore` (not listed in __all__).
void attach_restore_function(PyObject* corvane);

}  // namespace corvane::py
