#include "algorithms/track_following.hpp"

#include "algorithms/line_search_index.hpp"
#include "algorithms/track_following_steps.hpp"
#include "algorithms/used_hits.hpp"

namespace corvane {

std::vector<Track> solve_track_following(const TrackFollowingParameters& p, std::span<const Module> modules) {
    size_t hit_count = 0;
    std::vector<LineSearchIndex> indexes;
    indexes.reserve(modules.size());
    for (const Module& module : modules) {
        hit_count += module.size();
        indexes.emplace_back(module.hits());
    }
    UsedHitSet used(hit_count);
    UnusedHitList unused(used);
    auto second_hits = [&unused, modules](size_t m) { return unused.of(modules[m].hits()); };
    auto find = [&p, &indexes](size_t k, const Hit& a, const Hit& b) {
        return indexes[k].first_continuation(p, a, b);
    };
    return follow_tracks(p, modules, used, second_hits, find);
}

}  // namespace corvane
