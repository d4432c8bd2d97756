#include "algorithms/batch.hpp"

#include <algorithm>

#include "algorithms/worker_pool.hpp"

namespace corvane {

void for_each_run(size_t count, const std::function<void(size_t begin, size_t end)>& run) {
    if (count == 0) return;
    WorkerPool& pool = WorkerPool::shared();
    const size_t runs = std::min(count, pool.size());
    // Run r covers [r*count/runs, (r+1)*count/runs): sizes differ by at most one.
    pool.run(runs, [&](size_t r) { run(r * count / runs, (r + 1) * count / runs); });
}

}  // namespace corvane
