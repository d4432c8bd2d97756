// The particle categories efficiencies are reported for. Electrons and
// positrons belong to none of them.
#pragma once

#include <array>
#include <string_view>
#include <vector>

#include "validator/mc_particle.hpp"

namespace corvane::validation {

// A predicate reads only a particle's traits (see particle_traits).
using ParticlePredicate = bool (*)(const McParticle&);

// What the predicates may look at, one bit each: electron or positron, has_velo, is_long, above_5gev,
// from_strange_decay, from_beauty_decay.
inline constexpr unsigned kTraitSets = 64;
inline bool is_electron(const McParticle& p) { return p.pid == 11 || p.pid == -11; }
inline unsigned particle_traits(const McParticle& p) {
    return static_cast<unsigned>(is_electron(p)) | static_cast<unsigned>(p.has_velo) << 1 |
           static_cast<unsigned>(p.is_long) << 2 | static_cast<unsigned>(p.above_5gev) << 3 |
           static_cast<unsigned>(p.from_strange_decay) << 4 | static_cast<unsigned>(p.from_beauty_decay) << 5;
}

struct Category {
    std::string_view name;
    ParticlePredicate selects;
};

// The seven categories in the order they are processed and reported.
const std::array<Category, 7>& standard_categories();
// The same, as the list a validation run takes.
std::vector<Category> standard_category_list();

// The predicate of the named category; an unknown name selects nothing.
ParticlePredicate predicate_for(std::string_view name);

}  // namespace corvane::validation
