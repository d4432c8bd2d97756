#include "bindings/layer/convert.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace corvane::py {

void raise_out_of_range() { raise(PyExc_OverflowError, "out of range integral type conversion attempted"); }

double to_double(PyObject* object) {
    if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) throw_error_already_set();
    return value;
}

namespace {

// An exact int of at most one digit (most ints met in practice) read straight
// from its digits, in the representation this interpreter version defines;
// other versions take the general path.
bool read_small_int(PyObject* object, int64_t& value) {
#if PY_VERSION_HEX >= 0x030B0000 && PY_VERSION_HEX < 0x030C0000
    if (!PyLong_CheckExact(object)) return false;
    const Py_ssize_t size = Py_SIZE(object);
    if (size < -1 || size > 1) return false;
    value = size == 0 ? 0 : size * static_cast<int64_t>(reinterpret_cast<PyLongObject*>(object)->ob_digit[0]);
    return true;
#else
    (void)object;
    (void)value;
    return false;
#endif
}

}  // namespace

int64_t to_c_long(PyObject* object) {
    if (int64_t small = 0; read_small_int(object, small)) return small;
    const long value = PyLong_AsLong(object);  // calls __index__ for non-int objects
    if (value == -1 && PyErr_Occurred()) throw_error_already_set();
    return value;
}

uint64_t to_unsigned_64(PyObject* object) {
    // A negative one takes the general path, for its error.
    if (int64_t small = 0; read_small_int(object, small) && small >= 0) return static_cast<uint64_t>(small);
    PyRef index;
    if (!PyLong_CheckExact(object)) {  // an exact int is its own index
        index = PyRef::steal(PyNumber_Index(object));
        if (!index) throw_error_already_set();
        object = index.get();
    }
    const unsigned long long value = PyLong_AsUnsignedLongLong(object);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw_error_already_set();
    return value;
}

std::string FromPython<std::string>::convert(PyObject* object) {
    if (!PyUnicode_Check(object)) raise_conversion_error(object, "PyString");
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(object, &size);
    if (text == nullptr) throw_error_already_set();
    return std::string(text, static_cast<size_t>(size));
}

ByteString FromPython<ByteString>::convert(PyObject* object) {
    if (!PyObject_CheckBuffer(object)) raise_conversion_error(object, "PyBytes");
    Py_buffer view;
    if (PyObject_GetBuffer(object, &view, PyBUF_C_CONTIGUOUS) < 0) throw_error_already_set();
    ByteString out;
    try {
        out.data.assign(static_cast<const char*>(view.buf), static_cast<size_t>(view.len));
    } catch (...) {
        PyBuffer_Release(&view);
        throw;
    }
    PyBuffer_Release(&view);
    return out;
}

std::pair<double, double> FromPython<std::pair<double, double>>::convert(PyObject* object) {
    if (!PyTuple_Check(object)) raise_conversion_error(object, "PyTuple");
    const Py_ssize_t length = PyTuple_GET_SIZE(object);
    if (length != 2) {
        raise(PyExc_ValueError, "expected tuple of length 2, but got tuple of length " + std::to_string(length));
    }
    const double first = to_double(PyTuple_GET_ITEM(object, 0));
    const double second = to_double(PyTuple_GET_ITEM(object, 1));
    return {first, second};
}

size_t check_sequence(PyObject* object) {
    if (PyUnicode_Check(object)) raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
    if (!PySequence_Check(object)) raise_conversion_error(object, "Sequence");
    if (PyList_CheckExact(object)) return static_cast<size_t>(PyList_GET_SIZE(object));
    if (PyTuple_CheckExact(object)) return static_cast<size_t>(PyTuple_GET_SIZE(object));
    const Py_ssize_t size = PySequence_Size(object);
    if (size < 0) {
        if (!clear_unreadable_value_error()) throw_error_already_set();
        return 0;
    }
    // Only a hint: a sequence's __len__ may promise more than it yields, and
    // must not size an allocation.
    constexpr size_t max_hint = size_t{1} << 16;
    return std::min(static_cast<size_t>(size), max_hint);
}

namespace {

bool is_native_double_format(const char* format) {
    if (format == nullptr) return false;
    if (std::strcmp(format, "d") == 0 || std::strcmp(format, "@d") == 0 || std::strcmp(format, "=d") == 0) {
        return true;
    }
    const char* native_order = (std::endian::native == std::endian::little) ? "<d" : ">d";
    return std::strcmp(format, native_order) == 0;
}

}  // namespace

DoubleColumn::DoubleColumn(DoubleColumn&& other) noexcept { *this = std::move(other); }

DoubleColumn& DoubleColumn::operator=(DoubleColumn&& other) noexcept {
    if (this != &other) {
        if (has_buffer_) PyBuffer_Release(&buffer_);
        owned_ = std::move(other.owned_);
        buffer_ = other.buffer_;
        has_buffer_ = std::exchange(other.has_buffer_, false);
        view_ = has_buffer_ ? other.view_ : std::span<const double>(owned_);
        other.view_ = {};
    }
    return *this;
}

DoubleColumn::~DoubleColumn() {
    if (has_buffer_) PyBuffer_Release(&buffer_);
}

std::optional<DoubleColumn> DoubleColumn::buffer_view(PyObject* object) {
    if (!PyObject_CheckBuffer(object)) return std::nullopt;
    DoubleColumn column;
    if (PyObject_GetBuffer(object, &column.buffer_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) != 0) {
        if (!clear_unreadable_value_error()) throw_error_already_set();
        return std::nullopt;
    }
    column.has_buffer_ = true;
    if (column.buffer_.ndim == 1 && column.buffer_.itemsize == sizeof(double) &&
        is_native_double_format(column.buffer_.format)) {
        column.view_ = std::span<const double>(static_cast<const double*>(column.buffer_.buf),
                                               static_cast<size_t>(column.buffer_.len) / sizeof(double));
        return column;
    }
    return std::nullopt;  // the destructor releases the buffer
}

DoubleColumn DoubleColumn::from(PyObject* object) {
    const size_t capacity = check_sequence(object);
    // A flat buffer of native doubles is read where it lies: the same values
    // that iterating the object would convert one by one.
    if (std::optional<DoubleColumn> view = buffer_view(object)) return std::move(*view);
    DoubleColumn column;
    column.owned_.reserve(capacity);
    for_each_item(object, [&column](PyObject* item) { column.owned_.push_back(item_as_double(item)); });
    column.view_ = column.owned_;
    return column;
}

}  // namespace corvane::py
