// The four functions of the Validator submodule, for registration. Each
// definition lives for the whole process.
#pragma once

#include "bindings/python.hpp"

namespace corvane::py {

PyMethodDef& print_validation_summary_definition();
PyMethodDef& compute_tracking_efficiency_definition();
PyMethodDef& export_validation_to_json_definition();
PyMethodDef& export_detailed_metrics_json_definition();

}  // namespace corvane::py
