#include "algorithms/graph_dfs/fan_cells.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace corvane {
namespace {

using Doubles = double __attribute__((vector_size(32)));
using Int32s = int32_t __attribute__((vector_size(16)));
using Uint32s = uint32_t __attribute__((vector_size(16)));

inline void load(const double* values, Doubles& v) { std::memcpy(&v, values, sizeof v); }

using Int64s = int64_t __attribute__((vector_size(32)));

// |v|: the sign bit cleared, as fabs does.
inline void magnitude(const Doubles& v, Doubles& m) {
    const Int64s all_but_sign = {INT64_MAX, INT64_MAX, INT64_MAX, INT64_MAX};
    m = reinterpret_cast<Doubles>(reinterpret_cast<const Int64s&>(v) & all_but_sign);
}

// Bit k set when lane k of the mask (all ones or zero) is set, for the lanes
// below `lanes`: the lanes' bits folded together in two steps.
inline unsigned mask_bits(const Int64s& mask, uint32_t lanes) {
    const Int64s weighted = mask & Int64s{1, 2, 4, 8};
    const Int64s halves = weighted | __builtin_shufflevector(weighted, weighted, 2, 3, 0, 1);
    const auto bits = static_cast<unsigned>((halves | __builtin_shufflevector(halves, halves, 1, 0, 3, 2))[0]);
    return lanes >= 4 ? bits : bits & ((1u << lanes) - 1);
}

// One axis of a target module, each value in every lane: the kernel reads
// them as whole vectors instead of broadcasting them for every group.
struct AxisLanes {
    Doubles low;
    Doubles per_cell;
    Doubles last;

    explicit AxisLanes(const ReachGrid::Axis& axis)
        : low{axis.low, axis.low, axis.low, axis.low},
          per_cell{axis.per_cell, axis.per_cell, axis.per_cell, axis.per_cell},
          last{axis.last, axis.last, axis.last, axis.last} {}

    // ReachGrid::Axis::cell for four values: the same selects in the same
    // order.
    Uint32s cells_of(const Doubles& v) const {
        const Doubles zero = {0.0, 0.0, 0.0, 0.0};
        const Doubles c = (v - low) * per_cell;
        const Doubles above_first = c > 0 ? c : zero;
        return __builtin_convertvector(__builtin_convertvector(above_first < last ? above_first : last, Int32s),
                                       Uint32s);
    }
};

// A target module as the kernel uses it: its middle z's distance from the
// first hit, and its axes and key layout in every lane.
struct TargetLanes {
    Doubles depth;
    AxisLanes x;
    AxisLanes y;
    Uint32s first_bit;
    Uint32s bits_per_row;

    TargetLanes() : TargetLanes(ReachGrid::ModuleCells{}, 0.0) {}
    TargetLanes(const ReachGrid::ModuleCells& m, double origin_z)
        : depth{}, x(m.x), y(m.y), first_bit{}, bits_per_row{} {
        const double d = m.z_middle - origin_z;
        depth = Doubles{d, d, d, d};
        first_bit = Uint32s{m.first_bit, m.first_bit, m.first_bit, m.first_bit};
        bits_per_row = Uint32s{m.bits_per_row, m.bits_per_row, m.bits_per_row, m.bits_per_row};
    }
};

}  // namespace

