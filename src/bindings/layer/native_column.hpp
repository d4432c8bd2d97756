// Values handed to Python as the bytes of their native representation, in a
// new bytearray, so that the Python side wraps them without converting each
// value (numpy.frombuffer with the matching dtype).
#pragma once

#include <vector>

#include "bindings/layer/convert.hpp"

namespace corvane::py {

template <class T>
struct NativeColumn {
    std::vector<T> values;
};

template <class T>
struct ToPython<NativeColumn<T>> {
    static PyObject* convert(const NativeColumn<T>& column) {
        PyObject* bytes = PyByteArray_FromStringAndSize(reinterpret_cast<const char*>(column.values.data()),
                                                        static_cast<Py_ssize_t>(column.values.size() * sizeof(T)));
        if (bytes == nullptr) throw_error_already_set();
        return bytes;
    }
};

}  // namespace corvane::py
