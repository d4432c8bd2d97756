// The two text forms of a double used by the reprs.
#pragma once

#include <string>

namespace corvane {

// Shortest digits that read back, never in exponent notation:
// 1e-7 -> "0.0000001", 1.0 -> "1", -0.0 -> "-0", NaN -> "NaN".
void append_plain_float(std::string& out, double value);

// Shortest digits that read back, always with a fractional part, in exponent
// notation from 1e16 up and below 1e-4: 1.0 -> "1.0", 1e16 -> "1e16".
void append_diagnostic_float(std::string& out, double value);

std::string plain_float(double value);
std::string diagnostic_float(double value);

}  // namespace corvane
