// The layer sweep: at each window, candidates are extended through the trie
// or, failing that, by the closest unused hit of one event module; tracks that
// miss too many windows in a row are finished; then the trie seeds new tracks.
#include <algorithm>

#include "algorithms/triplet_trie/closest_hit_index.hpp"
#include "algorithms/triplet_trie/steps.hpp"
#include "algorithms/used_hits.hpp"

namespace corvane {
namespace {

struct Candidate {
    std::vector<const Hit*> hits;
    bool missed_last_module = false;
    bool missed_penultimate_module = false;
    uint8_t missed = 0;  // consecutive windows without a new hit
};

Track to_track(const Candidate& candidate) {
    Track track;
    track.hits.reserve(candidate.hits.size());
    for (const Hit* hit : candidate.hits) track.hits.push_back(*hit);
    track.missed_last_module = candidate.missed_last_module;
    track.missed_penultimate_module = candidate.missed_penultimate_module;
    track.missed = candidate.missed;
    return track;
}

size_t hit_id_bound(std::span<const Module> modules) {
    size_t bound = 0;
    for (const Module& module : modules) bound = std::max(bound, module.global_hits->size());
    return bound;
}

class Sweep {
public:
    Sweep(const SearchByTripletTrieParameters& p, std::span<const Module> modules, SearchMode mode)
        : p_(p),
          modules_(modules),
          mode_(mode),
          used_(hit_id_bound(modules)),
          module_indexes_(modules.size()),
          // Counts above 255 would wrap to small values; they mean "never finish".
          allowed_missed_(static_cast<uint8_t>(std::min<uint64_t>(p.allowed_missed_modules, 255))) {}

    void window(const TripletTrie* trie, size_t fallback_module) {
        std::vector<Candidate> extended;
        extended.reserve(candidates_.size());
        for (Candidate& track : candidates_) {
            const Hit* hit = next_hit(trie, fallback_module, track);
            if (hit != nullptr) {
                attach(track, *hit);
                extended.push_back(std::move(track));
                continue;
            }
            const uint8_t before = track.missed++;
            if (before == 0) track.missed_last_module = true;
            if (track.missed == 2) track.missed_penultimate_module = true;
            if (track.missed > allowed_missed_) {
                finish(std::move(track));
            } else {
                extended.push_back(std::move(track));
            }
        }
        candidates_ = std::move(extended);
        if (trie != nullptr) seed(*trie);
    }

    std::vector<Track> result() {
        for (Candidate& track : candidates_) finish(std::move(track));
        std::vector<Track> tracks;
        tracks.reserve(output_.size() + weak_.size());
        for (const Candidate& track : output_) tracks.push_back(to_track(track));
        // Weak tracks survive only if none of their first three hits was used.
        const auto is_used = [this](const Hit* hit) { return used_.contains(*hit); };
        for (const Candidate& track : weak_) {
            if (std::none_of(track.hits.begin(), track.hits.begin() + 3, is_used)) tracks.push_back(to_track(track));
        }
        return tracks;
    }

private:
    const Hit* next_hit(const TripletTrie* trie, size_t fallback_module, const Candidate& track) {
        const Hit& p = *track.hits[track.hits.size() - 2];
        const Hit& q = *track.hits.back();
        // The trie's hit is taken even when a strong track already uses it.
        if (trie != nullptr) {
            if (const Hit* inner = trie->inner_for(p, q)) return inner;
        }
        if (fallback_module >= modules_.size()) return nullptr;
        std::optional<ClosestHitIndex>& index = module_indexes_[fallback_module];
        if (!index) index.emplace(modules_[fallback_module].hits(), mode_ == SearchMode::indexed, p_.max_scatter);
        const auto is_used = [this](const Hit& hit) { return used_.contains(hit); };
        const Closest found = index->closest(line_through(p, q), p_.max_scatter, is_used);
        // The search starts from a placeholder of id -1: a winner with that id
        // counts as nothing found.
        if (!found.found() || index->hits()[found.position].id == -1) return nullptr;
        return &index->hits()[found.position];
    }

    void attach(Candidate& track, const Hit& hit) {
        track.hits.push_back(&hit);
        used_.add(hit);
        const uint64_t strong = p_.min_strong_track_length;
        if (track.hits.size() >= strong) {
            // The first strong-1 hits (all of them when the length is 0).
            const size_t count = strong == 0 ? track.hits.size() : static_cast<size_t>(strong - 1);
            for (size_t k = 0; k < count; ++k) used_.add(*track.hits[k]);
        }
        track.missed_penultimate_module = track.missed_last_module;
        track.missed_last_module = false;
        track.missed = 0;
    }

    void finish(Candidate&& track) {
        (track.hits.size() >= p_.min_strong_track_length ? output_ : weak_).push_back(std::move(track));
    }

    // Per outer hit, the entry of smallest scatter whose three hits are all
    // unused (the earliest among equals). Seeds mark nothing as used.
    void seed(const TripletTrie& trie) {
        const auto is_used = [this](const Hit* hit) { return used_.contains(*hit); };
        for (const TripletTrie::Branch& branch : trie.branches()) {
            if (is_used(branch.outer)) continue;
            const TripletTrie::Entry* chosen = nullptr;
            for (const TripletTrie::Entry& entry : trie.entries(branch)) {
                if (is_used(entry.middle) || is_used(entry.inner)) continue;
                if (chosen == nullptr ? entry.scatter < p_.max_scatter
                                      : entry.scatter < chosen->scatter ||
                                            (entry.scatter == chosen->scatter && entry.rank < chosen->rank)) {
                    chosen = &entry;
                }
            }
            if (chosen != nullptr) candidates_.push_back({{branch.outer, chosen->middle, chosen->inner}});
        }
    }

    const SearchByTripletTrieParameters& p_;
    std::span<const Module> modules_;
    SearchMode mode_;
    UsedHitSet used_;
    std::vector<std::optional<ClosestHitIndex>> module_indexes_;
    uint8_t allowed_missed_;
    std::vector<Candidate> candidates_;
    std::vector<Candidate> output_;  // finished strong tracks, in order
    std::vector<Candidate> weak_;
};

}  // namespace

std::vector<Track> sweep_layers(const SearchByTripletTrieParameters& p, std::span<const Module> modules,
                                std::span<const Module> layers, const TrieTable& tries, SearchMode mode) {
    Sweep sweep(p, modules, mode);
    for (size_t i = layers.size(); i-- > 2;) {
        const uint32_t number = layers[i].module_number;
        const TripletTrie* trie = number < kTrieSlots && tries[number] ? &*tries[number] : nullptr;
        if (trie != nullptr && trie->empty()) trie = nullptr;
        const uint32_t w0 = layers[i - 2].module_number;
        sweep.window(trie, w0 == 0 ? 0 : w0 - 1);
    }
    return sweep.result();
}

}  // namespace corvane
