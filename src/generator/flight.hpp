// Straight-line flight of generated particles through the 52 modules: which
// sensors a line crosses, and where a particle lands after multiple
// scattering in the material it crossed before. The random kicks come from
// the caller, so this is plain arithmetic, evaluated in the same order as the
// array code it stands in for (the events must not change by a bit).
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

// Crossings of lines with modules, grouped by particle (`row`), in module order within one.
struct LineCrossings {
    std::vector<int64_t> row, module;
    std::vector<double> x, y;
};

// The modules (z ascending) whose sensors each undisturbed line crosses.
LineCrossings line_crossings(const Lines& lines, std::span<const double> module_z, const Sensors& sensors);

// Per-particle window of candidate modules: the first and how many follow.
void candidate_window(const Lines& lines, std::span<const double> module_z, std::vector<int64_t>& first,
                      std::vector<int64_t>& count);

// What scatters the particles: the modules their lines cross and, once, the foil for particles made inside it.
struct ScatterInput {
    std::span<const int64_t> row, module;  // the line crossings
    std::span<const double> theta;         // RMS kick per particle at a module
    std::span<const int64_t> foil_row;     // particles crossing the foil, ascending
    std::span<const double> foil_z, foil_theta;
    std::span<const double> normals;  // 2 x (crossings + foil crossings) unit normal draws, x row then y row
};

struct Landing {
    std::vector<double> plane;  // z offset of the sensor plane hit
    std::vector<uint8_t> on_sensor;
};

// Moves the line crossings (x, y) to where the scattered particles cross, and tells which land on a sensor.
// Entries in flight order: the foil before a particle's modules when it flies towards +z, after them otherwise.
Landing scatter(const Lines& lines, std::span<const double> module_z, const Sensors& sensors, const ScatterInput& in,
                std::vector<double>& x, std::vector<double>& y);

}  // namespace corvane::generator
