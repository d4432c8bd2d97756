#include "algorithms/triplet_trie/search_by_triplet_trie.hpp"
#include "bindings/batch_binding.hpp"
#include "bindings/classes.hpp"
#include "bindings/layer/bind.hpp"
#include "bindings/layer/class_builder.hpp"
#include "bindings/registration.hpp"

namespace corvane::py {
namespace {

SearchByTripletTrieParameters new_search_by_triplet_trie(std::optional<double> max_scatter,
                                                         std::optional<uint64_t> min_strong_track_length,
                                                         std::optional<uint64_t> allowed_missed_modules) {
    SearchByTripletTrieParameters p;
    p.max_scatter = max_scatter.value_or(p.max_scatter);
    p.min_strong_track_length = min_strong_track_length.value_or(p.min_strong_track_length);
    p.allowed_missed_modules = allowed_missed_modules.value_or(p.allowed_missed_modules);
    return p;
}

auto search_by_triplet_trie_arguments(const SearchByTripletTrieParameters& p) {
    return std::tuple(p.max_scatter, p.min_strong_track_length, p.allowed_missed_modules);
}

std::vector<Track> solve_one_event(const SearchByTripletTrieParameters& p, const EventData& event) {
    return solve_search_by_triplet_trie(p, event.modules);
}

}  // namespace

void register_search_by_triplet_trie(PyObject* owner) {
    // The text signature names min_track_length, which the constructor does
    // not take: it is the class's registered text all the same.
    static ClassDefinition definition{
        .doc =
            "SearchByTripletTrie(cls, max_scatter=None, min_track_length=None, min_strong_track_length=None, "
            "allowed_missed_modules=None)\n--\n\n",
        .construct = Constructor<&new_search_by_triplet_trie, "max_scatter", "min_strong_track_length",
                                 "allowed_missed_modules">::call,
        .getters = {},
        .methods =
            {
                solve_method<&solve_one_event>("solve($self, event)\n--\n\nProcesses the event to assemble tracks."),
                solve_batch_method<&solve_one_event, AfterFailure::skip_the_rest>(),
            },
        .reduce = reduce<&search_by_triplet_trie_arguments>(),
    };
    register_class<SearchByTripletTrieParameters>(owner, definition);
}

}  // namespace corvane::py
