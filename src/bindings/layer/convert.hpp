// Conversions of Python values to C++ (FromPython) and back (ToPython). Every
// argument and every result of the module goes through these.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "bindings/layer/class_object.hpp"
#include "bindings/layer/pyref.hpp"
#include "bindings/layer/python.hpp"
#include "bindings/layer/python_errors.hpp"

namespace corvane::py {

template <class T, class = void>
struct FromPython;

template <class T, class = void>
struct ToPython;

template <class T>
auto from_python(PyObject* object) {
    return FromPython<T>::convert(object);
}

template <class T>
PyObject* to_python(T&& value) {
    return ToPython<std::remove_cvref_t<T>>::convert(std::forward<T>(value));
}

// ---- numbers -----------------------------------------------------------

double to_double(PyObject* object);
int64_t to_c_long(PyObject* object);        // through __index__
uint64_t to_unsigned_64(PyObject* object);  // through __index__
[[noreturn]] void raise_out_of_range();     // "out of range integral type conversion attempted"

template <>
struct FromPython<double> {
    static double convert(PyObject* object) { return to_double(object); }
};

template <>
struct FromPython<int32_t> {
    static int32_t convert(PyObject* object) {
        const int64_t value = to_c_long(object);
        if (value < INT32_MIN || value > INT32_MAX) raise_out_of_range();
        return static_cast<int32_t>(value);
    }
};

template <>
struct FromPython<uint8_t> {
    static uint8_t convert(PyObject* object) {
        const int64_t value = to_c_long(object);
        if (value < 0 || value > UINT8_MAX) raise_out_of_range();
        return static_cast<uint8_t>(value);
    }
};

template <>
struct FromPython<uint32_t> {
    static uint32_t convert(PyObject* object) {
        const uint64_t value = to_unsigned_64(object);
        if (value > UINT32_MAX) raise_out_of_range();
        return static_cast<uint32_t>(value);
    }
};

template <>
struct FromPython<uint64_t> {
    static uint64_t convert(PyObject* object) { return to_unsigned_64(object); }
};

template <>
struct FromPython<bool> {
    static bool convert(PyObject* object) {
        if (!PyBool_Check(object)) raise_conversion_error(object, "PyBool");
        return object == Py_True;
    }
};

template <>
struct FromPython<std::string> {
    static std::string convert(PyObject* object);
};

// Any object, borrowed for the length of the call.
template <>
struct FromPython<PyObject*> {
    static PyObject* convert(PyObject* object) { return object; }
};

// Any object, owned.
template <>
struct FromPython<PyRef> {
    static PyRef convert(PyObject* object) { return PyRef::borrow(object); }
};

// Bytes crossing the boundary as one `bytes` object: any bytes-like object
// (bytes, bytearray, memoryview) in, always `bytes` out.
struct ByteString {
    std::string data;
};

template <>
struct FromPython<ByteString> {
    static ByteString convert(PyObject* object);
};

// A tuple of exactly two numbers.
template <>
struct FromPython<std::pair<double, double>> {
    static std::pair<double, double> convert(PyObject* object);
};

// Omitted or None.
template <class T>
struct FromPython<std::optional<T>> {
    static std::optional<T> convert(PyObject* object) {
        if (object == nullptr || object == Py_None) return std::nullopt;
        return FromPython<T>::convert(object);
    }
};

// ---- sequences ---------------------------------------------------------

// The checks every list conversion starts with: a str is refused, then any
// object failing the sequence check. Returns the capacity hint.
size_t check_sequence(PyObject* object);

// Calls `each(item)` for every item of a sequence, in iteration order.
template <class Each>
void for_each_item(PyObject* sequence, Each&& each) {
    if (PyList_CheckExact(sequence)) {
        // Index loop like the list iterator: safe if a conversion mutates the list.
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(sequence); ++i) {
            PyRef item = PyRef::borrow(PyList_GET_ITEM(sequence, i));
            each(item.get());
        }
        return;
    }
    if (PyTuple_CheckExact(sequence)) {
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(sequence); ++i) each(PyTuple_GET_ITEM(sequence, i));
        return;
    }
    PyRef iterator = PyRef::steal(PyObject_GetIter(sequence));
    if (!iterator) throw_error_already_set();
    while (PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) each(item.get());
    if (PyErr_Occurred()) throw_error_already_set();
}

