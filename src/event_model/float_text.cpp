#include "event_model/float_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace corvane {
namespace {

// Shortest round-trip digits of a finite, non-negative, non-zero value, with
// the position of the decimal point relative to the first digit: the value is
// 0.d1d2d3... * 10^point.
struct ShortestDigits {
    std::string digits;
    int point = 0;
};

ShortestDigits shortest_digits(double magnitude) {
    char buffer[64];
    // Scientific form "d.ddde[+-]XX" carries exactly the shortest digits.
    auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific);
    std::string_view text(buffer, static_cast<size_t>(result.ptr - buffer));
    const size_t e = text.find('e');
    ShortestDigits out;
    for (char c : text.substr(0, e)) {
        if (c != '.') out.digits.push_back(c);
    }
    int exponent = 0;
    std::string_view exp_text = text.substr(e + 1);
    if (!exp_text.empty() && exp_text.front() == '+') exp_text.remove_prefix(1);
    std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);
    out.point = exponent + 1;
    return out;
}

bool append_special(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "NaN";
        return true;
    }
    if (std::isinf(value)) {
        out += value < 0 ? "-inf" : "inf";
        return true;
    }
    return false;
}

// Lays the digits out in positional notation; returns whether a fractional
// part was written.
bool append_positional(std::string& out, const ShortestDigits& d) {
    const int n = static_cast<int>(d.digits.size());
    if (d.point <= 0) {
        out += "0.";
        out.append(static_cast<size_t>(-d.point), '0');
        out += d.digits;
        return true;
    }
    if (d.point >= n) {
        out += d.digits;
        out.append(static_cast<size_t>(d.point - n), '0');
        return false;
    }
    out.append(d.digits, 0, static_cast<size_t>(d.point));
    out += '.';
    out.append(d.digits, static_cast<size_t>(d.point));
    return true;
}

}  // namespace

void append_plain_float(std::string& out, double value) {
    if (append_special(out, value)) return;
    if (std::signbit(value)) out += '-';
    const double magnitude = std::fabs(value);
    if (magnitude == 0.0) {
        out += '0';
        return;
    }
    append_positional(out, shortest_digits(magnitude));
}

void append_diagnostic_float(std::string& out, double value) {
    if (append_special(out, value)) return;
    if (std::signbit(value)) out += '-';
    const double magnitude = std::fabs(value);
    if (magnitude == 0.0) {
        out += "0.0";
        return;
    }
    const ShortestDigits d = shortest_digits(magnitude);
    if (magnitude < 1e-4 || magnitude >= 1e16) {
        out += d.digits[0];
        if (d.digits.size() > 1) {
            out += '.';
            out.append(d.digits, 1);
        }
        out += 'e';
        out += std::to_string(d.point - 1);
        return;
    }
    if (!append_positional(out, d)) out += ".0";
}

std::string plain_float(double value) {
    std::string out;
    append_plain_float(out, value);
    return out;
}

std::string diagnostic_float(double value) {
    std::string out;
    append_diagnostic_float(out, value);
    return out;
}

}  // namespace corvane
