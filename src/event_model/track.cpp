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

size_t TrackHash::operator()(const Track& track) const {
    // Mixes exactly what operator== compares: the length, the ids, the two
    // flags. Each step adds with shifts, then multiplies by a 64-bit prime.
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](uint64_t v) {
        h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
        h *= 1099511628211ull;
    };
    mix(track.hits.size());
    for (const Hit& hit : track.hits) mix(static_cast<uint32_t>(hit.id));
    mix(track.missed_last_module);
    mix(track.missed_penultimate_module);
    return static_cast<size_t>(h);
}

std::string track_repr(const Track& track) {
    std::string out = "Track with ";
    out += std::to_string(track.hits.size());
    out += " hits: ";
    append_diagnostic_list(out, track.hits.data(), track.hits.data() + track.hits.size());
    return out;
}

}  // namespace corvane
