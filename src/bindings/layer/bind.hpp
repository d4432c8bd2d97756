// Declarative bindings: a constructor, method, attribute getter, repr or
// module function is declared by naming a plain C++ function and its
// parameter names; argument matching, conversion, borrowing, result
// conversion and error mapping all happen here, once.
//
//   Constructor<&make_hit, "x", "y", "z", "hit_id", "module", "t", "with_t">
//   Method<&add_hit, "add_hit", "hit">::def("add_hit($self, hit)\n--\n\n")
//   getter<&hit_x, "x">()
//
// Parameter types decide the conversion (see convert.hpp); std::optional<T>
// marks an optional parameter (omitted or None). For methods, the first
// parameter is the receiver: `const T&` takes shared access, `T&` exclusive.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "bindings/layer/arguments.hpp"
#include "bindings/layer/class_object.hpp"
#include "bindings/layer/convert.hpp"
#include "bindings/layer/pickling.hpp"
#include "bindings/layer/python_errors.hpp"

namespace corvane::py {

// A string literal usable as a template argument.
template <size_t N>
struct Name {
    char value[N];
    constexpr Name(const char (&text)[N]) { std::copy_n(text, N, value); }
};

template <class F>
struct Signature;
template <class R, class... A>
struct Signature<R (*)(A...)> {
    using Result = R;
    using Args = std::tuple<A...>;
};

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

// How an argument declared as P is held during the call.
template <class P>
struct Held {
    using type = std::remove_cvref_t<P>;
};
template <class P>
    requires(std::is_lvalue_reference_v<P> && std::is_const_v<std::remove_reference_t<P>> &&
             is_bound_class<std::remove_cvref_t<P>>)
struct Held<P> {
    using type = Borrowed<std::remove_cvref_t<P>>;
};
template <class P>
using held_t = typename Held<P>::type;

template <class T>
T convert_argument(PyObject* object, const char* name) {
    try {
        return FromPython<T>::convert(object);
    } catch (const ErrorAlreadySet&) {
        prefix_argument_error(name);
        throw;
    }
}

// The parameter list of a callable taking A..., named by Names.
template <class ArgsTuple, Name... Names>
struct ParameterList;
template <class... A, Name... Names>
struct ParameterList<std::tuple<A...>, Names...> {
    static_assert(sizeof...(A) == sizeof...(Names), "one name per parameter");
    static constexpr size_t count = sizeof...(A);
    static constexpr std::array<Parameter, count> parameters{
        Parameter{Names.value, !IsOptional<std::remove_cvref_t<A>>::value}...};

    // Matches and converts, in parameter order; the first failure is raised.
    static std::tuple<held_t<A>...> convert(CallName call, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                                            PyObject* kwargs) {
        std::array<PyObject*, count + 1> slots{};
        match_arguments(call, parameters, args, nargs, kwnames, kwargs, slots.data());
        return convert_slots(slots.data(), std::index_sequence_for<A...>{});
    }

private:
    template <size_t... I>
    static std::tuple<held_t<A>...> convert_slots(PyObject** slots, std::index_sequence<I...>) {
        // Braced initialisation evaluates the conversions left to right.
        return std::tuple<held_t<A>...>{convert_argument<held_t<A>>(slots[I], parameters[I].name)...};
    }
};

template <class Tuple>
struct DropFirst;
template <class First, class... Rest>
struct DropFirst<std::tuple<First, Rest...>> {
    using type = std::tuple<Rest...>;
    using first = First;
};

template <class Result, class Call>
PyObject* call_and_convert(Call&& call) {
    if constexpr (std::is_void_v<Result>) {
        call();
        Py_RETURN_NONE;
    } else {
        return to_python(call());
    }
}

inline PyObject* const* tuple_items(PyObject* tuple) { return reinterpret_cast<PyTupleObject*>(tuple)->ob_item; }

// tp_new of a class whose record is what Fn returns.
template <auto Fn, Name... Names>
struct Constructor {
    using Sig = Signature<decltype(Fn)>;
    using Record = typename Sig::Result;
    using Params = ParameterList<typename Sig::Args, Names...>;

