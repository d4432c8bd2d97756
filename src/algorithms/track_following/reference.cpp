// The reference form of the search, kept as the yardstick for the indexed
// one: every search is a scan in stored order, and used hits live in a list
// searched by id.
#include <algorithm>

#include "algorithms/track_following/steps.hpp"
#include "algorithms/track_following/track_following.hpp"

namespace corvane {
namespace {

struct UsedHitList {
    std::vector<Hit> hits;

    bool contains(const Hit& hit) const {
        return std::any_of(hits.begin(), hits.end(), [&hit](const Hit& used) { return same_hit(used, hit); });
    }
    void add(const Hit& hit) {
        if (!contains(hit)) hits.push_back(hit);
    }
};

}  // namespace

std::vector<Track> solve_track_following_reference(const TrackFollowingParameters& p, std::span<const Module> modules) {
    UsedHitList used;
    auto scan = [&p, modules](size_t k, const Hit& a, const Hit& b) {
        return first_continuation_by_scan(p, modules[k].hits(), a, b);
    };
    auto second_hits = [modules](size_t m) { return modules[m].hits(); };
    return follow_tracks(p, modules, used, second_hits, scan);
}

}  // namespace corvane
