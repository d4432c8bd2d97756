// Straight-line flight of generated particles through the 52 modules: which
// sensors a line crosses, and where a particle lands after multiple
// scattering in the material it crossed before, and the hits it leaves. The
// random draws come from the caller, so this is plain arithmetic (portable
// logarithm included), evaluated in the same order as the array code it
// stands in for: both give the same events to the last bit.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace corvane::generator {

// The sensitive area of the modules (millimetres), for one overlap setting.
struct Sensors {
    double overlap = 0.0;
    bool tiles = false;  // L-shaped tiles around a square hole, else a strip past x = 0 around a round hole

    bool contain(int64_t module, double x, double y) const;
};

// z offset of the sensor plane that a point at height y lands on.
double sensor_plane_offset(double y);

// Lines of flight, one entry per particle; origins as x, y, z triples.
struct Lines {
    std::span<const double> origin;
    std::span<const double> tx, ty, sign, slope, r0;

    size_t size() const { return tx.size(); }
};

// Columns the caller provides for crossings of lines with modules (particle `row`, module, x, y), each with
// room for as many entries as a function may write; it says how many it wrote.
struct CrossingColumns {
    std::span<int64_t> row, module;
    std::span<double> x, y;

    size_t size() const { return row.size(); }
};

// Per-particle window of candidate modules: the first and how many follow.
void candidate_window(const Lines& lines, std::span<const double> module_z, std::vector<int64_t>& first,
                      std::vector<int64_t>& count);

// The modules (z ascending) whose sensors each undisturbed line crosses, within the lines' candidate windows
// (`first`, `count`, from candidate_window): written to `out`, grouped by particle in module order, which needs
// room for the sum of the counts. Returns how many crossings it wrote.
size_t line_crossings(const Lines& lines, std::span<const double> module_z, const Sensors& sensors,
                      std::span<const int64_t> first, std::span<const int64_t> count, const CrossingColumns& out);

// What decides where particles land and which crossings leave hits: the particles' momenta and masses, the
// material (radiation lengths at normal incidence), the hit efficiency and resolution, and the random draws.
struct FlightInput {
    std::span<const double> p, mass;       // per particle
    std::span<const int64_t> row, module;  // the line crossings, grouped by particle in ascending order
    double module_material = 0.0, foil_material = 0.0, hit_efficiency = 0.0, resolution = 0.0;
    // Unit normal draws, in blocks: kicks in x and in y at each crossing, kicks in x and in y in the foil per
    // particle, smearing in x and in y at each crossing (4 crossings + 2 particles); and one uniform draw in
    // [0, 1) per crossing that decides whether it leaves a hit.
    std::span<const double> normals, uniforms;
};

// Columns the caller provides for hits (owner, module, x, y, z).
struct HitColumns {
    std::span<int64_t> owner, module;
    std::span<double> x, y, z;

    size_t size() const { return owner.size(); }
};

// How many crossings landed on a sensor and how many of them left a hit.
struct FlightCounts {
    size_t landed = 0, hits = 0;
};

// RMS projected scattering angle (rad) of a unit-charge particle of momentum p and the given mass after
// `path_x0` radiation lengths (Highland); none without material.
double highland(double p, double mass, double path_x0);

// Moves the line crossings (x, y) to where the scattered particles cross: each particle is kicked in the foil,
// when it is made inside it, and at every module it crosses. Flight order: the foil first, then the modules
// in z order towards +z, or from the highest z down towards -z. Writes the crossings that land on a sensor to
// `landed` and the hits among them to `hits`, each with room for one entry per line crossing.
FlightCounts fly(const Lines& lines, std::span<const double> module_z, const Sensors& sensors, const FlightInput& in,
                 std::span<const double> x, std::span<const double> y, const CrossingColumns& landed,
                 const HitColumns& hits);

}  // namespace corvane::generator