    static PyObject* call(PyTypeObject*, PyObject* args, PyObject* kwargs) noexcept {
        return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
            auto converted = Params::convert({PyClass<Record>::name, "__new__"}, tuple_items(args),
                                             PyTuple_GET_SIZE(args), nullptr, kwargs);
            return wrap<Record>(std::apply(Fn, std::move(converted)));
        });
    }
};

template <class Receiver>
using borrow_for =
    std::conditional_t<std::is_const_v<std::remove_reference_t<Receiver>>, SharedBorrow, ExclusiveBorrow>;

// An instance method; Fn's first parameter is the receiver's record.
template <auto Fn, Name MethodName, Name... Names>
struct Method {
    using Sig = Signature<decltype(Fn)>;
    using Receiver = typename DropFirst<typename Sig::Args>::first;
    using Record = std::remove_cvref_t<Receiver>;
    using Params = ParameterList<typename DropFirst<typename Sig::Args>::type, Names...>;

    static PyObject* call(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
        return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
            Box<Record>& box = box_of<Record>(self);
            borrow_for<Receiver> access(box.borrows);
            auto converted = Params::convert({PyClass<Record>::name, MethodName.value}, args, nargs, kwnames, nullptr);
            return call_and_convert<typename Sig::Result>([&]() -> decltype(auto) {
                return std::apply(
                    [&](auto&&... a) -> decltype(auto) { return Fn(box.value, std::forward<decltype(a)>(a)...); },
                    std::move(converted));
            });
        });
    }

    static PyMethodDef def(const char* doc) {
        return {MethodName.value, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&call)),
                METH_FASTCALL | METH_KEYWORDS, doc};
    }
};

// A module-level function.
template <auto Fn, Name FunctionName, Name... Names>
struct Function {
    using Sig = Signature<decltype(Fn)>;
    using Params = ParameterList<typename Sig::Args, Names...>;

    static PyObject* call(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
        return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
            auto converted = Params::convert({nullptr, FunctionName.value}, args, nargs, kwnames, nullptr);
            return call_and_convert<typename Sig::Result>(
                [&]() -> decltype(auto) { return std::apply(Fn, std::move(converted)); });
        });
    }

    static PyMethodDef def(const char* doc) {
        return {FunctionName.value, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&call)),
                METH_FASTCALL | METH_KEYWORDS, doc};
    }
};

template <class F>
struct RecordOf;
template <class R, class A>
struct RecordOf<R (*)(A)> {
    using type = std::remove_cvref_t<A>;
};
template <class M, class C>
struct RecordOf<M C::*> {
    using type = C;
};

// A read-only attribute: Fn is a data member pointer of the record or a
// function taking the record by const reference.
template <auto Fn>
PyObject* get_attribute(PyObject* self, void*) noexcept {
    using Record = typename RecordOf<decltype(Fn)>::type;
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        Box<Record>& box = box_of<Record>(self);
        SharedBorrow access(box.borrows);
        return to_python(std::invoke(Fn, std::as_const(box.value)));
    });
}

template <auto Fn, Name AttributeName>
PyGetSetDef getter(const char* doc = nullptr) {
    return {AttributeName.value, &get_attribute<Fn>, nullptr, doc, nullptr};
}

// __repr__ from a function of the record returning std::string.
template <auto Fn>
PyObject* repr(PyObject* self) noexcept {
    return get_attribute<Fn>(self, nullptr);
}

// __reduce__ for pickling and copying: Fn(const Record&) returns a std::tuple
// of the values that rebuild the record (see ClassDefinition::restore).
template <auto Fn>
PyObject* reduce_instance(PyObject* self, PyObject*) noexcept {
    using Record = typename RecordOf<decltype(Fn)>::type;
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        PyRef arguments = PyRef::steal(get_attribute<Fn>(self, nullptr));
        if (!arguments) throw_error_already_set();
        return reduction(PyClass<Record>::name, std::move(arguments));
    });
}

template <auto Fn>
PyMethodDef reduce() {
    return {"__reduce__", &reduce_instance<Fn>, METH_NOARGS,
            "__reduce__($self)\n--\n\nReturn state information for pickling."};
}

}  // namespace corvane::py
