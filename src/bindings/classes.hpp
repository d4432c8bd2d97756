// The records that have a Python class, and the class names they report.
#pragma once

#include "bindings/class_builder.hpp"
#include "bindings/class_object.hpp"
#include "algorithms/graph_dfs/graph_dfs.hpp"
#include "algorithms/triplet_trie/search_by_triplet_trie.hpp"
#include "algorithms/track_following/track_following.hpp"
#include "bindings/event_handle.hpp"
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

// Each class's binding file defines its specialisation; declaring them here
// lets registration (module.cpp) use them without seeing those files.
template <>
ClassDefinition& class_definition<Hit>();
template <>
ClassDefinition& class_definition<Track>();
template <>
ClassDefinition& class_definition<Module>();
template <>
ClassDefinition& class_definition<EventHandle>();
template <>
ClassDefinition& class_definition<TrackFollowingParameters>();
template <>
ClassDefinition& class_definition<SearchByTripletTrieParameters>();
template <>
ClassDefinition& class_definition<validation::ValidationRun>();

}  // namespace corvane::py
