#include "bindings/layer/standard_output.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "bindings/layer/interpreter_lock.hpp"
#include "core/errors.hpp"

namespace corvane::py {

void write_standard_output(std::string_view text) {
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        // A full pipe blocks here until its reader drains it, and that reader
        // may be a Python thread of this very process.
        const ssize_t written = without_lock([&] { return ::write(STDOUT_FILENO, data, left); });
        if (written < 0) {
            if (errno == EINTR) continue;
            throw RuntimeError(std::string("failed to write to standard output: ") + std::strerror(errno));
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
}

}  // namespace corvane::py
