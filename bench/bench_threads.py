"""How the solvers share the interpreter with other threads, one command:

    PYTHONPATH=build-dev python3 bench/bench_threads.py   (or with corvane installed)

1. two Python threads, each calling solve on its own events, against one
   thread doing both shares: speed-up (2 cores: at most 2x);
2. how often another Python thread runs (1 ms sleeps) while a batch runs;
3. Ctrl-C latency: time from SIGINT to KeyboardInterrupt during a long
   solve_batch (in a subprocess with 2 workers).
"""
import os
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
# The probe is the tests' own; the benchmark measures with the same one.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
import corvane  # noqa: E402
from corvane_tools.event_layouts import sized_event  # noqa: E402
from thread_probe import ticks_during  # noqa: E402
from timing import child_environment  # noqa: E402

Event = corvane.DetectorEvent.Event
TrackFollowing = corvane.ReconstructionAlgorithms.TrackFollowing


def run_threads(shares, algorithm):
    def solve_all(events):
        for event in events:
            algorithm.solve(event)

    threads = [threading.Thread(target=solve_all, args=(share,)) for share in shares]
    start = time.perf_counter()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return time.perf_counter() - start


def two_thread_solve(algorithm):
    shares = [[Event(sized_event(5000, seed=10 * k + s)) for s in range(10)] * 4 for k in range(2)]
    one, two = float("inf"), float("inf")
    for _ in range(5):  # alternating, best of each: the cores are shared
        one = min(one, run_threads([shares[0] + shares[1]], algorithm))
        two = min(two, run_threads(shares, algorithm))
    print(f"solve, 80 events of ~5000 hits: one thread {one:.3f} s, two threads {two:.3f} s, "
          f"speed-up {one / two:.2f}x")


def other_thread_during_batch(algorithm):
    events = [Event(sized_event(20000, seed=s)) for s in range(8)]
    start = time.perf_counter()
    ticks = ticks_during(lambda: algorithm.solve_batch(events))
    elapsed = time.perf_counter() - start
    print(f"solve_batch of 8 events of ~20000 hits took {elapsed:.3f} s; another thread ran {ticks} times "
          f"(sleeping 1 ms each; at most about {elapsed / 0.00106:.0f})")


INTERRUPT_CHILD = """
import json, signal, sys, time
sys.path.insert(0, {bench!r})
import corvane
from corvane_tools.event_layouts import sized_event
algorithm = corvane.ReconstructionAlgorithms.TrackFollowing()
event = corvane.DetectorEvent.Event(sized_event({hits}, seed=7))
signal.signal(signal.SIGALRM, signal.default_int_handler)
latencies = []
for delay in (0.3, 0.45, 0.6, 0.75, 0.9):
    start = time.perf_counter()
    signal.setitimer(signal.ITIMER_REAL, delay)
    try:
        algorithm.solve_batch([event] * 100000)
    except KeyboardInterrupt:
        latencies.append(time.perf_counter() - start - delay)
print(json.dumps(latencies))
"""


def interrupt_latency():
    for hits in (5000, 20000):
        child = INTERRUPT_CHILD.format(bench=os.path.dirname(os.path.abspath(__file__)), hits=hits)
        out = subprocess.run([sys.executable, "-c", child], env=child_environment(RAYON_NUM_THREADS="2"), check=True,
                             capture_output=True, text=True, timeout=600)
        latencies = sorted(float(v) for v in out.stdout.strip()[1:-1].split(","))
        print(f"Ctrl-C during solve_batch of ~{hits}-hit events: latency median {latencies[2] * 1e3:.0f} ms, "
              f"worst {latencies[-1] * 1e3:.0f} ms")


def main():
    algorithm = TrackFollowing()
    two_thread_solve(algorithm)
    other_thread_during_batch(algorithm)
    interrupt_latency()


if __name__ == "__main__":
    main()
