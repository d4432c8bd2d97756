#include "bindings/layer/pickling.hpp"

#include <map>
#include <string>

#include "bindings/layer/bind.hpp"

namespace corvane::py {
namespace {

// Class name -> what rebuilds it. Filled once while the module initialises.
std::map<std::string, PyRef>& restorers() {
    static auto* table = new std::map<std::string, PyRef>();  // never destroyed: holds Python objects
    return *table;
}

PyObject* restore_function = nullptr;

PyRef restore(std::string class_name, PyObject* arguments) {
    const auto found = restorers().find(class_name);
    if (found == restorers().end()) raise(PyExc_ValueError, "no class to restore named '" + class_name + "'");
    if (!PyTuple_Check(arguments)) raise_conversion_error(arguments, "PyTuple");
    PyRef object = PyRef::steal(PyObject_Call(found->second.get(), arguments, nullptr));
    if (!object) throw_error_already_set();
    return object;
}

PyMethodDef restore_definition = Function<&restore, "_restore", "class_name", "arguments">::def(
    "_restore(class_name, arguments)\n--\n\nRebuilds a pickled or copied instance of one of the module's classes.");

}  // namespace

PyObject* reduction(const char* class_name, PyRef arguments) {
    if (restore_function == nullptr) raise(PyExc_RuntimeError, "corvane._restore is not available");
    PyObject* value = Py_BuildValue("O(sO)", restore_function, class_name, arguments.get());
    if (value == nullptr) throw_error_already_set();
    return value;
}

void register_restorer(const char* class_name, PyObject* callable) {
    restorers()[class_name] = PyRef::borrow(callable);
}

void attach_restore_function(PyObject* corvane) {
    PyRef module_name = PyRef::steal(PyModule_GetNameObject(corvane));
    if (!module_name) throw_error_already_set();
    PyRef function = PyRef::steal(PyCFunction_NewEx(&restore_definition, corvane, module_name.get()));
    if (!function || PyObject_SetAttrString(corvane, "_restore", function.get()) < 0) throw_error_already_set();
    restore_function = function.release();  // lives as long as the process, like the types
}

}  // namespace corvane::py
