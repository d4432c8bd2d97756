// Letting other Python threads run while this one does pure C++ work.
#pragma once

#include <utility>

#include "bindings/python.hpp"

namespace corvane::py {

// Releases the interpreter lock for its lifetime and takes it back on the way
// out, also when an exception leaves the scope. Inside, nothing may touch a
// Python object (reference counts and borrow counters included) except
// through `relocked`.
class ReleasedLock {
public:
    ReleasedLock() : state_(PyEval_SaveThread()) {}
    ReleasedLock(const ReleasedLock&) = delete;
    ReleasedLock& operator=(const ReleasedLock&) = delete;
    ~ReleasedLock() { PyEval_RestoreThread(state_); }

    // Runs `f` with the lock held, then lets go of it again. `f` must not throw.
    template <class F>
    auto relocked(F&& f) {
        PyEval_RestoreThread(state_);
        auto result = std::forward<F>(f)();
        state_ = PyEval_SaveThread();
        return result;
    }

private:
    PyThreadState* state_;
};

// Runs `f` without the interpreter lock.
template <class F>
decltype(auto) without_lock(F&& f) {
    ReleasedLock unlocked;
    return std::forward<F>(f)();
}

}  // namespace corvane::py