// As for_each_item, for an `each` that runs no Python code on the items that
// pass `is_plain` (exact floats or ints, say): a run of them cannot change a
// list, so they are read without references of their own, and the next ones
// are fetched from memory ahead (items lie wherever they were made).
template <class IsPlain, class Each>
void for_each_plain_item(PyObject* sequence, IsPlain&& is_plain, Each&& each) {
    if (!PyList_CheckExact(sequence)) return for_each_item(sequence, each);
    constexpr Py_ssize_t kAhead = 32;
    Py_ssize_t i = 0;
    while (i < PyList_GET_SIZE(sequence)) {
        PyObject** items = PySequence_Fast_ITEMS(sequence);
        const Py_ssize_t size = PyList_GET_SIZE(sequence);
        for (; i < size && is_plain(items[i]); ++i) {
            if (i + kAhead < size) __builtin_prefetch(items[i + kAhead]);
            each(items[i]);
        }
        if (i < size) {
            const PyRef item = PyRef::borrow(items[i++]);
            each(item.get());
        }
    }
}

template <class T>
struct FromPython<std::vector<T>> {
    static std::vector<T> convert(PyObject* object) {
        std::vector<T> out;
        out.reserve(check_sequence(object));
        for_each_item(object, [&out](PyObject* item) { out.push_back(FromPython<T>::convert(item)); });
        return out;
    }
};

// A column of doubles: a view of a contiguous 1-D float64 buffer when the
// object exports one (NumPy arrays), otherwise the converted items. Results
// and errors are the same either way.
class DoubleColumn {
public:
    DoubleColumn() = default;
    DoubleColumn(DoubleColumn&& other) noexcept;
    DoubleColumn& operator=(DoubleColumn&& other) noexcept;
    DoubleColumn(const DoubleColumn&) = delete;
    DoubleColumn& operator=(const DoubleColumn&) = delete;
    ~DoubleColumn();

    static DoubleColumn from(PyObject* object);
    // A view of the object's buffer, if it is a flat buffer of native doubles.
    static std::optional<DoubleColumn> buffer_view(PyObject* object);
    std::span<const double> values() const { return view_; }

private:
    std::vector<double> owned_;
    Py_buffer buffer_{};
    bool has_buffer_ = false;
    std::span<const double> view_;
};

// One item of a list of doubles.
inline double item_as_double(PyObject* item) {
    return PyFloat_CheckExact(item) ? PyFloat_AS_DOUBLE(item) : to_double(item);
}

// Converts every item of a sequence as a list of doubles converts it (a flat
// buffer of native doubles is read where it lies, with the same values) and
// calls each(index, value) for the items below `limit`, without keeping the
// values. Returns the item count.
template <class Each>
size_t for_each_double(PyObject* sequence, size_t limit, Each&& each) {
    check_sequence(sequence);
    if (const std::optional<DoubleColumn> view = DoubleColumn::buffer_view(sequence)) {
        const std::span<const double> values = view->values();
        for (size_t i = 0; i < std::min(limit, values.size()); ++i) each(i, values[i]);
        return values.size();
    }
    size_t count = 0;
    auto take = [limit, &each, &count](double value) {
        if (count < limit) each(count, value);
        ++count;
    };
    const auto is_float = [](PyObject* item) { return PyFloat_CheckExact(item); };
    for_each_plain_item(sequence, is_float, [&take](PyObject* item) { take(item_as_double(item)); });
    return count;
}

// The number of items of a sequence of numbers, with the errors of
// converting it to a list of doubles.
inline size_t count_doubles(PyObject* sequence) {
    return for_each_double(sequence, 0, [](size_t, double) {});
}

template <>
struct FromPython<DoubleColumn> {
    static DoubleColumn convert(PyObject* object) { return DoubleColumn::from(object); }
};

template <>
struct FromPython<std::vector<double>> {
    static std::vector<double> convert(PyObject* object) {
        const DoubleColumn column = DoubleColumn::from(object);
        return {column.values().begin(), column.values().end()};
    }
};

