// The module's entry point: builds `corvane` and its three submodules, and
// registers every class and function in their final order.
#include <atomic>

#include "bindings/layer/class_builder.hpp"
#include "bindings/layer/pickling.hpp"
#include "bindings/layer/pyref.hpp"
#include "bindings/layer/python.hpp"
#include "bindings/layer/python_errors.hpp"
#include "bindings/registration.hpp"

namespace corvane::py {
namespace {

std::atomic<bool> initialised{false};

PyModuleDef corvane_definition = {
    PyModuleDef_HEAD_INIT, "corvane", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

PyRef new_submodule(const char* name) {
    PyRef module = PyRef::steal(PyModule_New(name));
    if (!module) throw_error_already_set();
    return module;
}

void register_everything(PyObject* corvane) {
    PyRef algorithms = new_submodule("ReconstructionAlgorithms");
    register_track_following(algorithms.get());
    register_graph_dfs(algorithms.get());
    register_search_by_triplet_trie(algorithms.get());
    register_object(corvane, "ReconstructionAlgorithms", algorithms.get());

    PyRef validator = new_submodule("Validator");
    register_validator_functions(validator.get());
    register_object(corvane, "Validator", validator.get());

    PyRef detector_event = new_submodule("DetectorEvent");
    register_hit(detector_event.get());
    register_track(detector_event.get());
    register_detector_module(detector_event.get());
    register_event(detector_event.get());
    register_object(corvane, "DetectorEvent", detector_event.get());

    register_reference_module(corvane);
    attach_restore_function(corvane);
    register_tools_module(corvane);
    register_records_module(corvane);
    register_generator_module(corvane);

    // Not listed in __all__, like the private submodules.
    if (PyModule_AddStringConstant(corvane, "__version__", CORVANE_VERSION) < 0) throw_error_already_set();

    // Reachable for `except`, but not part of the public listing.
    PyObject* failure = internal_failure_type();
    if (failure == nullptr || PyObject_SetAttrString(corvane, "InternalFailure", failure) < 0) {
        throw_error_already_set();
    }
}

}  // namespace
}  // namespace corvane::py

PyMODINIT_FUNC PyInit_corvane() {
    using namespace corvane::py;
    PyObject* module = PyModule_Create2(&corvane_definition, 1013);
    if (module == nullptr) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        return nullptr;
    }
    // The type objects are created once per process; a second initialisation
    // (e.g. loading the file again through importlib) is refused.
    if (initialised.exchange(true)) {
        Py_DECREF(module);
        PyErr_SetString(PyExc_ImportError, "corvane may be initialised only once per interpreter process");
        return nullptr;
    }
    const bool ok = guarded(false, [module] {
        register_everything(module);
        return true;
    });
    if (!ok) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
