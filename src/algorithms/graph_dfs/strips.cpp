#include "algorithms/graph_dfs/strips.hpp"

#include <algorithm>
#include <cmath>

#include "core/finite.hpp"

namespace corvane {
namespace {

bool indexed(const Hit& hit) { return finite_xy(hit); }

}  // namespace

StripIndex::Axis::Axis(double low_, double high, double min_size) : low(low_) {
    const double size = std::max(min_size, (high - low) / kCells);
    if (std::isfinite(size) && size > 0) {
        per_cell = 1 / size;
        cells = static_cast<uint32_t>(std::min(std::floor((high - low) * per_cell) + 1, double{kCells}));
        last = static_cast<double>(cells - 1);
    }
}

StripIndex::StripIndex(std::span<const Hit> hits, std::span<const Module> modules, double cell_width,
                       double strip_height) {
    modules_.reserve(modules.size());
    offsets_.reserve(kCells * modules.size() + 1);
    offsets_.push_back(0);
    xs_.reserve(hits.size());
    ys_.reserve(hits.size());
    positions_.reserve(hits.size());
    for (const Module& module : modules) add_module(hits, module, cell_width, strip_height);
}

void StripIndex::add_module(std::span<const Hit> hits, const Module& module, double cell_width, double strip_height) {
    ModuleCells m;
    m.first_strip = static_cast<uint32_t>(occupied_.size());
    const auto begin = hits.begin() + static_cast<ptrdiff_t>(module.hit_start_index);
    const auto end = hits.begin() + static_cast<ptrdiff_t>(module.hit_end_index);
    double x_min = INFINITY, x_max = -INFINITY, y_min = INFINITY, y_max = -INFINITY;
    size_t count = 0;
    for (auto h = begin; h != end; ++h) {
        if (!indexed(*h)) continue;
        ++count;
        x_min = std::min(x_min, h->x);
        x_max = std::max(x_max, h->x);
        y_min = std::min(y_min, h->y);
        y_max = std::max(y_max, h->y);
    }
    if (count == 0) {
        modules_.push_back(m);
        return;
    }
    m.empty = false;
    m.x = Axis(x_min, x_max, cell_width);
    m.y = Axis(y_min, y_max, strip_height);
    // Counting sort by strip; positions ascend, and with them x, in each strip.
    std::vector<uint32_t> fill(m.y.cells + 1, 0);
    occupied_.resize(occupied_.size() + m.y.cells, 0);
    for (auto h = begin; h != end; ++h) {
        if (!indexed(*h)) continue;
        const uint32_t s = m.y.cell(h->y);
        ++fill[s + 1];
        occupied_[m.first_strip + s] |= uint64_t{1} << m.x.cell(h->x);
    }
    for (uint32_t s = 0; s < m.y.cells; ++s) fill[s + 1] += fill[s];
    const auto base = static_cast<uint32_t>(xs_.size());
    for (uint32_t s = 1; s <= m.y.cells; ++s) offsets_.push_back(base + fill[s]);
    xs_.resize(base + count);
    ys_.resize(base + count);
    positions_.resize(base + count);
    for (auto h = begin; h != end; ++h) {
        if (!indexed(*h)) continue;
        const uint32_t i = base + fill[m.y.cell(h->y)]++;
        xs_[i] = h->x;
        ys_[i] = h->y;
        positions_[i] = static_cast<uint32_t>(h - hits.begin());
    }
    modules_.push_back(m);
}

uint32_t StripIndex::first_at_least(uint32_t begin, uint32_t end, double x) const {
    return static_cast<uint32_t>(std::lower_bound(xs_.begin() + begin, xs_.begin() + end, x) - xs_.begin());
}

}  // namespace corvane
