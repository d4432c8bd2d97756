#include "generator/flight.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <string>

#include "core/errors.hpp"
#include "generator/portable_math.hpp"

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

// What search_left finds for the next float above v: the first index whose value is above v (+inf has no
// next float above it).
int64_t search_right(std::span<const double> sorted, double v) {
    if (std::isnan(v) || v == std::numeric_limits<double>::infinity()) return search_left(sorted, v);
    return std::upper_bound(sorted.begin(), sorted.end(), v) - sorted.begin();
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

// Every test is evaluated and the results combined with & and |: whether a line meets a sensor follows no
// pattern a branch could predict, and the comparisons have no side effects.
inline bool Sensors::contain(int64_t module, double x, double y) const {
    const double side = module % 2 == 0 ? 1.0 : -1.0;
    const bool within = (std::abs(x) < outer_half_width) & (std::abs(y) < outer_half_width);
    if (!tiles) return within & (x * x + y * y > inner_radius * inner_radius) & (side * x > -overlap);
    // In the even half's frame; the odd half is the even one turned about the beam.
    const double u = side * x;
    const double v = side * y;
    const double r = inner_radius;
    const bool reach = (v > r) & ((u > -r) | ((u > -r - overlap) & (v < r + sensor_short_side)));
    return within & ((u > r) | reach);
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
    for (size_t i = 0; i < n; ++i) {
        const double oz = lines.origin[3 * i + 2];
        const double slope = lines.slope[i];
        const double r0 = lines.r0[i];
        const double gap = inner_radius - r0 - 1.0;
        const double near = (std::isnan(gap) ? gap : std::max(gap, 0.0)) / slope;
        const double far = (reach + r0 + 1.0) / slope;
        // Forward: modules in (oz + near, oz + far]; backward: [oz - far, oz - near).
        const bool forward = lines.sign[i] > 0.0;
        const int64_t begin = forward ? search_right(module_z, oz + near) : search_left(module_z, oz - far);
        const int64_t end = forward ? search_right(module_z, oz + far) : search_left(module_z, oz - near);
        first[i] = begin;
        count[i] = std::max<int64_t>(end - begin, 0);
    }
}

size_t line_crossings(const Lines& lines, std::span<const double> module_z, const Sensors& sensors,
                      std::span<const int64_t> first, std::span<const int64_t> count, const CrossingColumns& out) {
    check_lines(lines);
    require(first.size() == lines.size() && count.size() == lines.size(), "one candidate window per line");
    size_t candidates = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        require(first[i] >= 0 && count[i] >= 0 && static_cast<size_t>(count[i]) <= module_z.size() &&
                    static_cast<size_t>(first[i]) <= module_z.size() - static_cast<size_t>(count[i]),
                "candidate window out of range");
        candidates += static_cast<size_t>(count[i]);
    }
    require(out.module.size() == out.size() && out.x.size() == out.size() && out.y.size() == out.size() &&
                out.size() >= candidates,
            "no room for the crossings");
    // Every candidate is written at the next free place, which moves on only when the line meets a sensor.
    size_t crossed = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const double ox = lines.origin[3 * i], oy = lines.origin[3 * i + 1], oz = lines.origin[3 * i + 2];
        const double tx = lines.tx[i], ty = lines.ty[i];
        const int64_t stop = first[i] + count[i];
        for (int64_t module = first[i]; module < stop; ++module) {
            const double dz = module_z[static_cast<size_t>(module)] - oz;
            const double x = ox + tx * dz;
            const double y = oy + ty * dz;
            out.row[crossed] = static_cast<int64_t>(i);
            out.module[crossed] = module;
            out.x[crossed] = x;
            out.y[crossed] = y;
            crossed += sensors.contain(module, x, y) ? 1 : 0;
        }
    }
    return crossed;
}

namespace {

constexpr double foil_radius = 3.5;
constexpr double foil_path_limit = 10.0;  // the foil's corrugations follow the modules: at most ten thicknesses
// A line crosses at most a sensor plane's diagonal of material (radiation lengths), however close to it it runs.
const double sensor_path_limit = 2.0 * std::sqrt(2.0) * 40.0 / 93.7;

// One scattering layer of a particle: a module crossing (its index) or the foil (-1), with its z, its kicks,
// and the running sums of kicks and moments over all layers before it.
struct Layer {
    int64_t crossing;
    double z;
    std::array<double, 4> before;
};

void check_flight_input(const Lines& lines, std::span<const double> module_z, const FlightInput& in, size_t crossings,
                        size_t xs, size_t ys) {
    require(in.module.size() == crossings && xs == crossings && ys == crossings,
            "the crossing columns differ in length");
    require(in.p.size() == lines.size() && in.mass.size() == lines.size(), "one momentum and mass per particle");
    for (size_t j = 0; j < crossings; ++j) {
        require(
            in.row[j] >= 0 && static_cast<size_t>(in.row[j]) < lines.size() && (j == 0 || in.row[j - 1] <= in.row[j]),
            "crossings must be grouped by particle in ascending order");
        require(in.module[j] >= 0 && static_cast<size_t>(in.module[j]) < module_z.size(), "module out of range");
    }
    require(in.normals.size() == 4 * crossings + 2 * lines.size(), "four normal draws per crossing, two per particle");
    require(in.uniforms.size() == crossings, "one uniform draw per crossing");
}

}  // namespace

