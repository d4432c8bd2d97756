#include "algorithms/track_following/track_following.hpp"
#include "bindings/batch_binding.hpp"
#include "bindings/classes.hpp"
#include "bindings/layer/bind.hpp"
#include "bindings/layer/class_builder.hpp"
#include "bindings/registration.hpp"

namespace corvane::py {
namespace {

using Slopes = std::pair<double, double>;

TrackFollowingParameters new_track_following(std::optional<Slopes> max_slopes, std::optional<Slopes> max_tolerance,
                                             std::optional<double> max_scatter, std::optional<uint8_t> min_track_length,
                                             std::optional<uint8_t> min_strong_track_length) {
    TrackFollowingParameters p;
    if (max_slopes) std::tie(p.max_slope_x, p.max_slope_y) = *max_slopes;
    if (max_tolerance) std::tie(p.max_tolerance_x, p.max_tolerance_y) = *max_tolerance;
    p.max_scatter = max_scatter.value_or(p.max_scatter);
    p.min_track_length = min_track_length.value_or(p.min_track_length);
    p.min_strong_track_length = min_strong_track_length.value_or(p.min_strong_track_length);
    return p;
}

auto track_following_arguments(const TrackFollowingParameters& p) {
    return std::tuple(Slopes(p.max_slope_x, p.max_slope_y), Slopes(p.max_tolerance_x, p.max_tolerance_y), p.max_scatter,
                      p.min_track_length, p.min_strong_track_length);
}

std::vector<Track> solve_one_event(const TrackFollowingParameters& p, const EventData& event) {
    return solve_track_following(p, event.modules);
}

}  // namespace

void register_track_following(PyObject* owner) {
    static ClassDefinition definition{
        .doc =
            "TrackFollowing(cls, max_slopes=None, max_tolerance=None, max_scatter=None, min_track_length=None, "
            "min_strong_track_length=None)\n--\n\n",
        .construct = Constructor<&new_track_following, "max_slopes", "max_tolerance", "max_scatter", "min_track_length",
                                 "min_strong_track_length">::call,
        .getters = {},
        .methods =
            {
                Method<&are_compatible, "are_compatible", "hit0", "hit1">::def(
                    "are_compatible($self, hit0, hit1)\n--\n\n"),
                Method<&check_tolerance, "check_tolerance", "hit0", "hit1", "hit2">::def(
                    "check_tolerance($self, hit0, hit1, hit2)\n--\n\n"),
                solve_method<&solve_one_event>("solve($self, event)\n--\n\n"),
                solve_batch_method<&solve_one_event>(),
            },
        .reduce = reduce<&track_following_arguments>(),
    };
    register_class<TrackFollowingParameters>(owner, definition);
}

}  // namespace corvane::py
