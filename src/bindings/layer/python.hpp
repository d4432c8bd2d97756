// The one include of the interpreter's C API for the binding layer.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
