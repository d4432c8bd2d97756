// Creating the heap types of the module's classes and registering classes,
// functions and submodules on their owners.
#pragma once

#include <span>
#include <vector>

#include "bindings/layer/class_object.hpp"
#include "bindings/layer/pyref.hpp"
#include "bindings/layer/python.hpp"

namespace corvane::py {

// Everything that makes one Python class. Instances of this live for the
// whole process: the type object points into them.
struct ClassDefinition {
    const char* doc = nullptr;  // class docstring (with text signature), if any
    newfunc construct = nullptr;
    reprfunc repr = nullptr;
    std::vector<PyGetSetDef> getters;
    std::vector<PyMethodDef> methods;
    // Set both for a class whose record holds Python references, so that
    // cycles through them can be collected.
    traverseproc traverse = nullptr;
    inquiry clear = nullptr;
    // Pickling and copying: `reduce<&arguments>()` from bind.hpp, where
    // `arguments` gives the values that rebuild the record. They go to
    // `restore` if set, else to the class's own constructor.
    PyMethodDef reduce{};
    PyMethodDef restore{};
};

PyTypeObject* create_class(const char* name, ClassDefinition& definition, Py_ssize_t basicsize, destructor dealloc);

// Creates the class of record type T from `definition`, which must live for
// the whole process (the type object points into it).
template <class T>
PyTypeObject* create_bound_class(ClassDefinition& definition) {
    PyTypeObject* type = create_class(PyClass<T>::name, definition, sizeof(Box<T>), &dealloc_box<T>);
    PyClass<T>::type = type;
    return type;
}

// Appends `name` to the owner's __all__ (creating it if absent), then sets
// the attribute.
void register_object(PyObject* owner, const char* name, PyObject* value);

template <class T>
void register_class(PyObject* owner, ClassDefinition& definition) {
    register_object(owner, PyClass<T>::name, reinterpret_cast<PyObject*>(create_bound_class<T>(definition)));
}

// `definition` must live for the whole process.
void register_function(PyObject* owner, PyMethodDef& definition);

// A private submodule `corvane.{name}` holding `functions` (which must live
// for the whole process); not listed in corvane's __all__.
PyRef attach_private_module(PyObject* corvane, const char* name, std::span<PyMethodDef> functions);

}  // namespace corvane::py
