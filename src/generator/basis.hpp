// Unit vectors across directions of flight, for turning a particle's
// direction by an angle about itself (decays, pair production, delta rays).
#pragma once

#include <span>
#include <vector>

namespace corvane::generator {

// For each direction (x, y, z triples): u, perpendicular to it (in the x-y plane, or in the y-z plane for
// directions within about 8 degrees of the beam), normalised; and v = direction x u. Both as triples.
void perpendicular_basis(std::span<const double> direction, std::vector<double>& u, std::vector<double>& v);

}  // namespace corvane::generator
