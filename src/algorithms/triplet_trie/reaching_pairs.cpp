#include "algorithms/triplet_trie/reaching_pairs.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <limits>
#include <numeric>

#include "algorithms/triplet_trie/closest_hit_index.hpp"
#include "core/finite.hpp"

namespace corvane {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Coordinates up to this size keep every rounding error far below the margin
// and every product finite.
constexpr double kLargestCoordinate = 1e100;

// A middle plane whose factor exceeds this (it lies far closer to the outer
// hit than the reference plane) is not filtered.
constexpr double kLargestFactor = 1e3;

// Cells per axis at most: a tiny reach would ask for more.
constexpr double kMostCells = 1024.0;

// The rounding of the exact scatter and of the filter's own arithmetic, each
// a few dozen units in the last place of magnitudes below (factor + 2) times
// the largest coordinate and the reach: far inside this relative margin. The
// absolute term covers results that underflow.
double rounding_margin(double largest_coordinate, double reach) {
    return 1e-10 * (kLargestFactor + 2.0) * (largest_coordinate + reach) + 1e-150;
}

bool finite_hit(const Hit& hit) { return finite_xyz(hit); }

}  // namespace

void ReachingPairs::Arrays::assign(std::span<const Hit> hits, std::vector<uint32_t>& loose) {
    planes.clear();
    position.clear();
    loose.clear();
    for (uint32_t j = 0; j < hits.size(); ++j) (finite_hit(hits[j]) ? position : loose).push_back(j);
    // Grouped by z (bit for bit), each group in stored order; a sort keeps
    // crafted layers with a z per hit near-linear.
    const auto z_bits = [&hits](uint32_t j) { return std::bit_cast<uint64_t>(hits[j].z); };
    std::stable_sort(position.begin(), position.end(), [&](uint32_t l, uint32_t r) { return z_bits(l) < z_bits(r); });
    // Three spare values: the grid places are computed four at a time.
    x.assign(position.size() + 3, 0.0);
    y.assign(position.size() + 3, 0.0);
    for (uint32_t k = 0; k < position.size(); ++k) {
        const Hit& hit = hits[position[k]];
        if (k == 0 || z_bits(position[k]) != z_bits(position[k - 1])) planes.push_back({hit.z, k, k});
        ++planes.back().end;
        x[k] = hit.x;
        y[k] = hit.y;
    }
}

void ReachingPairs::reset(std::span<const Hit> middle, std::span<const Hit> inner, std::span<const Hit> outer,
                          double max_scatter) {
    middle_count_ = static_cast<uint32_t>(middle.size());
    inner_hits_ = inner;
    factors_used_ = 0;
    active_ = false;
    if (!(std::isfinite(max_scatter) && max_scatter > 0.0) || inner.empty()) return;
    middle_.assign(middle, loose_middle_);
    inner_.assign(inner, ignored_inner_);
    if (inner_.planes.empty()) return;

    // The grid spans the outer and inner hits: the Q points lie between them
    // (points outside fall into the border cells, which keeps the test sound).
    double x_low = std::numeric_limits<double>::infinity(), x_high = -x_low;
    double y_low = x_low, y_high = x_high, largest = 0.0;
    const auto include = [&](const Hit& hit, bool spans) {
        if (!finite_hit(hit)) return;
        largest = std::max({largest, std::fabs(hit.x), std::fabs(hit.y), std::fabs(hit.z)});
        if (!spans) return;
        x_low = std::min(x_low, hit.x);
        x_high = std::max(x_high, hit.x);
        y_low = std::min(y_low, hit.y);
        y_high = std::max(y_high, hit.y);
    };
    for (const Hit& hit : inner) include(hit, true);
    for (const Hit& hit : outer) include(hit, true);
    for (const Hit& hit : middle) include(hit, false);
    if (!(largest <= kLargestCoordinate)) return;

    const double reach = ClosestHitIndex::reach_for(max_scatter);
    const double cell = reach + rounding_margin(largest, reach);
    // Cells no narrower than `cell`: the scale rounds below 1 / cell.
    const double finest = 1.0 / (cell * (1.0 + 1e-6));
    const auto axis = [finest](double low, double high, double& scale, double& last, size_t& count) {
        const double extent = high - low;
        scale = extent * finest < kMostCells - 1.0 ? finest : (kMostCells - 1.0) / extent;
        count = static_cast<size_t>(std::min(kMostCells, std::floor(extent * scale) + 1.0));
        last = static_cast<double>(count - 1);
    };
    origin_[0] = x_low;
    origin_[1] = y_low;
    axis(x_low, x_high, scale_[0], last_[0], nx_);
    axis(y_low, y_high, scale_[1], last_[1], ny_);
    // Two spare bytes per row: a 16-bit read at any cell stays inside.
    row_bytes_ = (nx_ + 2 + 7) / 8 + 2;
    bits_.assign((row_bytes_ * (ny_ + 2) + 31) / 32 * 32, 0);  // whole 32-byte blocks
    const size_t most_points = std::max(middle_.position.size(), inner_.position.size()) + 3;
    byte_of_point_.resize(most_points);
    cell_of_point_.resize(most_points);
    bit_of_point_.resize(most_points);
    active_ = true;
}

