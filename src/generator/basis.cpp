#include "generator/basis.hpp"

#include <cmath>

#include "core/errors.hpp"

namespace corvane::generator {

void perpendicular_basis(std::span<const double> direction, std::vector<double>& u, std::vector<double>& v) {
    if (direction.size() % 3 != 0) throw ValueError("perpendicular_basis: directions are x, y, z triples");
    u.resize(direction.size());
    v.resize(direction.size());
    for (size_t i = 0; i < direction.size(); i += 3) {
        const double dx = direction[i], dy = direction[i + 1], dz = direction[i + 2];
        const bool along_beam = std::abs(dz) > 0.99;
        double ux = along_beam ? 0.0 : dy;
        double uy = along_beam ? dz : -dx;
        double uz = along_beam ? -dy : 0.0;
        const double norm = std::sqrt(ux * ux + uy * uy + uz * uz);
        ux = ux / norm;
        uy = uy / norm;
        uz = uz / norm;
        u[i] = ux;
        u[i + 1] = uy;
        u[i + 2] = uz;
        v[i] = dy * uz - dz * uy;
        v[i + 1] = dz * ux - dx * uz;
        v[i + 2] = dx * uy - dy * ux;
    }
}

}  // namespace corvane::generator
