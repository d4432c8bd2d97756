// The track-following finder: two-hit seeds from modules two apart, confirmed
// by a third hit from the next modules down, then followed module by module
// towards module 0.
#pragma once

#include <span>
#include <vector>

#include "algorithms/track_following/line_geometry.hpp"
#include "algorithms/track_following/parameters.hpp"
#include "event_model/hit.hpp"
#include "event_model/module.hpp"
#include "event_model/track.hpp"

namespace corvane {

// The first hit of `hits`, in stored order, that passes check_tolerance(p, a,
// b, hit), or nullptr.
const Hit* first_continuation_by_scan(const TrackFollowingParameters& p, std::span<const Hit> hits, const Hit& a,
                                      const Hit& b);

// Reconstructs the tracks of one event: strong tracks in acceptance order,
// then the surviving weak tracks. Uses per-module indexes; gives exactly the
// tracks of the reference procedure below.
std::vector<Track> solve_track_following(const TrackFollowingParameters& p, std::span<const Module> modules);

// How many times solve_track_following searches a module for a continuing
// hit (the unit of its cost, for benchmarks).
size_t count_track_following_probes(const TrackFollowingParameters& p, std::span<const Module> modules);

// The same procedure with plain scans and a used-hit list: slow, kept as the
// reference the fast version is checked and measured against.
std::vector<Track> solve_track_following_reference(const TrackFollowingParameters& p, std::span<const Module> modules);

}  // namespace corvane