double highland(double p, double mass, double path_x0) {
    if (!(path_x0 > 0.0)) return 0.0;
    const double beta = p / std::sqrt(p * p + mass * mass);
    return 13.6 / (beta * p) * std::sqrt(path_x0) * (1.0 + 0.038 * portable::log(path_x0 / (beta * beta)));
}

FlightCounts fly(const Lines& lines, std::span<const double> module_z, const Sensors& sensors, const FlightInput& in,
                 std::span<const double> x, std::span<const double> y, const CrossingColumns& landed,
                 const HitColumns& hits) {
    check_lines(lines);
    const size_t crossings = in.row.size(), particles = lines.size();
    check_flight_input(lines, module_z, in, crossings, x.size(), y.size());
    require(landed.module.size() == landed.size() && landed.x.size() == landed.size() &&
                landed.y.size() == landed.size() && landed.size() >= crossings,
            "no room for the crossings that land");
    require(hits.module.size() == hits.size() && hits.x.size() == hits.size() && hits.y.size() == hits.size() &&
                hits.z.size() == hits.size() && hits.size() >= crossings,
            "no room for the hits");
    const std::span<const double> kick_x = in.normals.subspan(0, crossings);
    const std::span<const double> kick_y = in.normals.subspan(crossings, crossings);
    const std::span<const double> foil_x = in.normals.subspan(2 * crossings, particles);
    const std::span<const double> foil_y = in.normals.subspan(2 * crossings + particles, particles);
    const std::span<const double> smear_x = in.normals.subspan(2 * crossings + 2 * particles, crossings);
    const std::span<const double> smear_y = in.normals.subspan(3 * crossings + 2 * particles, crossings);

    FlightCounts out;
    // Running sums of the kicks and of the kicks' moments kick * z over all layers in flight order, as one
    // cumulative sum from the first layer of the first particle; only the current particle's are kept.
    std::array<double, 4> running{0.0, 0.0, 0.0, 0.0};
    std::vector<Layer> group;
    size_t next = 0;
    while (next < crossings) {
        const size_t particle = static_cast<size_t>(in.row[next]);
        const double tx = lines.tx[particle], ty = lines.ty[particle];
        const double t2 = tx * tx + ty * ty;
        const double theta = highland(in.p[particle], in.mass[particle],
                                      std::min(in.module_material * std::sqrt(1.0 + t2), sensor_path_limit)) *
                             (1.0 + t2);
        const bool forward = lines.sign[particle] > 0.0;
        // A particle made inside the foil crosses it once on its way out, at the angle of its line to the beam.
        const double r0 = lines.r0[particle], slope = lines.slope[particle];
        const bool has_foil = in.foil_material > 0.0 && r0 < foil_radius;
        group.clear();
        auto add = [&](int64_t crossing, double z, double theta_here, double normal_x, double normal_y) {
            const double kx = normal_x * theta_here, ky = normal_y * theta_here;
            group.push_back({crossing, z, running});
            running[0] = running[0] + kx;
            running[1] = running[1] + ky;
            running[2] = running[2] + kx * z;
            running[3] = running[3] + ky * z;
        };
        auto add_foil = [&] {
            const double z = lines.origin[3 * particle + 2] + lines.sign[particle] * (foil_radius - r0) / slope;
            const double path = std::min(std::sqrt(1.0 + slope * slope) / slope, foil_path_limit);
            const double foil_theta = highland(in.p[particle], in.mass[particle], in.foil_material * path) * (1.0 + t2);
            add(-1, z, foil_theta, foil_x[particle], foil_y[particle]);
        };
        if (has_foil && forward) add_foil();
        for (; next < crossings && static_cast<size_t>(in.row[next]) == particle; ++next) {
            add(static_cast<int64_t>(next), module_z[static_cast<size_t>(in.module[next])], theta, kick_x[next],
                kick_y[next]);
        }
        if (has_foil && !forward) add_foil();

        for (size_t j = 0; j < group.size(); ++j) {
            if (group[j].crossing < 0) continue;
            // The kicks before layer j in flight order: lower z first towards +z, higher z first towards -z.
            const std::array<double, 4>& high = forward ? group[j].before : running;
            const std::array<double, 4>& low =
                forward ? group.front().before : (j + 1 < group.size() ? group[j + 1].before : running);
            const double z = group[j].z;
            const size_t k = static_cast<size_t>(group[j].crossing);
            double hx = x[k] + (z * (high[0] - low[0]) - (high[2] - low[2]));
            double hy = y[k] + (z * (high[1] - low[1]) - (high[3] - low[3]));
            const double plane = sensor_plane_offset(hy);
            hx = hx + tx * plane;
            hy = hy + ty * plane;
            // Written at the next free places, which move on only for a crossing that lands (and leaves a hit).
            const bool on = sensors.contain(in.module[k], hx, hy);
            const bool seen = on & (in.uniforms[k] < in.hit_efficiency);
            landed.row[out.landed] = static_cast<int64_t>(particle);
            landed.module[out.landed] = in.module[k];
            landed.x[out.landed] = hx;
            landed.y[out.landed] = hy;
            out.landed += on ? 1 : 0;
            hits.owner[out.hits] = static_cast<int64_t>(particle);
            hits.module[out.hits] = in.module[k];
            hits.x[out.hits] = hx + smear_x[k] * in.resolution;
            hits.y[out.hits] = hy + smear_y[k] * in.resolution;
            hits.z[out.hits] = z + plane;
            out.hits += seen ? 1 : 0;
        }
    }
    return out;
}

}  // namespace corvane::generator
