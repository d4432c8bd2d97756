// The checks of the C++ tests: a failed one is reported on standard error and
// counted, and the run goes on; the exit status says whether any failed.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

inline int failures = 0;

inline void expect(bool condition, const std::string& what) {
    if (condition) return;
    ++failures;
    std::fprintf(stderr, "FAILED: %s\n", what.c_str());
}

// The exit status of main: prints `passed` when every check held.
inline int finish(const std::string& passed) {
    if (failures != 0) {
        std::fprintf(stderr, "%d check(s) failed\n", failures);
        return EXIT_FAILURE;
    }
    std::printf("%s\n", passed.c_str());
    return EXIT_SUCCESS;
}
