"""How long solve_batch waits for the interpreter lock beside a thread running Python, one command:

    PYTHONPATH=build-dev:python python3 bench/bench_handoff.py [--rounds 10]

solve_batch gives the lock up while it solves and takes it back to hand over
the tracks; a thread running Python code meanwhile (the job's reader, or its
measuring and folding) keeps it until the switch interval is up. Per round
and switch interval (the interpreter's default, and the one the job runs
with): a few batches of generated events alone, then beside a thread that
only runs Python; the median over rounds of beside / alone. On 2 cores the
busy thread also takes processor time from the worker pool, so even a
perfect handoff stays above 1.
"""
import argparse
import statistics
import sys
import threading
import time

import corvane
from corvane_tools.algorithms import construct
from corvane_tools.generator import generate_events
from corvane_tools.job_pipeline import HANDOFF_SECONDS

DEFAULT_SWITCH = 0.005  # seconds, the interpreter's own


def busy(stop: threading.Event) -> None:
    total = 0
    while not stop.is_set():
        for i in range(1000):
            total += i


def batches_seconds(solver, batches) -> float:
    began = time.perf_counter()
    for batch in batches:
        solver.solve_batch(batch)
    return time.perf_counter() - began


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rounds", type=int, default=10)
    parser.add_argument("--batches", type=int, default=6, help="batches of 8 generated events")
    options = parser.parse_args()
    events = [corvane.DetectorEvent.Event(event) for event in generate_events(8 * options.batches, 5)]
    batches = [events[i:i + 8] for i in range(0, len(events), 8)]
    solver = construct("track_following")
    ratios: dict[float, list[float]] = {DEFAULT_SWITCH: [], HANDOFF_SECONDS: []}
    for _ in range(options.rounds):
        for interval, found in ratios.items():
            alone = batches_seconds(solver, batches)
            sys.setswitchinterval(interval)
            stop = threading.Event()
            thread = threading.Thread(target=busy, args=(stop,))
            thread.start()
            try:
                beside = batches_seconds(solver, batches)
            finally:
                stop.set()
                thread.join()
                sys.setswitchinterval(DEFAULT_SWITCH)
            found.append(beside / alone)
    for interval, found in ratios.items():
        print(f"switch interval {1000 * interval:.1f} ms: solve_batch beside a Python thread takes "
              f"{statistics.median(found):.2f}x its time alone (median of {options.rounds} rounds; "
              f"{min(found):.2f}-{max(found):.2f})")


if __name__ == "__main__":
    main()
