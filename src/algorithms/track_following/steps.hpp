// The steps of the track-following search, shared by the fast solver and the
// reference. They differ only in how used hits are remembered and how
// a module is searched for the first hit continuing a line.
#pragma once

#include <algorithm>
#include <span>
#include <vector>

#include "algorithms/track_following/track_following.hpp"

namespace corvane {

inline const Hit& as_hit(const Hit& hit) { return hit; }
inline const Hit& as_hit(const Hit* hit) { return *hit; }

// UsedHits: contains(hit), add(hit) (no-op when already present), by id.
// second_hits(m): the hits of module m in stored order (as Hit or Hit*); it
// may leave out hits already used when it is called.
// find(k, a, b): the first hit of module k, in stored order, that passes
// check_tolerance(p, a, b, hit), or nullptr.
template <class UsedHits, class SecondHits, class Find>
std::vector<Track> follow_tracks(const TrackFollowingParameters& p, std::span<const Module> modules, UsedHits& used,
                                 SecondHits&& second_hits, Find&& find) {
    std::vector<Track> output;
    const size_t count = modules.size();
    if (count < 3) return output;
    std::vector<Track> weak;
    std::vector<const Hit*> forming;  // reused for every candidate
    auto to_track = [&forming] {
        Track track;
        track.hits.reserve(forming.size());
        for (const Hit* hit : forming) track.hits.push_back(*hit);
        return track;
    };

    for (size_t n = count - 1; n >= 3; --n) {
        const size_t window_bottom = n >= 5 ? n - 5 : 0;
        for (const Hit& h0 : modules[n].hits()) {
            // h0 is tested once: it may go on seeding after its first track marks it used.
            if (used.contains(h0)) continue;
            for (const auto& second : second_hits(n - 2)) {
                const Hit& h1 = as_hit(second);
                if (!are_compatible(p, h0, h1) || used.contains(h1)) continue;
                const Hit* third = nullptr;
                size_t k = n - 3;
                for (;; --k) {
                    third = find(k, h0, h1);
                    if (third != nullptr || k == window_bottom) break;
                }
                if (third == nullptr) continue;
                forming.assign({&h0, &h1, third});
                int missed = 0;
                while (k > 0 && missed < 3) {
                    --k;
                    ++missed;
                    if (const Hit* next = find(k, *forming[forming.size() - 2], *forming.back())) {
                        forming.push_back(next);
                        missed = 0;
                    }
                }
                // The equality test comes first: equal lengths make a track weak.
                if (forming.size() == p.min_track_length) {
                    weak.push_back(to_track());
                } else if (forming.size() >= p.min_strong_track_length) {
                    for (const Hit* hit : forming) used.add(*hit);
                    output.push_back(to_track());
                }
            }
        }
    }
    for (Track& track : weak) {
        const auto is_used = [&used](const Hit& hit) { return used.contains(hit); };
        if (std::any_of(track.hits.begin(), track.hits.end(), is_used)) continue;
        for (const Hit& hit : track.hits) used.add(hit);
        output.push_back(std::move(track));
    }
    return output;
}

}  // namespace corvane
