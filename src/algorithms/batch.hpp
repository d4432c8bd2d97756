// Solves many independent items on the shared worker pool and returns their
// results in input order, whatever thread ran them and whenever they finished.
#pragma once

#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <vector>

namespace corvane {

// Splits [0, count) into at most one run of consecutive items per worker and
// runs each run on its own worker; returns once every run has finished.
void for_each_run(size_t count, const std::function<void(size_t begin, size_t end)>& run);

// What happens to items not yet started once one has failed.
enum class AfterFailure { solve_the_rest, skip_the_rest };

// results[i] = solve(i). A failure is carried back and rethrown here once all
// started work has stopped; among several, the lowest index decides.
template <class Result, class Solve>
std::vector<Result> solve_in_order(size_t count, Solve&& solve,
                                   AfterFailure after_failure = AfterFailure::solve_the_rest) {
    std::vector<Result> results(count);
    std::vector<std::exception_ptr> failures(count);
    std::atomic<bool> failed{false};
    for_each_run(count, [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) {
            if (after_failure == AfterFailure::skip_the_rest && failed.load(std::memory_order_relaxed)) return;
            try {
                results[i] = solve(i);
            } catch (...) {
                failures[i] = std::current_exception();
                failed.store(true, std::memory_order_relaxed);
            }
        }
    });
    for (const std::exception_ptr& failure : failures) {
        if (failure) std::rethrow_exception(failure);
    }
    return results;
}

}  // namespace corvane
