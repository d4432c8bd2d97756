// The instance layout shared by every class of the module: the object header,
// a borrow counter and the plain record the instance owns.
#pragma once

#include <cstdint>
#include <new>
#include <utility>

#include "bindings/layer/python.hpp"
#include "bindings/layer/python_errors.hpp"

namespace corvane::py {

// Which Python class wraps record type T. Each bound record specialises this
// with its class name; `type` is set when the class is created.
template <class T>
struct PyClass {
    static constexpr bool bound = false;
};

template <class T>
struct PyClassBase {
    static constexpr bool bound = true;
    static inline PyTypeObject* type = nullptr;
};

template <class T>
inline constexpr bool is_bound_class = PyClass<T>::bound;

// Borrow counter: > 0 shared readers, -1 one writer.
using BorrowCount = int64_t;

template <class T>
struct Box {
    PyObject_HEAD BorrowCount borrows;
    T value;
};

class SharedBorrow {
public:
    explicit SharedBorrow(BorrowCount& count) : count_(&count) {
        if (count < 0) raise(PyExc_RuntimeError, "Already mutably borrowed");
        ++count;
    }
    SharedBorrow(SharedBorrow&& other) noexcept : count_(std::exchange(other.count_, nullptr)) {}
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;
    ~SharedBorrow() {
        if (count_ != nullptr) --*count_;
    }

private:
    BorrowCount* count_;
};

class ExclusiveBorrow {
public:
    explicit ExclusiveBorrow(BorrowCount& count) : count_(&count) {
        if (count != 0) raise(PyExc_RuntimeError, "Already borrowed");
        count = -1;
    }
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
    ~ExclusiveBorrow() { *count_ = 0; }

private:
    BorrowCount* count_;
};

// The box of `object` if it is an instance of T's class, else TypeError
// "'{type}' object cannot be converted to '{class}'".
template <class T>
Box<T>& box_of(PyObject* object) {
    if (!PyObject_TypeCheck(object, PyClass<T>::type)) raise_conversion_error(object, PyClass<T>::name);
    return *reinterpret_cast<Box<T>*>(object);
}

// A new instance of T's class owning `value`.
template <class T>
PyObject* wrap(T value) {
    PyTypeObject* type = PyClass<T>::type;
    PyObject* object = type->tp_alloc(type, 0);
    if (object == nullptr) throw_error_already_set();
    auto* box = reinterpret_cast<Box<T>*>(object);
    box->borrows = 0;
    new (&box->value) T(std::move(value));
    return object;
}

template <class T>
void destroy_box(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    reinterpret_cast<Box<T>*>(object)->value.~T();
    type->tp_free(object);
    Py_DECREF(type);  // instances of heap types own a reference to their type
}

template <class T>
void dealloc_box(PyObject* object) {
    if (!PyType_IS_GC(Py_TYPE(object))) {
        destroy_box<T>(object);
        return;
    }
    PyObject_GC_UnTrack(object);
    // What an instance refers to may be another instance, and so on down a
    // long chain: past a certain depth the interpreter defers the rest, as
    // for its own containers, instead of overflowing the C stack.
    Py_TRASHCAN_BEGIN(object, dealloc_box<T>) destroy_box<T>(object);
    Py_TRASHCAN_END
}

// An argument of a bound class read in place: a shared borrow for the length
// of the call.
template <class T>
class Borrowed {
public:
    explicit Borrowed(Box<T>& box) : value_(&box.value), borrow_(box.borrows) {}
    operator const T&() const { return *value_; }
    const T& get() const { return *value_; }

private:
    const T* value_;
    SharedBorrow borrow_;
};

}  // namespace corvane::py