const ReachingPairs::Factors& ReachingPairs::factors_for(double z1) {
    const uint64_t bits = std::bit_cast<uint64_t>(z1);
    for (size_t k = 0; k < factors_used_; ++k) {
        if (factors_[k].z_bits == bits) return factors_[k];
    }
    // Outer layers have a few z values; past 64 of them the last slot is
    // recomputed for each new one.
    if (factors_used_ < 64) ++factors_used_;
    if (factors_.size() < factors_used_) factors_.resize(factors_used_);
    Factors& f = factors_[factors_used_ - 1];
    f.z_bits = bits;
    f.middle.assign(middle_.planes.size(), kNaN);
    f.inner.assign(inner_.planes.size(), kNaN);
    // The reference plane: the inner z nearest to z1, so no inner factor
    // exceeds 1 in size.
    double zr = inner_.planes[0].z;
    for (const Plane& plane : inner_.planes) {
        if (std::fabs(plane.z - z1) < std::fabs(zr - z1)) zr = plane.z;
    }
    const double to_reference = zr - z1;
    // With zr = z1 every point would land on h1: nothing to tell apart.
    f.usable = to_reference != 0.0;
    if (!f.usable) return f;
    for (size_t p = 0; p < inner_.planes.size(); ++p) f.inner[p] = to_reference / (inner_.planes[p].z - z1);
    for (size_t q = 0; q < middle_.planes.size(); ++q) {
        const double g = to_reference / (middle_.planes[q].z - z1);
        if (std::fabs(g) <= kLargestFactor) f.middle[q] = g;  // false for inf and NaN
    }
    return f;
}

// Points g * (v - h1) + h1 in cells: a * v + b per axis.
struct CellMap {
    double ax, bx, ay, by;
    CellMap(const Hit& h1, double g, const double origin[2], const double scale[2])
        : ax(g * scale[0]),
          bx((h1.x - g * h1.x - origin[0]) * scale[0]),
          ay(g * scale[1]),
          by((h1.y - g * h1.y - origin[1]) * scale[1]) {}
};

using Doubles = double __attribute__((vector_size(32)));
using Int32s = int32_t __attribute__((vector_size(16)));

// floor(a * v + b) clamped to [0, last], NaN to 0, for four values at once.
// Monotonic in v, so points less than a cell apart land at most one cell
// apart.
inline Int32s cells_of(const Doubles& v, double a, double b, double last) {
    const Doubles zero = {0.0, 0.0, 0.0, 0.0};
    const Doubles top = {last, last, last, last};
    Doubles t = v * Doubles{a, a, a, a} + Doubles{b, b, b, b};
    t = t > zero ? t : zero;
    t = t < top ? t : top;
    return __builtin_convertvector(t, Int32s);
}

