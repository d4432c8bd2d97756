#!/usr/bin/env bash
# Builds the C++ tests of the threaded core (worker pool, batch driver,
# thread count) with ThreadSanitizer into build-tsan/ and runs them with pool
# sizes 1 to 8. Any reported race fails the run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-tsan"
python="${PYTHON:-python3}"
cxx="${CXX:-g++}"
PATH="$("$python" -c 'import sysconfig; print(sysconfig.get_path("scripts"))'):$PATH"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_TSAN=ON -DCORVANE_CPP_TESTS=ON \
  -DPython_EXECUTABLE="$(command -v "$python")" -DCMAKE_CXX_COMPILER="$(command -v "$cxx")" >/dev/null
cmake --build "$build" --target parallel_test -j "$(nproc)"

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1${TSAN_OPTIONS:+ $TSAN_OPTIONS}"
ctest --test-dir "$build" --output-on-failure "$@"
