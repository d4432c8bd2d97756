// Matching call arguments to parameters by position or keyword, with the
// interpreter-style messages for every count and keyword error.
#pragma once

#include <span>

#include "bindings/layer/python.hpp"

namespace corvane::py {

struct Parameter {
    const char* name;
    bool required;
};

// Who is being called, for messages: "Hit.__new__()" or "solve()".
struct CallName {
    const char* owner;  // class name, or nullptr for a module function
    const char* name;
};

// Fills `slots[i]` with the borrowed argument for parameter i, or nullptr
// when it was not given. Keywords come either as vectorcall names (kwnames,
// values after the positional ones) or as a dict.
void match_arguments(CallName call, std::span<const Parameter> parameters, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, PyObject* kwargs, PyObject** slots);

}  // namespace corvane::py
