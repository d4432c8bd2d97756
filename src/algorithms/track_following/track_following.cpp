#include "algorithms/track_following/track_following.hpp"

#include "algorithms/track_following/line_search_index.hpp"
#include "algorithms/track_following/steps.hpp"
#include "algorithms/used_hits.hpp"

namespace corvane {
namespace {

// The line through the last two hits asked about, kept while the same pair
// is asked again (a seed pair is tried on up to three modules).
class LineCache {
public:
    // nullptr when the two hits share z: then no hit continues them.
    const StraightLine* through(const Hit& a, const Hit& b) {
        if (&a != a_ || &b != b_) {
            a_ = &a;
            b_ = &b;
            valid_ = b.z - a.z != 0.0;
            if (valid_) line_ = StraightLine(a, b);
        }
        return valid_ ? &line_ : nullptr;
    }

private:
    const Hit* a_ = nullptr;
    const Hit* b_ = nullptr;
    bool valid_ = false;
    StraightLine line_{};
};

// The fast solver; on_probe() runs before every search of a module.
template <class OnProbe>
std::vector<Track> solve_indexed(const TrackFollowingParameters& p, std::span<const Module> modules,
                                 OnProbe&& on_probe) {
    size_t hit_count = 0;
    std::vector<LineSearchIndex> indexes;
    indexes.reserve(modules.size());
    for (const Module& module : modules) {
        hit_count += module.size();
        indexes.emplace_back(module.hits(), p);
    }
    UsedHitSet used(hit_count);
    UnusedHitList unused(used);
    auto second_hits = [&unused, modules](size_t m) { return unused.of(modules[m].hits()); };
    LineCache lines;
    auto find = [&p, &indexes, &lines, &on_probe](size_t k, const Hit& a, const Hit& b) -> const Hit* {
        on_probe();
        const StraightLine* line = lines.through(a, b);
        return line != nullptr ? indexes[k].first_continuation(p, *line, b.z) : nullptr;
    };
    return follow_tracks(p, modules, used, second_hits, find);
}

}  // namespace

std::vector<Track> solve_track_following(const TrackFollowingParameters& p, std::span<const Module> modules) {
    return solve_indexed(p, modules, [] {});
}

size_t count_track_following_probes(const TrackFollowingParameters& p, std::span<const Module> modules) {
    size_t probes = 0;
    solve_indexed(p, modules, [&probes] { ++probes; });
    return probes;
}

}  // namespace corvane
