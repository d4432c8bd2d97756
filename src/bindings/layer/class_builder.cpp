#include "bindings/layer/class_builder.hpp"

#include <string>

#include "bindings/layer/pickling.hpp"
#include "bindings/layer/python_errors.hpp"

namespace corvane::py {

namespace {

void register_restorer_of(const char* name, ClassDefinition& definition, PyObject* type) {
    if (definition.restore.ml_name == nullptr) {
        register_restorer(name, type);
        return;
    }
    PyRef restorer = PyRef::steal(PyCFunction_NewEx(&definition.restore, nullptr, nullptr));
    if (!restorer) {
        Py_DECREF(type);
        throw_error_already_set();
    }
    register_restorer(name, restorer.get());
}

}  // namespace

PyTypeObject* create_class(const char* name, ClassDefinition& definition, Py_ssize_t basicsize, destructor dealloc) {
    // The qualified name lives as long as the type.
    auto* qualified = new std::string("builtins." + std::string(name));
    std::vector<PyType_Slot> slots;
    slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(dealloc)});
    if (definition.construct != nullptr) slots.push_back({Py_tp_new, reinterpret_cast<void*>(definition.construct)});
    if (definition.repr != nullptr) slots.push_back({Py_tp_repr, reinterpret_cast<void*>(definition.repr)});
    if (definition.doc != nullptr) slots.push_back({Py_tp_doc, const_cast<char*>(definition.doc)});
    unsigned int flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;
    if (definition.traverse != nullptr) {
        flags |= Py_TPFLAGS_HAVE_GC;
        slots.push_back({Py_tp_traverse, reinterpret_cast<void*>(definition.traverse)});
        slots.push_back({Py_tp_clear, reinterpret_cast<void*>(definition.clear)});
    }
    if (!definition.getters.empty()) {
        definition.getters.push_back({nullptr, nullptr, nullptr, nullptr, nullptr});
        slots.push_back({Py_tp_getset, definition.getters.data()});
    }
    slots.push_back({0, nullptr});
    PyType_Spec type_spec{qualified->c_str(), static_cast<int>(basicsize), 0, flags, slots.data()};
    PyObject* type = PyType_FromSpec(&type_spec);
    if (type == nullptr) throw_error_already_set();

    // Methods are bound through descriptors that accept any receiver, so that
    // calling one through the class with a wrong receiver reaches our own
    // check and its "'X' object cannot be converted to 'Y'" message instead of
    // the interpreter's descriptor error.
    PyObject* dict = reinterpret_cast<PyTypeObject*>(type)->tp_dict;
    if (definition.reduce.ml_name != nullptr) definition.methods.push_back(definition.reduce);
    for (PyMethodDef& method : definition.methods) {
        PyRef descriptor = PyRef::steal(PyDescr_NewMethod(&PyBaseObject_Type, &method));
        if (!descriptor || PyDict_SetItemString(dict, method.ml_name, descriptor.get()) < 0) {
            Py_DECREF(type);
            throw_error_already_set();
        }
    }
    PyType_Modified(reinterpret_cast<PyTypeObject*>(type));
    if (definition.reduce.ml_name != nullptr) register_restorer_of(name, definition, type);
    return reinterpret_cast<PyTypeObject*>(type);
}

void register_object(PyObject* owner, const char* name, PyObject* value) {
    PyRef all = PyRef::steal(PyObject_GetAttrString(owner, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_error_already_set();
        PyErr_Clear();
        all = PyRef::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(owner, "__all__", all.get()) < 0) throw_error_already_set();
    }
    if (!PyList_Check(all.get())) raise_conversion_error(all.get(), "PyList");
    PyRef text = PyRef::steal(PyUnicode_FromString(name));
    if (!text || PyList_Append(all.get(), text.get()) < 0) throw_error_already_set();
    if (PyObject_SetAttrString(owner, name, value) < 0) throw_error_already_set();
}

void register_function(PyObject* owner, PyMethodDef& definition) {
    PyRef module_name = PyRef::steal(PyModule_GetNameObject(owner));
    if (!module_name) throw_error_already_set();
    PyRef function = PyRef::steal(PyCFunction_NewEx(&definition, owner, module_name.get()));
    if (!function) throw_error_already_set();
    register_object(owner, definition.ml_name, function.get());
}

PyRef attach_private_module(PyObject* corvane, const char* name, std::span<PyMethodDef> functions) {
    PyRef module = PyRef::steal(PyModule_New(name));
    if (!module) throw_error_already_set();
    for (PyMethodDef& function : functions) register_function(module.get(), function);
    if (PyObject_SetAttrString(corvane, name, module.get()) < 0) throw_error_already_set();
    return module;
}

}  // namespace corvane::py