// Where the grid keeps the cell (cx, cy) of each point (x[k], y[k]), k < n,
// moved by (dx, dy) cells: the byte (cy + dy) * row_bytes + (cx + dx) / 8,
// the bit (cx + dx) % 8 within it, and the moved cell as one number
// (cy + dy) << 16 | (cx + dx). Four points at a time, with the wide
// instructions where the processor has them.
__attribute__((target_clones("avx2", "default"))) void grid_places(const double* x, const double* y, uint32_t n,
                                                                   const CellMap& m, const double last[2], int32_t dx,
                                                                   int32_t dy, int32_t row_bytes, uint32_t* bytes,
                                                                   uint32_t* bits, uint32_t* cells) {
    const CellMap map = m;  // no reloads after each store
    const double last_x = last[0], last_y = last[1];
    for (uint32_t k = 0; k < n; k += 4) {
        // Reads up to three values past n: the arrays are padded.
        Doubles vx, vy;
        std::memcpy(&vx, x + k, sizeof vx);
        std::memcpy(&vy, y + k, sizeof vy);
        const Int32s column = cells_of(vx, map.ax, map.bx, last_x) + dx;
        const Int32s row = cells_of(vy, map.ay, map.by, last_y) + dy;
        const Int32s byte = row * row_bytes + (column >> 3);
        const Int32s bit = column & 7;
        const Int32s cell = row << 16 | column;
        std::memcpy(bytes + k, &byte, sizeof byte);
        std::memcpy(bits + k, &bit, sizeof bit);
        std::memcpy(cells + k, &cell, sizeof cell);
    }
}

void ReachingPairs::mark(const Hit& h1, const Factors& f) {
    // Locals throughout: byte stores could alias any member.
    uint8_t* const grid = bits_.data();
    const size_t row = row_bytes_;
    marked_.resize(inner_.position.size() + 3);
    uint32_t* const marked = marked_.data();
    inner_cells_.resize(inner_.position.size() + 3);
    uint32_t* const bit = bit_of_point_.data();
    for (size_t p = 0; p < inner_.planes.size(); ++p) {
        const uint32_t begin = inner_.planes[p].begin, count = inner_.planes[p].end - begin;
        // Rows cy to cy + 2 hold the cell and its neighbours above and below,
        // at bit cx + 1.
        grid_places(inner_.x.data() + begin, inner_.y.data() + begin, count, CellMap(h1, f.inner[p], origin_, scale_),
                    last_, 1, 0, static_cast<int32_t>(row), marked + begin, bit, inner_cells_.data() + begin);
        for (uint32_t k = 0; k < count; ++k) {
            const uint32_t byte = marked[begin + k];
            const uint8_t flag = static_cast<uint8_t>(1u << bit[k]);
            grid[byte] |= flag;
            grid[byte + row] |= flag;
            grid[byte + 2 * row] |= flag;
        }
    }
    marked_.resize(inner_.position.size());
    inner_cells_.resize(inner_.position.size());
}

void ReachingPairs::test(const Hit& h1, const Factors& f, std::vector<Candidate>& found) {
    const uint8_t* const grid = bits_.data();
    const uint32_t* const position = middle_.position.data();
    uint32_t* const byte = byte_of_point_.data();
    uint32_t* const bit = bit_of_point_.data();
    uint32_t* const cell = cell_of_point_.data();
    for (size_t q = 0; q < middle_.planes.size(); ++q) {
        const uint32_t begin = middle_.planes[q].begin, count = middle_.planes[q].end - begin;
        if (std::isnan(f.middle[q])) {
            for (uint32_t k = begin; k < begin + count; ++k) found.push_back({position[k], kAnyCell});
            continue;
        }
        // Bits cx to cx + 2 of row cy + 1: the cell and its neighbours.
        grid_places(middle_.x.data() + begin, middle_.y.data() + begin, count,
                    CellMap(h1, f.middle[q], origin_, scale_), last_, 0, 1, static_cast<int32_t>(row_bytes_), byte, bit,
                    cell);
        for (uint32_t k = 0; k < count; ++k) {
            const unsigned word = grid[byte[k]] | (unsigned{grid[byte[k] + 1]} << 8);
            if ((word >> bit[k]) & 7u) found.push_back({position[begin + k], cell[k]});
        }
    }
}

// Zeroes n bytes, a multiple of 32, 32 at a time.
__attribute__((target_clones("avx2", "default"), optimize("no-tree-loop-distribute-patterns"))) void zero_wide(
    uint8_t* bytes, size_t n) {
    using Bytes = uint8_t __attribute__((vector_size(32)));
    const Bytes zero = {};
    for (size_t k = 0; k < n; k += 32) std::memcpy(bytes + k, &zero, sizeof zero);
}

void ReachingPairs::clear_marks() {
    // A small grid is cleared faster whole (one store per 32 bytes) than
    // mark by mark (three stores each).
    if (bits_.size() <= 64 * marked_.size()) {
        zero_wide(bits_.data(), bits_.size());
        return;
    }
    uint8_t* const bits = bits_.data();
    const size_t row = row_bytes_;
    for (uint32_t byte : marked_) {
        bits[byte] = 0;
        bits[byte + row] = 0;
        bits[byte + 2 * row] = 0;
    }
}

