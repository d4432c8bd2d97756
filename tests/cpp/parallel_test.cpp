// The threaded core without the interpreter: the worker pool, the batch
// driver and the thread-count parser. Built by CMake (CORVANE_CPP_TESTS) and
// run by CTest once per pool size; meant to run under ThreadSanitizer.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "algorithms/track_following/track_following.hpp"
#include "event_model/event.hpp"
#include "expect.hpp"
#include "parallel/batch.hpp"
#include "parallel/thread_count.hpp"
#include "parallel/worker_pool.hpp"

namespace {

using corvane::parse_thread_count;

void thread_count_parser() {
    const std::optional<uint64_t> none;
    const std::vector<std::pair<const char*, std::optional<uint64_t>>> cases = {
        {"0", 0},        {"+7", 7},
        {"0012", 12},    {"18446744073709551615", UINT64_MAX},
        {nullptr, none}, {"", none},
        {"+", none},     {"18446744073709551616", none},
        {"-1", none},    {" 1", none},
        {"1 ", none},    {"1a", none},
        {"++1", none},   {"99999999999999999999", none},
    };
    for (const auto& [text, expected] : cases) {
        expect(parse_thread_count(text) == expected, std::string("parse_thread_count(") + (text ? text : "null") + ")");
    }

    const uint64_t processors = corvane::logical_processor_count();
    expect(processors >= 1, "logical_processor_count() >= 1");
    using Environment = std::map<std::string, std::string>;
    const std::vector<std::pair<Environment, uint64_t>> environments = {
        {{}, processors},
        {{{"RAYON_NUM_THREADS", "3"}}, 3},
        {{{"RAYON_NUM_THREADS", "0"}, {"RAYON_RS_NUM_CPUS", "5"}}, processors},
        {{{"RAYON_NUM_THREADS", "x"}, {"RAYON_RS_NUM_CPUS", "5"}}, 5},
        {{{"RAYON_RS_NUM_CPUS", "0"}}, processors},
        {{{"RAYON_RS_NUM_CPUS", "-2"}}, processors},
    };
    for (const auto& [environment, expected] : environments) {
        const auto lookup = [&environment](const char* name) -> const char* {
            const auto found = environment.find(name);
            return found == environment.end() ? nullptr : found->second.c_str();
        };
        expect(corvane::configured_thread_count(lookup) == expected, "configured_thread_count");
    }
}

// Many jobs, each task writing only its own slot; two callers share the pool.
void worker_pool(size_t size) {
    corvane::WorkerPool pool(size);
    const auto run_jobs = [&pool, size](int jobs, std::atomic<uint64_t>& total) {
        for (int job = 0; job < jobs; ++job) {
            const size_t count = 1 + static_cast<size_t>(job) % size;
            std::vector<uint64_t> slots(count, 0);
            pool.run(count, [&slots, &total](size_t i) {
                slots[i] = i + 1;
                total.fetch_add(i + 1, std::memory_order_relaxed);
            });
            for (size_t i = 0; i < count; ++i) expect(slots[i] == i + 1, "pool task slot");
        }
    };
    std::atomic<uint64_t> first{0}, second{0};
    std::thread other([&] { run_jobs(200, second); });
    run_jobs(200, first);
    other.join();
    expect(first.load() == second.load() && first.load() > 0, "both callers ran all their tasks");
}

// An event of straight tracks through every module: one hit per track per
// module, the tracks fanning out from the origin.
corvane::EventData synthetic_event(uint32_t seed) {
    const size_t tracks = 3 + seed % 5;
    std::vector<corvane::Hit> hits;
    std::vector<uint64_t> prefix{0};
    for (size_t module = 0; module < corvane::kModuleCount; ++module) {
        const double z = 10.0 * static_cast<double>(module);
        for (size_t track = 0; track < tracks; ++track) {
            const double slope = 0.01 * static_cast<double>(track + seed % 3);
            corvane::Hit hit;
            hit.x = slope * z;
            hit.y = -slope * z;
            hit.z = z;
            hits.push_back(hit);
        }
        prefix.push_back(hits.size());
    }
    corvane::ColumnLengths lengths{.x = hits.size(), .y = hits.size(), .z = hits.size()};
    return corvane::build_event("", std::move(prefix), lengths, std::move(hits));
}

std::vector<size_t> hit_counts(const std::vector<corvane::Track>& tracks) {
    std::vector<size_t> counts;
    for (const auto& track : tracks) counts.push_back(track.hits.size());
    return counts;
}

void batch_driver() {
    constexpr size_t kEvents = 40;
    std::vector<corvane::EventData> events;
    for (uint32_t i = 0; i < kEvents; ++i) events.push_back(synthetic_event(i));
    const corvane::TrackFollowingParameters parameters;
    const auto solve = [&](size_t i) {
        return hit_counts(corvane::solve_track_following(parameters, events[i].modules));
    };

    const auto results = corvane::solve_in_order<std::vector<size_t>>(kEvents, solve);
    for (size_t i = 0; i < kEvents; ++i) {
        expect(results[i] == solve(i), "batch result " + std::to_string(i) + " equals the serial one");
        expect(!results[i].empty(), "synthetic event " + std::to_string(i) + " has tracks");
    }

    // Of several failures the lowest index is reported, whichever ran first.
    for (const auto after : {corvane::AfterFailure::solve_the_rest, corvane::AfterFailure::skip_the_rest}) {
        std::atomic<size_t> ran{0};
        std::string reported;
        try {
            corvane::solve_in_order<int>(
                kEvents,
                [&ran](size_t i) {
                    ran.fetch_add(1);
                    if (i == 7 || i == 30) throw std::runtime_error(std::to_string(i));
                    return static_cast<int>(i);
                },
                after);
        } catch (const std::runtime_error& error) {
            reported = error.what();
        }
        expect(reported == "7", "the lowest failing index is reported, got " + reported);
        if (after == corvane::AfterFailure::solve_the_rest) expect(ran.load() == kEvents, "every item ran");
    }

    // A cancel stops handing out items and ends in BatchCancelled.
    constexpr size_t kSlowItems = 100000;
    std::atomic<size_t> started{0};
    bool cancelled = false;
    try {
        corvane::solve_in_order<int>(
            kSlowItems,
            [&started](size_t i) {
                started.fetch_add(1);
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                return static_cast<int>(i);
            },
            corvane::AfterFailure::solve_the_rest, [] { return true; });
    } catch (const corvane::BatchCancelled&) {
        cancelled = true;
    }
    expect(cancelled && started.load() < kSlowItems, "a cancel stops the batch and ends in BatchCancelled");
}

}  // namespace

int main() {
    thread_count_parser();
    for (size_t size = 1; size <= 8; ++size) worker_pool(size);
    batch_driver();
    return finish("pool of " + std::to_string(corvane::WorkerPool::shared().size()) + " worker(s): all checks passed");
}
