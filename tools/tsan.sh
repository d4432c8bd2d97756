#!/usr/bin/env bash
# Builds the C++ tests (the threaded core: worker pool, batch driver, thread
# count, run with pool sizes 1 to 8; the shared helpers) with ThreadSanitizer
# into build-tsan/ and runs them. Any reported race fails the run. Extra
# arguments go to ctest.
set -euo pipefail
source "$(dirname "$0")/sanitizer_build.sh"
build="$root/build-tsan"
sanitizer_build "$build" cpp_tests -DCORVANE_TSAN=ON -DCORVANE_CPP_TESTS=ON

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tools/tsan.supp${TSAN_OPTIONS:+ $TSAN_OPTIONS}"
ctest --test-dir "$build" --output-on-failure "$@"
