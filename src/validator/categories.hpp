// The particle categories efficiencies are reported for. Electrons and
// positrons belong to none of them.
#pragma once

#include <array>
#include <string_view>
#include <vector>

#include "validator/mc_particle.hpp"

namespace corvane::validation {

using ParticlePredicate = bool (*)(const McParticle&);

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
