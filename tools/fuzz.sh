#!/usr/bin/env bash
# The long hostile-input campaign against the AddressSanitizer /
# UndefinedBehaviorSanitizer build (see sanitize.sh): every entry point,
# CORVANE_FUZZ_EXAMPLES examples per test (default 12000, about 10^6 calls
# in all). Prints the number of calls made. Extra arguments go to pytest.
# CORVANE_FUZZ_BUILD=plain runs against build-dev/ instead (faster, no
# memory checks).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
report="$(mktemp)"
trap 'rm -f "$report"' EXIT
export CORVANE_FUZZ_EXAMPLES="${CORVANE_FUZZ_EXAMPLES:-12000}" CORVANE_FUZZ_REPORT="$report"
export PYTHONPATH="$root/python${PYTHONPATH:+:$PYTHONPATH}"  # corvane_tools, also when not installed
tests=("$root/tests/test_fuzz_hostile.py" -p no:warnings -q "$@")
if [[ "${CORVANE_FUZZ_BUILD:-}" == plain ]]; then
  PYTHONPATH="$root/build-dev:$PYTHONPATH" python3 -m pytest -p no:cacheprovider "${tests[@]}"
else
  bash "$root/tools/sanitize.sh" "${tests[@]}"
fi
echo "calls made: $(awk '{ total += $1 } END { print total }' "$report")"
