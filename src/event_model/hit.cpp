#include "event_model/hit.hpp"

#include "event_model/float_text.hpp"

namespace corvane {

std::string short_form(const Hit& hit) {
    std::string out = "#";
    out += std::to_string(hit.id);
    out += " module ";
    out += std::to_string(hit.module_number);
    out += " {";
    append_plain_float(out, hit.x);
    out += ", ";
    append_plain_float(out, hit.y);
    out += ", ";
    append_plain_float(out, hit.z);
    if (hit.with_t) {
        out += ", ";
        append_plain_float(out, hit.t);
    }
    out += '}';
    return out;
}

void append_diagnostic_form(std::string& out, const Hit& hit) {
    out += "Hit { id: ";
    out += std::to_string(hit.id);
    out += ", x: ";
    append_diagnostic_float(out, hit.x);
    out += ", y: ";
    append_diagnostic_float(out, hit.y);
    out += ", z: ";
    append_diagnostic_float(out, hit.z);
    out += ", t: ";
    append_diagnostic_float(out, hit.t);
    out += ", module_number: ";
    out += std::to_string(hit.module_number);
    out += ", with_t: ";
    out += hit.with_t ? "true" : "false";
    out += " }";
}

void append_diagnostic_list(std::string& out, const Hit* begin, const Hit* end) {
    out += '[';
    for (const Hit* hit = begin; hit != end; ++hit) {
        if (hit != begin) out += ", ";
        append_diagnostic_form(out, *hit);
    }
    out += ']';
}

}  // namespace corvane
