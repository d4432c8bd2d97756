#include "bindings/classes.hpp"
#include "bindings/layer/bind.hpp"
#include "bindings/layer/class_builder.hpp"
#include "bindings/registration.hpp"

namespace corvane::py {
namespace {

Track new_track(std::vector<Hit> hits) { return Track(std::move(hits)); }

void add_hit(Track& track, Hit hit) { track.hits.push_back(hit); }

// The flags and the miss counter cannot be given to the constructor.
auto track_arguments(const Track& t) {
    return std::tuple(t.hits, t.missed_last_module, t.missed_penultimate_module, t.missed);
}

Track restore_track(std::vector<Hit> hits, bool missed_last_module, bool missed_penultimate_module, uint8_t missed) {
    Track track(std::move(hits));
    track.missed_last_module = missed_last_module;
    track.missed_penultimate_module = missed_penultimate_module;
    track.missed = missed;
    return track;
}

}  // namespace

void register_track(PyObject* owner) {
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
        .reduce = reduce<&track_arguments>(),
        .restore =
            Function<&restore_track, "Track", "hits", "missed_last_module", "missed_penultimate_module", "missed">::def(
                "Track(hits, missed_last_module, missed_penultimate_module, missed)\n--\n\n"),
    };
    register_class<Track>(owner, definition);
}

}  // namespace corvane::py
