#!/usr/bin/env bash
# Builds the extension with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan/ and runs the whole test suite against it. Extra arguments
# go to pytest.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-asan"
python="${PYTHON:-python3}"
cxx="${CXX:-g++}"
# cmake and ninja may come from pip: put its script directory first.
PATH="$("$python" -c 'import sysconfig; print(sysconfig.get_path("scripts"))'):$PATH"

# Build for the interpreter that runs the tests, with the compiler whose
# sanitizer runtimes are preloaded below.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_SANITIZE=ON \
  -DPython_EXECUTABLE="$(command -v "$python")" -DCMAKE_CXX_COMPILER="$(command -v "$cxx")" >/dev/null
cmake --build "$build" -j "$(nproc)"

# The interpreter itself is not instrumented: preload the runtimes, and leave
# leak checking to the interpreter's own tests (CPython frees little at exit).
export LD_PRELOAD="$("$cxx" -print-file-name=libasan.so) $("$cxx" -print-file-name=libubsan.so)"
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export CORVANE_EXPECT_BUILD="$build"
cd "$root"
PYTHONPATH="$build:$root/python${PYTHONPATH:+:$PYTHONPATH}" "$python" -m pytest -p no:cacheprovider "$@"
