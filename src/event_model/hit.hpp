// One measured point: three coordinates, an optional time, its module and its
// identity within the event.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

struct Hit {
    int32_t id = 0;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double t = 0.0;
    int32_t module_number = -1;
    bool with_t = false;
};

// Within an event a hit is identified by its id alone.
inline bool same_hit(const Hit& a, const Hit& b) { return a.id == b.id; }

// "#7 module 3 {1.5, -2, 100}" (the time is shown only when with_t is set).
std::string short_form(const Hit& hit);

// "Hit { id: 7, x: 1.5, y: -2.0, ... with_t: false }".
void append_diagnostic_form(std::string& out, const Hit& hit);

// "[Hit { ... }, Hit { ... }]" over [begin, end).
void append_diagnostic_list(std::string& out, const Hit* begin, const Hit* end);

}  // namespace corvane
