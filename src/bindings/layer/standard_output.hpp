// Text for the user goes straight to the process's file descriptor 1, not
// through any buffered stream, so each call's text arrives whole and in order.
#pragma once

#include <string_view>

namespace corvane::py {

// Writes all of `text`, without the interpreter lock while a write blocks;
// throws RuntimeError when the descriptor refuses it. Needs the lock held.
void write_standard_output(std::string_view text);

}  // namespace corvane::py
