// The text summary: one ghost line, then one line per category.
#pragma once

#include <cstddef>
#include <string>

#include "validator/efficiency.hpp"
#include "validator/validation_run.hpp"

namespace corvane::validation {

// "N tracks including G ghosts (x.x%). Event average ghost rate: y.y%\n", or
// "No events found.\n" when no event was given.
std::string ghost_line(const RunTotals& totals, size_t event_count);

// The statistics of one category on one line, ending in "\n".
std::string category_line(const CategoryStats& stats);

// The ghost line followed by the lines of the categories that have statistics.
std::string summary_text(const ValidationRun& run, size_t event_count);

}  // namespace corvane::validation
