// The z planes of each module, for taking one reciprocal per plane.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <span>
#include <vector>

#include "event_model/hit.hpp"
#include "event_model/module.hpp"

namespace corvane {

// Each module's z values told apart by bit pattern, up to kMaxPlanes of
// them, so that the reciprocal of a z difference is taken once per plane and
// not once per hit (the same bits give the same reciprocal).
class ZPlanes {
public:
    static constexpr size_t kMaxPlanes = 8;
    static constexpr uint8_t kNone = 0xff;

    void find(std::span<const Hit> hits, std::span<const Module> modules) {
        plane_.assign(hits.size(), kNone);
        z_.assign(modules.size(), {});
        count_.assign(modules.size(), 0);
        for (size_t m = 0; m < modules.size(); ++m) {
            auto& zs = z_[m];
            uint8_t& count = count_[m];
            for (size_t i = modules[m].hit_start_index; i < modules[m].hit_end_index; ++i) {
                const auto bits = std::bit_cast<uint64_t>(hits[i].z);
                uint8_t q = 0;
                while (q < count && std::bit_cast<uint64_t>(zs[q]) != bits) ++q;
                if (q == count) {
                    if (count == kMaxPlanes) continue;  // crafted: this hit divides for itself
                    zs[count++] = hits[i].z;
                }
                plane_[i] = q;
            }
        }
    }

    // 1 / (z - from_z) for each plane z of `module`, into `reciprocals`.
    void reciprocals(size_t module, double from_z, std::array<double, kMaxPlanes>& reciprocals) const {
        for (uint8_t q = 0; q < count_[module]; ++q) reciprocals[q] = 1 / (z_[module][q] - from_z);
    }
    uint8_t plane(size_t position) const { return plane_[position]; }

    size_t capacity_bytes() const { return plane_.capacity() + z_.capacity() * sizeof(z_[0]) + count_.capacity(); }

private:
    std::vector<uint8_t> plane_;  // position -> plane of its module, or kNone
    std::vector<std::array<double, kMaxPlanes>> z_;
    std::vector<uint8_t> count_;
};

}  // namespace corvane
