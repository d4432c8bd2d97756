#include "bindings/layer/interpreter_lock.hpp"

#include <cxxabi.h>
#include <unistd.h>

namespace corvane::py {

void take_lock_back(PyThreadState* state) noexcept {
    try {
        PyEval_RestoreThread(state);
    } catch (abi::__forced_unwind&) {
        // Leaving this handler would end the process with an abort.
        for (;;) pause();
    }
}

}  // namespace corvane::py
