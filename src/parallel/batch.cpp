#include "parallel/batch.hpp"

#include <algorithm>

#include "parallel/worker_pool.hpp"

namespace corvane {

void for_each_index(size_t count, const std::function<void(size_t)>& item, std::atomic<bool>& stop,
                    const CancelCheck& cancel) {
    if (count == 0) return;
    WorkerPool& pool = WorkerPool::shared();
    std::atomic<size_t> next{0};
    // Each item is taken alone: items vary in cost by orders of magnitude, and
    // one atomic increment is nothing beside solving an event.
    const auto take_items = [&](size_t) {
        while (!stop.load(std::memory_order_relaxed)) {
            const size_t i = next.fetch_add(1, std::memory_order_relaxed);
            if (i >= count) return;
            item(i);
        }
    };
    const auto tick = [&] {
        if (!stop.load() && cancel && cancel()) stop.store(true);
    };
    pool.run(std::min(count, pool.size()), take_items, tick);
}

}  // namespace corvane
