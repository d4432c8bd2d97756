// The records that have a Python class, and the class names they report.
#pragma once

#include "bindings/class_object.hpp"
#include "algorithms/track_following.hpp"
#include "bindings/event_handle.hpp"
#include "event_model/hit.hpp"
#include "event_model/module.hpp"
#include "event_model/track.hpp"

namespace corvane::py {

template <>
struct PyClass<Hit> : PyClassBase<Hit> {
    static constexpr const char* name = "Hit";
};
template <>
struct PyClass<Track> : PyClassBase<Track> {
    static constexpr const char* name = "Track";
};
template <>
struct PyClass<Module> : PyClassBase<Module> {
    static constexpr const char* name = "Module";
};
template <>
struct PyClass<EventHandle> : PyClassBase<EventHandle> {
    static constexpr const char* name = "Event";
};
template <>
struct PyClass<TrackFollowingParameters> : PyClassBase<TrackFollowingParameters> {
    static constexpr const char* name = "TrackFollowing";
};

}  // namespace corvane::py
