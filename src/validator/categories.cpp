#include "validator/categories.hpp"

namespace corvane::validation {
namespace {

bool velo(const McParticle& p) { return !is_electron(p) && p.has_velo; }
bool long_track(const McParticle& p) { return !is_electron(p) && p.is_long; }
bool long_above_5gev(const McParticle& p) { return long_track(p) && p.above_5gev; }
bool long_strange(const McParticle& p) { return long_track(p) && p.from_strange_decay; }
bool long_strange_above_5gev(const McParticle& p) { return long_above_5gev(p) && p.from_strange_decay; }
bool long_from_b(const McParticle& p) { return long_track(p) && p.from_beauty_decay; }
bool long_from_b_above_5gev(const McParticle& p) { return long_above_5gev(p) && p.from_beauty_decay; }
bool nothing(const McParticle&) { return false; }

}  // namespace

const std::array<Category, 7>& standard_categories() {
    static const std::array<Category, 7> table{{
        {"velo", &velo},
        {"long", &long_track},
        {"long>5GeV", &long_above_5gev},
        {"long_strange", &long_strange},
        {"long_strange>5GeV", &long_strange_above_5gev},
        {"long_fromb", &long_from_b},
        {"long_fromb>5GeV", &long_from_b_above_5gev},
    }};
    return table;
}

std::vector<Category> standard_category_list() {
    const auto& table = standard_categories();
    return {table.begin(), table.end()};
}

ParticlePredicate predicate_for(std::string_view name) {
    for (const Category& category : standard_categories()) {
        if (category.name == name) return category.selects;
    }
    return &nothing;
}

}  // namespace corvane::validation
