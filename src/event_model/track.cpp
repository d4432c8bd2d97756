#include "event_model/track.hpp"

namespace corvane {

bool operator==(const Track& a, const Track& b) {
    if (a.hits.size() != b.hits.size() || a.missed_last_module != b.missed_last_module ||
        a.missed_penultimate_module != b.missed_penultimate_module) {
        return false;
    }
    for (size_t i = 0; i < a.hits.size(); ++i) {
        if (a.hits[i].id != b.hits[i].id) return false;
    }
    return true;
}

std::string track_repr(const Track& track) {
    std::string out = "Track with ";
    out += std::to_string(track.hits.size());
    out += " hits: ";
    append_diagnostic_list(out, track.hits.data(), track.hits.data() + track.hits.size());
    return out;
}

}  // namespace corvane
