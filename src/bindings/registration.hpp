// Every class and function of the module, one registration function per
// binding file. Each adds its names to the owner it is given; module.cpp
// calls them in the module's registration order.
#pragma once

#include "bindings/layer/python.hpp"

namespace corvane::py {

// ReconstructionAlgorithms
void register_track_following(PyObject* owner);
void register_graph_dfs(PyObject* owner);
void register_search_by_triplet_trie(PyObject* owner);

// Validator: its four public functions, in order.
void register_validator_functions(PyObject* owner);

// DetectorEvent
void register_hit(PyObject* owner);
void register_track(PyObject* owner);
void register_detector_module(PyObject* owner);
void register_event(PyObject* owner);

// Private submodules of `corvane`, not listed in its __all__:
// `_reference`, the reference paths of the finders and a view of the worker
// pool, for the tests and the benchmarks;
void register_reference_module(PyObject* corvane);
// `_tools`, native helpers behind the Python package corvane_tools (arrays
// out of tracks and events, the validation summary as text);
void register_tools_module(PyObject* corvane);
// `_records`, per-event validation records and their fold, so that events
// validated in separate processes add up to exactly one local run.
void register_records_module(PyObject* corvane);
// `_generator`, the event generator's flight arithmetic and the building of
// its events' lists.
void register_generator_module(PyObject* corvane);

}  // namespace corvane::py
