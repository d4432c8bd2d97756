#include "bindings/layer/dict_items.hpp"

#include <string>

#include "bindings/layer/python_errors.hpp"
#include "core/errors.hpp"

namespace corvane::py {
namespace {

PyRef key_object(const char* key) {
    PyRef name = PyRef::steal(PyUnicode_FromString(key));
    if (!name) throw_error_already_set();
    return name;
}

}  // namespace

PyRef dict_item(PyObject* dict, const char* key) {
    PyObject* value = PyDict_GetItemWithError(dict, key_object(key).get());
    if (value == nullptr && PyErr_Occurred()) throw_error_already_set();
    return PyRef::borrow(value);
}

PyRef required_event_item(PyObject* event, const char* key) {
    PyRef value = dict_item(event, key);
    if (!value) throw InternalFailure(std::string("the event dictionary has no \"") + key + "\" key");
    return value;
}

bool has_dict_item(PyObject* dict, const char* key) {
    const int found = PyDict_Contains(dict, key_object(key).get());
    if (found < 0) throw_error_already_set();
    return found == 1;
}

PyRef new_dict() {
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) throw_error_already_set();
    return dict;
}

void set_dict_item(PyObject* dict, const char* key, PyObject* new_value) {
    PyRef value = PyRef::steal(new_value);
    if (!value || PyDict_SetItemString(dict, key, value.get()) < 0) throw_error_already_set();
}

}  // namespace corvane::py
