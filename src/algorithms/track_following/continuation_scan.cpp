#include "algorithms/track_following/track_following.hpp"

namespace corvane {

const Hit* first_continuation_by_scan(const TrackFollowingParameters& p, std::span<const Hit> hits, const Hit& a,
                                      const Hit& b) {
    for (const Hit& hit : hits) {
        if (check_tolerance(p, a, b, hit)) return &hit;
    }
    return nullptr;
}

}  // namespace corvane
