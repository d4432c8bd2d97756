// One simulated particle as the Monte Carlo record describes it.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace corvane::validation {

struct McParticle {
    std::vector<uint32_t> hits;  // ids of its hits, in row order; repeats kept
    uint64_t key = 0;            // identity: rows with equal keys are one particle
    double p = 0.0;              // MeV
    double pt = 0.0;             // MeV
    double eta = 0.0;
    double phi = 0.0;
    int32_t pid = 0;
    int32_t charge = 0;
    bool is_long = false;
    bool is_down = false;
    bool has_velo = true;
    bool has_ut = false;
    bool has_scifi = false;
    bool from_strange_decay = false;
    bool from_beauty_decay = false;
    bool from_charm_decay = false;
    bool above_5gev = false;
};

// |p| > 5 GeV; a NaN momentum is not above.
inline bool momentum_above_5gev(double p) { return std::fabs(p) > 5000.0; }

}  // namespace corvane::validation
