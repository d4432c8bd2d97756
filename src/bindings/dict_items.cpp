#include "bindings/dict_items.hpp"

#include "bindings/errors.hpp"

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

}  // namespace corvane::py
