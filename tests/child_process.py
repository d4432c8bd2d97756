"""Tests that need a fresh interpreter: `run_child` runs a script body there
after a preamble that builds a TrackFollowing solver, five events and their
expected tracks (`batch_ok()` solves them as a batch and compares)."""
import json
import os
import subprocess
import sys
import textwrap

# Under tools/sanitize.sh: timings and address-space limits mean little there.
SANITIZED = bool(os.environ.get("CORVANE_EXPECT_BUILD"))

TESTS = os.path.dirname(os.path.abspath(__file__))
PREAMBLE = f"""
import json, os, sys
sys.path.insert(0, {TESTS!r})
import corvane
from event_builders import Event, sized_event, track_ids
algorithm = corvane.ReconstructionAlgorithms.TrackFollowing()
events = [Event(sized_event(n, seed=s)) for s, n in enumerate([400, 52, 900, 300, 700])]
expected = [track_ids(algorithm.solve(e)) for e in events]
def batch_ok():
    return [track_ids(r) for r in algorithm.solve_batch(events)] == expected
"""


def run_child(body, env_updates=None, timeout=120):
    env = {k: v for k, v in os.environ.items() if k not in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS")}
    env.update(env_updates or {})
    done = subprocess.run([sys.executable, "-c", PREAMBLE + textwrap.dedent(body)], env=env, capture_output=True,
                          text=True, timeout=timeout)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout.strip().splitlines()[-1])
