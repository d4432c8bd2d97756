// Solves many independent items on the shared worker pool and returns their
// results in input order, whatever thread ran them and whenever they finished.
#pragma once

#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <vector>

namespace corvane {

// Asked on the calling thread every few tens of milliseconds while the
// workers run; `true` stops handing out items.
using CancelCheck = std::function<bool()>;

// Thrown once a CancelCheck asked to stop and every started item has finished.
struct BatchCancelled {};

// Hands the indices 0 .. count-1 out one at a time, in order, to the pool's
// workers, so that a large item never holds back a run of others behind it.
// Stops handing out once `stop` is set (by an item or by `cancel`). Returns
// when every started item has finished.
void for_each_index(size_t count, const std::function<void(size_t)>& item, std::atomic<bool>& stop,
                    const CancelCheck& cancel = {});

// What happens to items not yet started once one has failed.
enum class AfterFailure { solve_the_rest, skip_the_rest };

// results[i] = solve(i). A failure is carried back and rethrown here once all
// started work has stopped; among several, the lowest index decides. After a
// cancel, throws BatchCancelled instead.
template <class Result, class Solve>
std::vector<Result> solve_in_order(size_t count, Solve&& solve,
                                   AfterFailure after_failure = AfterFailure::solve_the_rest,
                                   const CancelCheck& cancel = {}) {
    std::vector<Result> results(count);
    std::vector<std::exception_ptr> failures(count);
    std::atomic<bool> stop{false};
    std::atomic<bool> cancelled{false};
    const CancelCheck check = [&]() -> bool {
        if (!cancel || !cancel()) return false;
        cancelled.store(true);
        return true;
    };
    for_each_index(
        count,
        [&](size_t i) {
            try {
                results[i] = solve(i);
            } catch (...) {
                failures[i] = std::current_exception();
                if (after_failure == AfterFailure::skip_the_rest) stop.store(true);
            }
        },
        stop, check);
    if (cancelled.load()) throw BatchCancelled{};
    for (const std::exception_ptr& failure : failures) {
        if (failure) std::rethrow_exception(failure);
    }
    return results;
}

}  // namespace corvane
