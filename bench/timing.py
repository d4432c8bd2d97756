"""Timing helpers shared by the benchmarks."""
import os
import subprocess
import sys
import time


def best_time(call, repeats):
    """The shortest of `repeats` calls on the calling thread's CPU clock, which
    other work on the shared cores disturbs less than the wall clock."""
    best = float("inf")
    for _ in range(repeats):
        start = time.thread_time()
        call()
        best = min(best, time.thread_time() - start)
    return best


_CHILD = """
import os, random, sys, time
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
sys.path.insert(0, {bench!r})
import corvane
from event_generator import generate_event
events = [corvane.DetectorEvent.Event(generate_event(n, seed=s)) for s, n in enumerate({sizes})]
algorithm = getattr(corvane.ReconstructionAlgorithms, {algorithm!r})()
algorithm.solve_batch(events[:4])
best = float("inf")
for _ in range({repeats}):
    start = time.perf_counter()
    algorithm.solve_batch(events)
    best = min(best, time.perf_counter() - start)
print(best)
"""


def batch_speedup(algorithm, label, sizes, repeats=3):
    """solve_batch on 1 and 2 worker threads, each in its own process (the pool
    is sized once per process through RAYON_NUM_THREADS), over events whose hit
    counts the Python expression `sizes` gives. Prints the best wall times and
    their ratio."""
    child = _CHILD.format(bench=os.path.dirname(os.path.abspath(__file__)), algorithm=algorithm, sizes=sizes,
                          repeats=repeats)
    timings = {"1": float("inf"), "2": float("inf")}
    # Alternating runs, best of each: the cores are shared with other work.
    for threads in ("1", "2", "1", "2"):
        env = dict(os.environ, RAYON_NUM_THREADS=threads)
        out = subprocess.run([sys.executable, "-c", child], env=env, check=True, capture_output=True, text=True)
        timings[threads] = min(timings[threads], float(out.stdout.strip()))
    print(f"solve_batch, {label}: 1 thread {timings['1']:.3f} s, 2 threads {timings['2']:.3f} s, "
          f"speed-up {timings['1'] / timings['2']:.2f}x")
