// Letting other Python threads run while this one does pure C++ work.
#pragma once

#include <utility>

#include "bindings/layer/python.hpp"

namespace corvane::py {

// Takes the interpreter lock back. A thread that asks while the interpreter
// shuts down is ended by it with a forced unwind, which would run through
// frames that workers (and the C++ runtime's noexcept rules) still rely on;
// such a thread waits here instead until the process is gone.
void take_lock_back(PyThreadState* state) noexcept;

// Releases the interpreter lock for its lifetime and takes it back on the way
// out, also when an exception leaves the scope. Inside, nothing may touch a
// Python object (reference counts and borrow counters included) except
// through `relocked`.
class ReleasedLock {
public:
    ReleasedLock() : state_(PyEval_SaveThread()) {}
    ReleasedLock(const ReleasedLock&) = delete;
    ReleasedLock& operator=(const ReleasedLock&) = delete;
    ~ReleasedLock() { take_lock_back(state_); }

    // Runs `f` with the lock held, then lets go of it again. `f` must not throw.
    template <class F>
    auto relocked(F&& f) {
        take_lock_back(state_);
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
