"""The main job's stages side by side, in events per second, one command:

    PYTHONPATH=build-dev:python python3 bench/bench_job.py [--events 50] [--repeat 3]

On the default generated sample: generation, reading the events back from
JSON files and from one Parquet file (both checked), building the `Event`
objects, and reconstruction with every available algorithm (solve_batch on
the pool, and solve on one thread). Each figure is the best of `--repeat`
runs; ratios are against single-threaded TrackFollowing.
"""
import argparse
import os
import sys
import tempfile
import time
from pathlib import Path

import corvane

from corvane_tools.algorithms import ALGORITHMS, available, construct, pool_size
from corvane_tools.event_files import load_events, write_events
from corvane_tools.generator import generate_events
from corvane_tools.job import hit_count

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from timing import best_time as thread_best_time  # noqa: E402


def best_time(call, repeats):
    # solve_batch works on other threads: the wall clock.
    return thread_best_time(call, repeats, time.perf_counter)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--events", type=int, default=50)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--repeat", type=int, default=3)
    options = parser.parse_args()
    count = options.events
    events = generate_events(count, options.seed)
    hits = sum(hit_count(e) for e in events)
    print(f"{count} events, {hits / count:,.0f} hits per event, pool of {pool_size()} threads")

    timings: dict[str, float] = {}
    timings["generate"] = best_time(lambda: generate_events(count, options.seed), options.repeat)
    with tempfile.TemporaryDirectory() as scratch:
        write_events(events, Path(scratch) / "json")
        write_events(events, Path(scratch) / "sample.parquet")
        timings["read JSON files"] = best_time(lambda: load_events([Path(scratch) / "json"], strict=True),
                                               options.repeat)
        timings["read Parquet"] = best_time(lambda: load_events([Path(scratch) / "sample.parquet"], strict=True),
                                            options.repeat)
    built = [corvane.DetectorEvent.Event(e) for e in events]
    timings["build Event objects"] = best_time(lambda: [corvane.DetectorEvent.Event(e) for e in events],
                                               options.repeat)
    for name in available():
        solver = construct(name)
        timings[f"{ALGORITHMS[name]} solve_batch"] = best_time(lambda: solver.solve_batch(built), options.repeat)
        timings[f"{ALGORITHMS[name]} solve, 1 thread"] = best_time(lambda: [solver.solve(e) for e in built],
                                                                   options.repeat)

    reference = timings.get("TrackFollowing solve, 1 thread")
    print(f"{'stage':36} {'events/s':>10} {'ms/event':>9} {'vs TF 1 thread':>15}")
    for stage, seconds in timings.items():
        ratio = f"{reference / seconds:14.2f}x" if reference else ""
        print(f"{stage:36} {count / seconds:10.1f} {1000 * seconds / count:9.2f} {ratio}")
    print("(vs TF: above 1 means faster than solving the events with TrackFollowing on one thread)")


if __name__ == "__main__":
    main()
