#include "bindings/bind.hpp"
#include "bindings/class_builder.hpp"
#include "bindings/classes.hpp"

namespace corvane::py {
namespace {

Track new_track(std::vector<Hit> hits) { return Track(std::move(hits)); }

void add_hit(Track& track, Hit hit) { track.hits.push_back(hit); }

}  // namespace

template <>
ClassDefinition& class_definition<Track>() {
    static ClassDefinition definition{
        .construct = Constructor<&new_track, "hits">::call,
        .repr = repr<&track_repr>,
        .getters =
            {
                getter<&Track::hits, "hits">(),
                getter<&Track::missed_last_module, "missed_last_module">(),
                getter<&Track::missed_penultimate_module, "missed_penultimate_module">(),
            },
        .methods = {Method<&add_hit, "add_hit", "hit">::def("add_hit($self, hit)\n--\n\n")},
    };
    return definition;
}

}  // namespace corvane::py
