#include "bindings/layer/arguments.hpp"

#include <string>
#include <vector>

#include "bindings/layer/python_errors.hpp"

namespace corvane::py {
namespace {

std::string full_name(CallName call) {
    std::string out = call.owner != nullptr ? std::string(call.owner) + "." : std::string();
    return out + call.name + "()";
}

[[noreturn]] void too_many_positional(CallName call, std::span<const Parameter> parameters, Py_ssize_t given) {
    size_t required = 0;
    for (const Parameter& p : parameters) required += p.required ? 1 : 0;
    std::string message = full_name(call) + " takes ";
    if (required != parameters.size()) message += "from " + std::to_string(required) + " to ";
    message += std::to_string(parameters.size()) + " positional arguments but " + std::to_string(given) +
               (given == 1 ? " was given" : " were given");
    raise(PyExc_TypeError, message);
}

[[noreturn]] void missing_required(CallName call, const std::vector<const char*>& missing) {
    std::string names;
    for (size_t i = 0; i < missing.size(); ++i) {
        if (i > 0) names += missing.size() == 2 ? " and " : (i + 1 == missing.size() ? ", and " : ", ");
        names += "'" + std::string(missing[i]) + "'";
    }
    raise(PyExc_TypeError, full_name(call) + " missing " + std::to_string(missing.size()) +
                               " required positional argument" + (missing.size() == 1 ? "" : "s") + ": " + names);
}

void assign_keyword(CallName call, std::span<const Parameter> parameters, PyObject* keyword, PyObject* value,
                    PyObject** slots) {
    for (size_t i = 0; i < parameters.size(); ++i) {
        const int equal = PyUnicode_CompareWithASCIIString(keyword, parameters[i].name);
        if (equal != 0) continue;
        if (slots[i] != nullptr) {
            raise(PyExc_TypeError, full_name(call) + " got multiple values for argument '" + parameters[i].name + "'");
        }
        slots[i] = value;
        return;
    }
    PyObject* text = PyObject_Str(keyword);
    std::string name = text != nullptr && PyUnicode_AsUTF8(text) != nullptr ? PyUnicode_AsUTF8(text) : "?";
    Py_XDECREF(text);
    PyErr_Clear();
    raise(PyExc_TypeError, full_name(call) + " got an unexpected keyword argument '" + name + "'");
}

}  // namespace

void match_arguments(CallName call, std::span<const Parameter> parameters, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, PyObject* kwargs, PyObject** slots) {
    if (static_cast<size_t>(nargs) > parameters.size()) too_many_positional(call, parameters, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = args[i];
    if (kwnames != nullptr) {
        for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(kwnames); ++k) {
            assign_keyword(call, parameters, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], slots);
        }
    }
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject *keyword, *value;
        while (PyDict_Next(kwargs, &position, &keyword, &value)) {
            assign_keyword(call, parameters, keyword, value, slots);
        }
    }
    std::vector<const char*> missing;
    for (size_t i = 0; i < parameters.size(); ++i) {
        if (parameters[i].required && slots[i] == nullptr) missing.push_back(parameters[i].name);
    }
    if (!missing.empty()) missing_required(call, missing);
}

}  // namespace corvane::py
