// Reading entries of a dictionary by key, from its own storage (a subclass's
// __getitem__ or __missing__ is never consulted). Values are returned owned,
// so converting them cannot outlive a dictionary changed meanwhile.
#pragma once

#include "bindings/layer/pyref.hpp"
#include "bindings/layer/python.hpp"

namespace corvane::py {

// The value under `key`, or an empty reference when there is none.
PyRef dict_item(PyObject* dict, const char* key);

// The value under a key an event dictionary must have; InternalFailure when
// it is missing.
PyRef required_event_item(PyObject* event, const char* key);

// Whether the dictionary's own storage holds `key`.
bool has_dict_item(PyObject* dict, const char* key);

// A new empty dictionary.
PyRef new_dict();

// dict[key] = new_value, taking over the new reference (which may be null
// after a failed conversion; the pending error is raised then).
void set_dict_item(PyObject* dict, const char* key, PyObject* new_value);

}  // namespace corvane::py
