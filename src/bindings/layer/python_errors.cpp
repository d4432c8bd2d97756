#include "bindings/layer/python_errors.hpp"

#include <new>
#include <stdexcept>

#include "bindings/layer/pyref.hpp"
#include "core/errors.hpp"

namespace corvane::py {

void throw_error_already_set() { throw ErrorAlreadySet{}; }

void raise(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw ErrorAlreadySet{};
}

std::string type_name(PyObject* object) {
    PyRef name = PyRef::steal(PyType_GetQualName(Py_TYPE(object)));
    const char* text = name ? PyUnicode_AsUTF8(name.get()) : nullptr;
    if (text == nullptr) {
        PyErr_Clear();
        return Py_TYPE(object)->tp_name;
    }
    return text;
}

void raise_conversion_error(PyObject* object, const char* target) {
    raise(PyExc_TypeError, "'" + type_name(object) + "' object cannot be converted to '" + target + "'");
}

PyObject* internal_failure_type() {
    // Created under the interpreter lock, so a plain static suffices.
    static PyObject* type = PyErr_NewExceptionWithDoc(
        "corvane.InternalFailure",
        "The input broke a precondition of the module (a missing key, too few module boundaries, a hit\n"
        "index beyond the coordinate lists, ...). Derives from BaseException, not Exception.",
        PyExc_BaseException, nullptr);
    return type;
}

namespace {

void set_internal_failure(const char* message) {
    PyObject* type = internal_failure_type();
    if (type == nullptr) return;  // the error of creating the type is pending
    PyErr_SetString(type, message);
}

}  // namespace

void set_error_from_current_exception() noexcept {
    try {
        throw;
    } catch (const ErrorAlreadySet&) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        }
    } catch (const ValueError& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const KeyError& e) {
        PyErr_SetString(PyExc_KeyError, e.what());
    } catch (const RuntimeError& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    } catch (const InternalFailure& e) {
        set_internal_failure(e.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        set_internal_failure(e.what());
    } catch (...) {
        set_internal_failure("unknown failure");
    }
}

bool clear_unreadable_value_error() noexcept {
    if (!PyErr_ExceptionMatches(PyExc_Exception) || PyErr_ExceptionMatches(PyExc_MemoryError)) return false;
    PyErr_Clear();
    return true;
}

void prefix_argument_error(const char* name) noexcept {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    PyRef original = PyRef::steal(value);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    PyRef text = PyRef::steal(PyObject_Str(original.get()));
    if (!text) return;
    PyRef message = PyRef::steal(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
    if (!message) return;
    PyRef replacement = PyRef::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (!replacement) return;
    PyException_SetCause(replacement.get(), PyException_GetCause(original.get()));
    PyErr_SetObject(PyExc_TypeError, replacement.get());
}

}  // namespace corvane::py
