"""Timing helpers shared by the benchmarks."""
import os
import subprocess
import sys
import time

BENCH = os.path.dirname(os.path.abspath(__file__))
PACKAGE = os.path.join(os.path.dirname(BENCH), "python")


def best_time(call, repeats, clock=time.thread_time):
    """The shortest of `repeats` calls, by default on the calling thread's CPU
    clock, which other work on the shared cores disturbs less than the wall
    clock (pass time.perf_counter for work on other threads)."""
    best = float("inf")
    for _ in range(repeats):
        start = clock()
        call()
        best = min(best, clock() - start)
    return best


def per_event(call, events, repeats):
    """Mean over the events of the best time of call(event)."""
    return sum(best_time(lambda e=e: call(e), repeats) for e in events) / len(events)


def child_environment(build_dir=None, **extra):
    """The environment of a benchmark subprocess: the module from build_dir
    (default: the one this process imported), corvane_tools from this tree."""
    if build_dir is None:
        import corvane
        build_dir = os.path.dirname(os.path.abspath(corvane.__file__))
    path = os.pathsep.join([PACKAGE, build_dir, BENCH])
    return dict(os.environ, PYTHONPATH=path, OPENBLAS_NUM_THREADS="1", **extra)


_CHILD = """
import random, resource, sys, time
import corvane
from corvane_tools.event_layouts import arranged, sized_event
events = [corvane.DetectorEvent.Event(arranged(sized_event(n, seed=s % 10), {layout!r}, s))
          for s, n in enumerate({sizes})]
algorithm = getattr(corvane.ReconstructionAlgorithms, {algorithm!r})()
algorithm.solve_batch(events[:4])
def cpu():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime
best, best_cpu = float("inf"), float("inf")
for _ in range({repeats}):
    start, start_cpu = time.perf_counter(), cpu()
    algorithm.solve_batch(events)
    best = min(best, time.perf_counter() - start)
    best_cpu = min(best_cpu, cpu() - start_cpu)
print(best, best_cpu)
"""


def batch_speedup(algorithm, label, sizes, repeats=3, layout="shuffled"):
    """solve_batch on 1 and 2 worker threads, each in its own process (the pool
    is sized once per process through RAYON_NUM_THREADS), over events whose hit
    counts the Python expression `sizes` gives, in the given layout. Prints the
    best wall times and their ratio, and the process CPU times: on cores that
    other work keeps busy the wall ratio says little, while CPU time that grows
    with the second thread shows the threads holding each other back."""
    child = _CHILD.format(algorithm=algorithm, sizes=sizes, repeats=repeats, layout=layout)
    wall = {"1": float("inf"), "2": float("inf")}
    cpu = {"1": float("inf"), "2": float("inf")}
    # Alternating runs, best of each: the cores are shared with other work.
    for threads in ("1", "2", "1", "2"):
        out = subprocess.run([sys.executable, "-c", child], env=child_environment(RAYON_NUM_THREADS=threads),
                             check=True, capture_output=True, text=True, timeout=1800)
        seconds, cpu_seconds = (float(v) for v in out.stdout.split())
        wall[threads] = min(wall[threads], seconds)
        cpu[threads] = min(cpu[threads], cpu_seconds)
    load = os.getloadavg()[0]
    print(f"solve_batch, {label} ({layout}): wall 1 thread {wall['1']:.3f} s, 2 threads {wall['2']:.3f} s, "
          f"speed-up {wall['1'] / wall['2']:.2f}x (target >= 1.8); process CPU 1 thread {cpu['1']:.3f} s, "
          f"2 threads {cpu['2']:.3f} s ({cpu['2'] / cpu['1']:.2f}x); load average {load:.1f} on "
          f"{os.cpu_count()} cores")
