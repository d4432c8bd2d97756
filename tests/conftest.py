import os

from hypothesis import settings

import corvane


def pytest_report_header(config):
    return f"corvane from {corvane.__file__}"


def pytest_sessionstart(session):
    # Under tools/sanitize.sh, make sure the instrumented build is the one tested.
    expected = os.environ.get("CORVANE_EXPECT_BUILD")
    if expected and not os.path.abspath(corvane.__file__).startswith(os.path.abspath(expected)):
        raise RuntimeError(f"testing {corvane.__file__}, expected a build from {expected}")


# Sanitizer builds and a busy machine make single examples slow; timing is the
# benchmarks' business, not the tests'.
# CI runs the same examples every time (a failure there must be reproducible);
# local runs keep exploring new ones.
settings.register_profile("corvane", deadline=None)
settings.register_profile("ci", deadline=None, derandomize=True, print_blob=True)
settings.load_profile("ci" if os.environ.get("CI") else "corvane")
