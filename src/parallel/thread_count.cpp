#include "parallel/thread_count.hpp"

#include <sched.h>

#include <cerrno>
#include <limits>
#include <memory>
#include <thread>

namespace corvane {

std::optional<uint64_t> parse_thread_count(const char* text) {
    if (text == nullptr) return std::nullopt;
    if (*text == '+') ++text;
    if (*text == '\0') return std::nullopt;
    uint64_t value = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') return std::nullopt;
        const uint64_t digit = static_cast<uint64_t>(*text - '0');
        if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

uint64_t logical_processor_count() {
    // The mask may be larger than the default cpu_set_t on big machines.
    for (int cpus = CPU_SETSIZE; cpus <= (1 << 20); cpus *= 2) {
        const size_t size = CPU_ALLOC_SIZE(cpus);
        std::unique_ptr<cpu_set_t, void (*)(cpu_set_t*)> set(CPU_ALLOC(cpus), [](cpu_set_t* s) { CPU_FREE(s); });
        if (!set) break;
        CPU_ZERO_S(size, set.get());
        if (sched_getaffinity(0, size, set.get()) == 0) {
            const int count = CPU_COUNT_S(size, set.get());
            if (count > 0) return static_cast<uint64_t>(count);
            break;
        }
        if (errno != EINVAL) break;
    }
    const unsigned machine = std::thread::hardware_concurrency();
    return machine > 0 ? machine : 1;
}

uint64_t configured_thread_count(const std::function<const char*(const char*)>& lookup) {
    if (const auto threads = parse_thread_count(lookup("RAYON_NUM_THREADS"))) {
        return *threads > 0 ? *threads : logical_processor_count();
    }
    if (const auto cpus = parse_thread_count(lookup("RAYON_RS_NUM_CPUS")); cpus && *cpus > 0) return *cpus;
    return logical_processor_count();
}

}  // namespace corvane
