// One simulated particle as the Monte Carlo record describes it, with the
// values a row without the column gets.
#pragma once

#include <cmath>
#include <cstdint>

namespace corvane::validation {

// Momenta are in MeV.
inline constexpr double kMeV = 1.0;
inline constexpr double kGeV = 1000.0 * kMeV;
inline constexpr double kHighMomentum = 5.0 * kGeV;

// Its hit ids travel beside it, in McTruth.
struct McParticle {
    uint64_t key = 0;  // identity: rows with equal keys are one particle
    double p = 0.0;    // MeV
    int32_t pid = 0;
    bool is_long = false;
    bool has_velo = true;
    bool from_strange_decay = false;
    bool from_beauty_decay = false;
    bool above_5gev = false;
};

// |p| > 5 GeV; a NaN momentum is not above.
inline bool momentum_above_5gev(double p) { return std::fabs(p) > kHighMomentum; }

}  // namespace corvane::validation