namespace {

// The work of fan_cells, for `Targets` target modules (0: targets.size()),
// inlined into each of its builds.
template <size_t Targets>
[[gnu::always_inline]] inline void fan_cells_for(const HitColumns& hits, uint32_t first, uint32_t count,
                                                 const FanOrigin& origin, double max_slope_y,
                                                 std::span<const ReachGrid::ModuleCells* const> targets,
                                                 uint64_t* y_pass, uint32_t* keys, uint32_t stride) {
    // Locals throughout: the stores of the results could alias
    // anything else.
    const double* const xs = hits.x + first;
    const double* const ys = hits.y + first;
    const double* const zs = hits.z + first;
    const double bz_value = origin.z;
    const Doubles bx = {origin.x, origin.x, origin.x, origin.x};
    const Doubles by = {origin.y, origin.y, origin.y, origin.y};
    const Doubles bz = {bz_value, bz_value, bz_value, bz_value};
    const Doubles one = {1.0, 1.0, 1.0, 1.0};
    const size_t target_count = Targets == 0 ? targets.size() : Targets;
    // A fixed count of targets has its constants set up once; any other
    // count sets them up for every group.
    std::array<TargetLanes, Targets> fixed;
    for (size_t t = 0; t < Targets; ++t) fixed[t] = TargetLanes(*targets[t], bz_value);
    uint64_t passing = 0;  // the word of y_pass being filled
    for (uint32_t i = 0; i < count; i += 4) {
        Doubles ax, ay, az;
        load(xs + i, ax);
        load(ys + i, ay);
        load(zs + i, az);
        const Doubles dz = az - bz;
        const Doubles dy = ay - by;
        Doubles dz_size, dy_size;
        magnitude(dz, dz_size);
        magnitude(dy, dy_size);
        passing |= uint64_t{mask_bits(max_slope_y * dz_size > dy_size, count - i)} << (i % 64);
        if (i % 64 == 60) {
            y_pass[i / 64] = passing;
            passing = 0;
        }
        // The line's slopes as the link test computes them.
        const Doubles r = one / dz;
        const Doubles slope_x = (ax - bx) * r;
        const Doubles slope_y = dy * r;
        auto key_on = [&](const TargetLanes& m) {
            return m.first_bit + m.y.cells_of(slope_y * m.depth + by) * m.bits_per_row +
                   m.x.cells_of(slope_x * m.depth + bx);
        };
        for (size_t t = 0; t < target_count; ++t) {
            Uint32s key;
            if constexpr (Targets == 0) {
                key = key_on(TargetLanes(*targets[t], bz_value));
            } else {
                key = key_on(fixed[t]);
            }
            std::memcpy(keys + t * stride + i, &key, sizeof key);
        }
    }
    if ((count + 3) / 4 % 16 != 0) y_pass[count / 64] = passing;  // a last word not stored yet
}

}  // namespace

__attribute__((target_clones("avx2", "default"))) void fan_cells(const HitColumns& hits, uint32_t first, uint32_t count,
                                                                 const FanOrigin& origin, double max_slope_y,
                                                                 std::span<const ReachGrid::ModuleCells* const> targets,
                                                                 uint64_t* y_pass, uint32_t* keys, uint32_t stride) {
    // The usual counts of target modules get loops of fixed length.
    switch (targets.size()) {
        case 1:
            return fan_cells_for<1>(hits, first, count, origin, max_slope_y, targets, y_pass, keys, stride);
        case 2:
            return fan_cells_for<2>(hits, first, count, origin, max_slope_y, targets, y_pass, keys, stride);
        default:
            return fan_cells_for<0>(hits, first, count, origin, max_slope_y, targets, y_pass, keys, stride);
    }
}

__attribute__((target_clones("avx2", "default"))) uint32_t inside_run_end(const HitColumns& hits, uint32_t from,
                                                                          uint32_t end, const FanOrigin& h,
                                                                          double max_slope_x) {
    const Doubles hx = {h.x, h.x, h.x, h.x};
    const Doubles hz = {h.z, h.z, h.z, h.z};
    for (uint32_t i = from; i < end; i += 4) {
        Doubles x, z, dx_size, dz_size;
        load(hits.x + i, x);
        load(hits.z + i, z);
        magnitude(z - hz, dz_size);
        magnitude(x - hx, dx_size);
        const unsigned bits = mask_bits(max_slope_x * dz_size > dx_size, end - i);
        if (bits != 15) return i + static_cast<uint32_t>(std::countr_one(bits));
    }
    return end;
}

}  // namespace corvane
