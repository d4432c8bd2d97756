#!/usr/bin/env bash
# Builds the extension with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan/ and runs the whole test suite against it. Extra arguments
# go to pytest.
set -euo pipefail
source "$(dirname "$0")/sanitizer_build.sh"
build="$root/build-asan"
sanitizer_build "$build" all -DCORVANE_SANITIZE=ON

# The interpreter itself is not instrumented: preload the runtimes, and leave
# leak checking to the interpreter's own tests (CPython frees little at exit).
export LD_PRELOAD="$("$cxx" -print-file-name=libasan.so) $("$cxx" -print-file-name=libubsan.so)"
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export CORVANE_EXPECT_BUILD="$build"
cd "$root"
PYTHONPATH="$build:$root/python${PYTHONPATH:+:$PYTHONPATH}" "$python" -m pytest -p no:cacheprovider "$@"
