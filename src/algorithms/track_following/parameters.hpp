// The tuning parameters of the track-following finder.
#pragma once

#include <cstdint>

namespace corvane {

struct TrackFollowingParameters {
    double max_slope_x = 0.7;
    double max_slope_y = 0.7;
    double max_tolerance_x = 0.4;
    double max_tolerance_y = 0.4;
    double max_scatter = 0.4;
    uint8_t min_track_length = 3;         // a finished track of exactly this length is weak
    uint8_t min_strong_track_length = 4;  // at least this long: accepted at once
};

}  // namespace corvane
