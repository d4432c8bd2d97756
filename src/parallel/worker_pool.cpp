#include "parallel/worker_pool.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <system_error>

#include "core/errors.hpp"
#include "parallel/thread_count.hpp"

namespace corvane {
namespace {

// The C++ runtime allocates a thread's exception bookkeeping (thread-local
// storage of a library loaded at run time) on the thread's first throw. If
// that first throw is an out-of-memory error, the allocation fails too and the
// C library ends the process; one throw at start claims it while memory is there.
void prepare_exception_state() {
    try {
        throw 0;
    } catch (int) {
    }
}

}  // namespace

size_t WorkerPool::configured_size() {
    return static_cast<size_t>(
        std::min(configured_thread_count([](const char* name) { return std::getenv(name); }), kMostWorkers));
}

WorkerPool& WorkerPool::shared() {
    static const size_t size = configured_size();
    static std::mutex creation;
    static WorkerPool* pool = nullptr;
    static pid_t owner = 0;
    std::lock_guard<std::mutex> lock(creation);
    // Threads do not survive fork(): a child leaves the parent's pool alone
    // (its locks may be held by threads that no longer exist) and makes its own.
    if (pool == nullptr || owner != getpid()) {
        pool = new WorkerPool(size);  // never destroyed: workers may be waiting at exit
        owner = getpid();
    }
    return *pool;
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::start_workers(size_t count) {
    while (threads_.size() < count) {
        const size_t worker = threads_.size();
        try {
            threads_.emplace_back([this, worker, seen = generation_] { work(worker, seen); });
        } catch (const std::system_error& e) {
            throw RuntimeError(std::string("could not start a worker thread: ") + e.what());
        }
    }
}

void WorkerPool::take_job_slot(const std::function<void()>& tick) {
    if (!tick) {
        job_mutex_.lock();
        return;
    }
    while (!job_mutex_.try_lock_for(kTickInterval)) tick();
}

bool WorkerPool::is_waiting_caller() {
    std::lock_guard<std::mutex> lock(mutex_);
    return task_ != nullptr && job_owner_ == std::this_thread::get_id();
}

void WorkerPool::run(size_t count, const std::function<void(size_t)>& task, const std::function<void()>& tick) {
    if (count == 0) return;
    if (is_waiting_caller()) {
        for (size_t i = 0; i < count; ++i) task(i);
        return;
    }
    take_job_slot(tick);
    std::lock_guard<std::timed_mutex> job(job_mutex_, std::adopt_lock);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        start_workers(count);
        task_ = &task;
        task_count_ = count;
        unfinished_ = count;
        job_owner_ = std::this_thread::get_id();
        ++generation_;
    }
    wake_.notify_all();
    std::unique_lock<std::mutex> lock(mutex_);
    while (!done_.wait_for(lock, kTickInterval, [this] { return unfinished_ == 0; })) {
        if (!tick) continue;
        lock.unlock();
        tick();
        lock.lock();
    }
    task_ = nullptr;
    job_owner_ = {};
}

void WorkerPool::work(size_t worker, uint64_t seen_generation) {
    prepare_exception_state();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || generation_ != seen_generation; });
        if (stopping_) return;
        seen_generation = generation_;
        if (worker >= task_count_) continue;
        const std::function<void(size_t)>& task = *task_;
        lock.unlock();
        task(worker);
        lock.lock();
        if (--unfinished_ == 0) done_.notify_one();
    }
}

}  // namespace corvane
