// A fixed set of worker threads that run one job at a time: task i of a job
// runs on worker i, and the caller waits until every task has finished.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace corvane {

class WorkerPool {
public:
    // How often a waiting caller gets its `tick`.
    static constexpr std::chrono::milliseconds kTickInterval{20};

    // Sized once, from the environment, on first use; lives until the process
    // ends (a forked child gets a pool of its own).
    static WorkerPool& shared();

    // The size the shared pool gets when first used, from the environment as
    // it is now (at most kMostWorkers).
    static size_t configured_size();

    // More threads than this only cost memory: a batch splits into at most
    // this many runs whatever the environment asks for.
    static constexpr uint64_t kMostWorkers = 256;

    explicit WorkerPool(size_t size) : size_(size) {}
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    ~WorkerPool();

    size_t size() const { return size_; }

    // Runs task(0) ... task(count - 1), each on its own worker, count <= size().
    // `task` must not throw. Workers are started when first needed; one that
    // cannot be started raises RuntimeError before any task runs.
    //
    // While it waits (for an earlier job, then for this one), the caller runs
    // `tick` about every kTickInterval, holding none of the pool's locks;
    // `tick` must not throw. A job started from inside a tick of the same
    // thread runs its tasks one after the other on that thread.
    void run(size_t count, const std::function<void(size_t)>& task, const std::function<void()>& tick = {});

private:
    void start_workers(size_t count);
    void work(size_t worker, uint64_t seen_generation);
    void take_job_slot(const std::function<void()>& tick);
    bool is_waiting_caller();

    const size_t size_;
    std::timed_mutex job_mutex_;  // one job at a time
    std::thread::id job_owner_;   // the caller of the running job; guarded by mutex_
    std::mutex mutex_;            // guards everything below
    std::condition_variable wake_;
    std::condition_variable done_;
    std::vector<std::thread> threads_;
    const std::function<void(size_t)>* task_ = nullptr;
    size_t task_count_ = 0;
    size_t unfinished_ = 0;
    uint64_t generation_ = 0;
    bool stopping_ = false;
};

}  // namespace corvane
