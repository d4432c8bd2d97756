// The track-following finder: two-hit seeds from modules two apart, confirmed
// by a third hit from the next modules down, then followed module by module
// towards module 0.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "event_model/hit.hpp"
#include "event_model/module.hpp"
#include "event_model/track.hpp"

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

// Whether two hits may form a seed (strict slope bounds; equal z never passes).
bool are_compatible(const TrackFollowingParameters& p, const Hit& hit0, const Hit& hit1);

// Whether hit2 continues the straight line through hit0 and hit1. The
// operations run in a fixed order so that results are reproducible bit for bit.
bool check_tolerance(const TrackFollowingParameters& p, const Hit& hit0, const Hit& hit1, const Hit& hit2);

// The first hit of `hits`, in stored order, that passes check_tolerance(p, a,
// b, hit), or nullptr.
const Hit* first_continuation_by_scan(const TrackFollowingParameters& p, std::span<const Hit> hits, const Hit& a,
                                      const Hit& b);

// Reconstructs the tracks of one event: strong tracks in acceptance order,
// then the surviving weak tracks. Uses per-module indexes; gives exactly the
// tracks of the literal procedure below.
std::vector<Track> solve_track_following(const TrackFollowingParameters& p, std::span<const Module> modules);

// The same procedure with plain scans and a used-hit list: slow, kept as the
// reference the fast version is checked and measured against.
std::vector<Track> solve_track_following_literal(const TrackFollowingParameters& p,
                                                 std::span<const Module> modules);

}  // namespace corvane
