#include "generator/flight.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <string>

#include "core/errors.hpp"

namespace corvane::generator {
namespace {

constexpr double inner_radius = 5.1;
constexpr double outer_half_width = 40.0;
constexpr double sensor_short_side = 14.08;
constexpr std::array<double, 4> sensor_planes{-0.45, -0.15, 0.15, 0.45};

// The first index whose value is not below v; NaN sorts after every number.
int64_t search_left(std::span<const double> sorted, double v) {
    if (std::isnan(v)) return static_cast<int64_t>(sorted.size());
    return std::lower_bound(sorted.begin(), sorted.end(), v) - sorted.begin();
}

void require(bool condition, const char* what) {
    if (!condition) throw ValueError(std::string("flight: ") + what);
}

void check_lines(const Lines& lines) {
    const size_t n = lines.size();
    require(lines.ty.size() == n && lines.sign.size() == n && lines.slope.size() == n && lines.r0.size() == n &&
                lines.origin.size() == 3 * n,
            "the line columns differ in length");
}

}  // namespace

bool Sensors::contain(int64_t module, double x, double y) const {
    const double side = module % 2 == 0 ? 1.0 : -1.0;
    const bool within = std::abs(x) < outer_half_width && std::abs(y) < outer_half_width;
    if (!tiles) return within && x * x + y * y > inner_radius * inner_radius && side * x > -overlap;
    // In the even half's frame; the odd half is the even one turned about the beam.
    const double u = side * x;
    const double v = side * y;
    const double r = inner_radius;
    const bool reach = v > r && (u > -r || (u > -r - overlap && v < r + sensor_short_side));
    return within && (u > r || reach);
}

double sensor_plane_offset(double y) {
    const double band = (y + outer_half_width) / (2.0 * outer_half_width) * static_cast<double>(sensor_planes.size());
    // A float too large for an integer (or NaN) converts to the lowest integer, which clips to the first band.
    constexpr double integer_limit = 9223372036854775808.0;
    if (!(band > -integer_limit && band < integer_limit)) return sensor_planes.front();
    const int64_t whole = static_cast<int64_t>(band);
    return sensor_planes[static_cast<size_t>(std::clamp<int64_t>(whole, 0, sensor_planes.size() - 1))];
}

void candidate_window(const Lines& lines, std::span<const double> module_z, std::vector<int64_t>& first,
                      std::vector<int64_t>& count) {
    check_lines(lines);
    const size_t n = lines.size();
    first.resize(n);
    count.resize(n);
    const double reach = outer_half_width * std::sqrt(2.0);
    constexpr double infinity = std::numeric_limits<double>::infinity();
    for (size_t i = 0; i < n; ++i) {
        const double oz = lines.origin[3 * i + 2];
        const double slope = lines.slope[i];
        const double r0 = lines.r0[i];
        const double gap = inner_radius - r0 - 1.0;
        const double near = (std::isnan(gap) ? gap : std::max(gap, 0.0)) / slope;
        const double far = (reach + r0 + 1.0) / slope;
        // Forward: modules in (oz + near, oz + far]; backward: [oz - far, oz - near).
        const bool forward = lines.sign[i] > 0.0;
        const int64_t begin = search_left(module_z, forward ? std::nextafter(oz + near, infinity) : oz - far);
        const int64_t end = search_left(module_z, forward ? std::nextafter(oz + far, infinity) : oz - near);
        first[i] = begin;
        count[i] = std::max<int64_t>(end - begin, 0);
    }
}

LineCrossings line_crossings(const Lines& lines, std::span<const double> module_z, const Sensors& sensors) {
    std::vector<int64_t> first, count;
    candidate_window(lines, module_z, first, count);
    LineCrossings out;
    int64_t candidates = 0;
    for (const int64_t n : count) candidates += n;
    for (std::vector<int64_t>* column : {&out.row, &out.module}) column->reserve(static_cast<size_t>(candidates));
    for (std::vector<double>* column : {&out.x, &out.y}) column->reserve(static_cast<size_t>(candidates));
    for (size_t i = 0; i < lines.size(); ++i) {
        const double ox = lines.origin[3 * i], oy = lines.origin[3 * i + 1], oz = lines.origin[3 * i + 2];
        for (int64_t module = first[i]; module < first[i] + count[i]; ++module) {
            const double dz = module_z[static_cast<size_t>(module)] - oz;
            const double x = ox + lines.tx[i] * dz;
            const double y = oy + lines.ty[i] * dz;
            if (!sensors.contain(module, x, y)) continue;
            out.row.push_back(static_cast<int64_t>(i));
            out.module.push_back(module);
            out.x.push_back(x);
            out.y.push_back(y);
        }
    }
    return out;
}

namespace {

// One scattering layer of a particle: a module crossing (its index) or the foil (-1), with its z, its kicks,
// and the running sums of kicks and moments over all layers before it.
struct Layer {
    int64_t crossing;
    double z;
    double kick_x, kick_y;
    std::array<double, 4> before;
};

void check_scatter_input(const Lines& lines, std::span<const double> module_z, const ScatterInput& in,
                         size_t crossings) {
    require(in.module.size() == crossings, "the crossing columns differ in length");
    require(in.theta.size() == lines.size(), "one scattering angle per particle");
    require(in.foil_z.size() == in.foil_row.size() && in.foil_theta.size() == in.foil_row.size(),
            "the foil columns differ in length");
    for (size_t j = 0; j < crossings; ++j) {
        require(
            in.row[j] >= 0 && static_cast<size_t>(in.row[j]) < lines.size() && (j == 0 || in.row[j - 1] <= in.row[j]),
            "crossings must be grouped by particle in ascending order");
        require(in.module[j] >= 0 && static_cast<size_t>(in.module[j]) < module_z.size(), "module out of range");
    }
    for (size_t f = 0; f < in.foil_row.size(); ++f) {
        require(in.foil_row[f] >= 0 && static_cast<size_t>(in.foil_row[f]) < lines.size() &&
                    (f == 0 || in.foil_row[f - 1] < in.foil_row[f]),
                "foil rows must be particles in ascending order");
    }
    require(in.normals.size() == 2 * (crossings + in.foil_row.size()), "two normal draws per layer");
}

}  // namespace

Landing scatter(const Lines& lines, std::span<const double> module_z, const Sensors& sensors, const ScatterInput& in,
                std::vector<double>& x, std::vector<double>& y) {
    check_lines(lines);
    const size_t crossings = in.row.size();
    require(x.size() == crossings && y.size() == crossings, "the crossing columns differ in length");
    check_scatter_input(lines, module_z, in, crossings);
    const size_t layer_count = crossings + in.foil_row.size();

    Landing landing;
    landing.plane.resize(crossings);
    landing.on_sensor.resize(crossings);
    // Running sums of the kicks and of the kicks' moments kick * z over all layers in flight order, as one
    // cumulative sum from the first layer of the first particle; only the current particle's are kept.
    std::array<double, 4> running{0.0, 0.0, 0.0, 0.0};
    std::vector<Layer> group;
    size_t layer = 0, next = 0, foil = 0;
    while (next < crossings || foil < in.foil_row.size()) {
        const int64_t row = next == crossings            ? in.foil_row[foil]
                            : foil == in.foil_row.size() ? in.row[next]
                                                         : std::min(in.row[next], in.foil_row[foil]);
        const size_t particle = static_cast<size_t>(row);
        const bool forward = lines.sign[particle] > 0.0;
        const bool has_foil = foil < in.foil_row.size() && in.foil_row[foil] == row;
        // Flight order: the foil before the modules towards +z, after them (in z order) towards -z.
        group.clear();
        auto add = [&](int64_t crossing, double z, double theta) {
            const double kick_x = in.normals[layer] * theta;
            const double kick_y = in.normals[layer_count + layer] * theta;
            group.push_back({crossing, z, kick_x, kick_y, running});
            running[0] = running[0] + kick_x;
            running[1] = running[1] + kick_y;
            running[2] = running[2] + kick_x * z;
            running[3] = running[3] + kick_y * z;
            ++layer;
        };
        auto add_foil = [&] { add(-1, in.foil_z[foil], in.foil_theta[foil]); };
        if (has_foil && forward) add_foil();
        for (; next < crossings && in.row[next] == row; ++next) {
            add(static_cast<int64_t>(next), module_z[static_cast<size_t>(in.module[next])], in.theta[particle]);
        }
        if (has_foil && !forward) add_foil();
        if (has_foil) ++foil;

        for (size_t j = 0; j < group.size(); ++j) {
            if (group[j].crossing < 0) continue;
            // The kicks before layer j in flight order: lower z first towards +z, higher z first towards -z.
            const std::array<double, 4>& high = forward ? group[j].before : running;
            const std::array<double, 4>& low =
                forward ? group.front().before : (j + 1 < group.size() ? group[j + 1].before : running);
            const double z = group[j].z;
            const double shift_x = z * (high[0] - low[0]) - (high[2] - low[2]);
            const double shift_y = z * (high[1] - low[1]) - (high[3] - low[3]);
            const size_t k = static_cast<size_t>(group[j].crossing);
            x[k] = x[k] + shift_x;
            y[k] = y[k] + shift_y;
            const double plane = sensor_plane_offset(y[k]);
            x[k] = x[k] + lines.tx[particle] * plane;
            y[k] = y[k] + lines.ty[particle] * plane;
            landing.plane[k] = plane;
            landing.on_sensor[k] = sensors.contain(in.module[k], x[k], y[k]) ? 1 : 0;
        }
    }
    return landing;
}

}  // namespace corvane::generator