size_t ReachingPairs::footprint() const {
    const auto bytes = [](const auto& v) { return v.capacity() * sizeof(v[0]); };
    size_t total = bytes(bits_) + bytes(marked_) + bytes(byte_of_point_) + bytes(bit_of_point_) +
                   bytes(cell_of_point_) + bytes(inner_cells_) + bytes(loose_middle_) + bytes(ignored_inner_);
    for (const Arrays* arrays : {&middle_, &inner_}) {
        total += bytes(arrays->planes) + bytes(arrays->x) + bytes(arrays->y) + bytes(arrays->position);
    }
    for (const Factors& f : factors_) total += bytes(f.middle) + bytes(f.inner);
    return total;
}

void ReachingPairs::candidates(const Hit& h1, std::vector<Candidate>& found) {
    found.clear();
    const Factors* f = active_ && finite_hit(h1) ? &factors_for(h1.z) : nullptr;
    if (f == nullptr || !f->usable) {
        for (uint32_t j = 0; j < middle_count_; ++j) found.push_back({j, kAnyCell});
        return;
    }
    mark(h1, *f);
    test(h1, *f, found);
    clear_marks();
    for (uint32_t j : loose_middle_) found.push_back({j, kAnyCell});
    std::sort(found.begin(), found.end(),
              [](const Candidate& l, const Candidate& r) { return l.position < r.position; });
}

namespace {

// Calls next(k) for every k < n with cells[k] in the 3 x 3 block of the
// point at `cell`: an inner cell (row, column + 1) against a middle cell
// (row + 1, column), both as kept by grid_places.
template <class Next>
void for_each_near(const uint32_t* cells, uint32_t n, uint32_t cell, Next&& next) {
    const uint32_t column = cell & 0xFFFF, row = cell >> 16;
    for (uint32_t k = 0; k < n; ++k) {
        const uint32_t c = cells[k];
        if ((c & 0xFFFF) - column <= 2 && row - (c >> 16) <= 2) next(k);
    }
}

#if defined(__x86_64__)
// The same, eight cells at a time.
template <class Next>
__attribute__((target("avx2"))) void for_each_near_wide(const uint32_t* cells, uint32_t n, uint32_t cell, Next&& next) {
    const __m256i column = _mm256_set1_epi32(static_cast<int>(cell & 0xFFFF));
    const __m256i row = _mm256_set1_epi32(static_cast<int>(cell >> 16));
    const __m256i low16 = _mm256_set1_epi32(0xFFFF), two = _mm256_set1_epi32(2);
    uint32_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cells + k));
        const __m256i dc = _mm256_sub_epi32(_mm256_and_si256(c, low16), column);
        const __m256i dr = _mm256_sub_epi32(row, _mm256_srli_epi32(c, 16));
        // Unsigned d <= 2 as min(d, 2) == d.
        const __m256i near = _mm256_and_si256(_mm256_cmpeq_epi32(_mm256_min_epu32(dc, two), dc),
                                              _mm256_cmpeq_epi32(_mm256_min_epu32(dr, two), dr));
        for (unsigned mask = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(near))); mask != 0;
             mask &= mask - 1) {
            next(k + static_cast<uint32_t>(__builtin_ctz(mask)));
        }
    }
    for_each_near(cells + k, n - k, cell, [&](uint32_t i) { next(k + i); });
}
#endif

}  // namespace

Closest ReachingPairs::closest_near(const LineThrough& line, uint32_t cell, double bound) const {
    Closest best{Closest::none, bound};
    const auto consider = [&](uint32_t k) {
        // Stored order breaks ties, as in ClosestHitIndex::closest.
        const uint32_t position = inner_.position[k];
        const double s = scatter(line, inner_hits_[position]);
        if (s < best.scatter || (best.found() && s == best.scatter && position < best.position)) best = {position, s};
    };
    const uint32_t n = static_cast<uint32_t>(inner_cells_.size());
#if defined(__x86_64__)
    static const bool wide = __builtin_cpu_supports("avx2");
    if (wide) {
        for_each_near_wide(inner_cells_.data(), n, cell, consider);
        return best;
    }
#endif
    for_each_near(inner_cells_.data(), n, cell, consider);
    return best;
}

}  // namespace corvane
