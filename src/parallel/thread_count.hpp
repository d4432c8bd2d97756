// How many worker threads the batch solver's pool gets, from the environment
// or from the processors this process may run on.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace corvane {

// Digits with an optional leading '+', fitting in 64 bits unsigned; anything
// else (null, empty, spaces, a sign '-', overflow) is no value.
std::optional<uint64_t> parse_thread_count(const char* text);

// Logical processors in the process's affinity mask, or the machine's count,
// or 1 when neither can be found.
uint64_t logical_processor_count();

// "RAYON_NUM_THREADS" (0: the logical processors), then "RAYON_RS_NUM_CPUS"
// (above 0), then the logical processors. `lookup` reads a variable.
uint64_t configured_thread_count(const std::function<const char*(const char*)>& lookup);

}  // namespace corvane