// ---- the module's own classes -----------------------------------------

// By value: copied out under a shared borrow.
template <class T>
struct FromPython<T, std::enable_if_t<is_bound_class<T>>> {
    static T convert(PyObject* object) {
        Box<T>& box = box_of<T>(object);
        SharedBorrow borrow(box.borrows);
        return box.value;
    }
};

// Read in place for the length of the call.
template <class T>
struct FromPython<Borrowed<T>> {
    static Borrowed<T> convert(PyObject* object) { return Borrowed<T>(box_of<T>(object)); }
};

// ---- results -----------------------------------------------------------

template <>
struct ToPython<bool> {
    static PyObject* convert(bool value) { return PyBool_FromLong(value); }
};

template <>
struct ToPython<double> {
    static PyObject* convert(double value) { return PyFloat_FromDouble(value); }
};

template <class T>
struct ToPython<T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T>>> {
    static PyObject* convert(T value) { return PyLong_FromLongLong(value); }
};

template <class T>
struct ToPython<T, std::enable_if_t<std::is_integral_v<T> && std::is_unsigned_v<T> && !std::is_same_v<T, bool>>> {
    static PyObject* convert(T value) { return PyLong_FromUnsignedLongLong(value); }
};

template <>
struct ToPython<std::string> {
    static PyObject* convert(const std::string& value) {
        return PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size()));
    }
};

template <>
struct ToPython<ByteString> {
    static PyObject* convert(const ByteString& value) {
        return PyBytes_FromStringAndSize(value.data.data(), static_cast<Py_ssize_t>(value.data.size()));
    }
};

template <>
struct ToPython<PyRef> {
    static PyObject* convert(PyRef value) { return value.release(); }
};

template <class T>
struct ToPython<T, std::enable_if_t<is_bound_class<T>>> {
    template <class U>
    static PyObject* convert(U&& value) {
        return wrap<T>(std::forward<U>(value));
    }
};

// A new list of `count` new objects, item i made by `make(i)`.
template <class Make>
PyObject* build_list(size_t count, Make&& make) {
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(count)));
    if (!list) throw_error_already_set();
    for (size_t i = 0; i < count; ++i) {
        PyObject* item = make(i);
        if (item == nullptr) throw_error_already_set();
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

template <class T>
struct ToPython<std::vector<T>> {
    static PyObject* convert(const std::vector<T>& values) {
        return build_list(values.size(), [&values](size_t i) { return to_python(values[i]); });
    }
    static PyObject* convert(std::vector<T>&& values) {
        return build_list(values.size(), [&values](size_t i) { return to_python(std::move(values[i])); });
    }
};

// Puts a new item into a new tuple; throws when making the item failed.
inline void set_tuple_item(PyObject* tuple, size_t i, PyObject* item) {
    if (item == nullptr) throw_error_already_set();
    PyTuple_SET_ITEM(tuple, static_cast<Py_ssize_t>(i), item);
}

// A new tuple, item i converted from element i.
template <class... T>
struct ToPython<std::tuple<T...>> {
    static PyObject* convert(const std::tuple<T...>& values) { return build(values, std::index_sequence_for<T...>{}); }

private:
    template <size_t... I>
    static PyObject* build(const std::tuple<T...>& values, std::index_sequence<I...>) {
        PyRef tuple = PyRef::steal(PyTuple_New(sizeof...(T)));
        if (!tuple) throw_error_already_set();
        (set_tuple_item(tuple.get(), I, to_python(std::get<I>(values))), ...);
        return tuple.release();
    }
};

template <class A, class B>
struct ToPython<std::pair<A, B>> {
    static PyObject* convert(const std::pair<A, B>& value) {
        return ToPython<std::tuple<A, B>>::convert(std::tuple<A, B>(value.first, value.second));
    }
};

template <class T>
struct ToPython<std::span<const T>> {
    static PyObject* convert(std::span<const T> values) {
        return build_list(values.size(), [&values](size_t i) { return to_python(values[i]); });
    }
};

}  // namespace corvane::py
