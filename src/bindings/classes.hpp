// The records that have a Python class, and the class names they report.
// Each class is made and registered by its own binding file (registration.hpp).
#pragma once

#include "algorithms/graph_dfs/graph_dfs.hpp"
#include "algorithms/track_following/track_following.hpp"
#include "algorithms/triplet_trie/search_by_triplet_trie.hpp"
#include "bindings/event_handle.hpp"
#include "bindings/layer/class_builder.hpp"
#include "bindings/layer/class_object.hpp"
#include "event_model/hit.hpp"
#include "event_model/module.hpp"
#include "event_model/track.hpp"
#include "validator/validation_run.hpp"

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
template <>
struct PyClass<GraphDfsParameters> : PyClassBase<GraphDfsParameters> {
    static constexpr const char* name = "GraphDFS";
};
template <>
struct PyClass<SearchByTripletTrieParameters> : PyClassBase<SearchByTripletTrieParameters> {
    static constexpr const char* name = "SearchByTripletTrie";
};

template <>
struct PyClass<validation::ValidationRun> : PyClassBase<validation::ValidationRun> {
    static constexpr const char* name = "RecordFold";
};

}  // namespace corvane::py
