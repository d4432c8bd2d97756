// Masks of consecutive bits in a 64-bit word, for grids that keep one bit per
// cell of a row.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

// Bits `first` to `last` (both included) set, the others clear; no bit when
// first > last. Both below 64.
constexpr uint64_t bit_range(size_t first, size_t last) {
    return (~uint64_t{0} >> (63 - last)) & (~uint64_t{0} << first);
}

}  // namespace corvane
