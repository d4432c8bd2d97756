"""The main job here and on a Dask cluster, one command:

    PYTHONPATH=build-dev:python python3 bench/bench_dask.py [--events 640] [--repeats 3]

On the same Parquet file (row groups of 160 events, one task each), events/s
of the whole job (read, solve with TrackFollowing, measure for validation,
fold) for:

1. this process with the worker pool at 1 and at 2 threads (each in a
   subprocess, as the pool size is read once per process);
2. a local cluster of 1 and of 2 worker processes (one solver thread each);
3. the cost of one task: the round trip of an empty task, and what the
   1-worker cluster takes per unit more than the 1-thread process.

Prints the best of several rounds (the set-ups take turns in each round)
and the ratios from this one run. The target is 2 worker processes at 1.7
times 1 worker process or better.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "python"))

from corvane_tools.cluster import cluster_client, run_locally, run_on_cluster  # noqa: E402
from corvane_tools.event_files import write_events  # noqa: E402
from corvane_tools.generator import generate_range  # noqa: E402
from corvane_tools.job_fold import JobFold  # noqa: E402
from corvane_tools.work_units import JobOptions, plan_units  # noqa: E402
from timing import best_time  # noqa: E402

OPTIONS = JobOptions(("track_following",))



def job(path, client=None):
    units = plan_units([path], [])
    fold = JobFold(units, OPTIONS, detailed=False)
    if client is None:
        run_locally(units, OPTIONS, fold)
    else:
        run_on_cluster(client, units, OPTIONS, fold)
    fold.check_complete()
    return fold


def local_seconds(path, threads):
    """Wall time of one job in a fresh process with `threads` pool threads (after one warm-up job)."""
    code = ("import sys, time; sys.path[:0] = sys.argv[2:]; import bench_dask as b; b.job(sys.argv[1]); "
            "began = time.perf_counter(); b.job(sys.argv[1]); print(time.perf_counter() - began)")
    env = {**os.environ, "RAYON_NUM_THREADS": str(threads)}
    out = subprocess.run([sys.executable, "-c", code, path, os.path.dirname(__file__), *sys.path],
                         env=env, check=True, capture_output=True, text=True).stdout
    return float(out.split()[-1])


def cluster_job_seconds(path, client):
    began = time.perf_counter()
    job(path, client)
    return time.perf_counter() - began


def empty_task(value):
    return value


def measure(path, repeats):
    """Best wall time per set-up. The set-ups take turns in every round, so that a machine shared
    with other work slows them alike; both clusters stay up throughout."""
    best = {}
    with cluster_client(workers=1) as one, cluster_client(workers=2) as two:
        clients = {"cluster 1": one, "cluster 2": two}
        for client in clients.values():
            job(path, client)  # workers import and warm up
        for _ in range(repeats):
            times = {"pool 1": local_seconds(path, 1), "pool 2": local_seconds(path, 2)}
            times.update({name: cluster_job_seconds(path, client) for name, client in clients.items()})
            best = {name: min(seconds, best.get(name, float("inf"))) for name, seconds in times.items()}
        count = 200
        round_trip = best_time(lambda: one.gather(one.map(empty_task, range(count), pure=False)), repeats,
                               time.perf_counter) / count
    return best, round_trip


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--events", type=int, default=640)
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "events.parquet")
        write_events(generate_range(11, 0, args.events), path)
        units = len(plan_units([path], []))
        print(f"{args.events} events in {units} units (tasks); cores: {os.cpu_count()}, "
              f"load average {os.getloadavg()[0]:.1f}")
        best, round_trip = measure(path, args.repeats)
    labels = {"pool 1": "this process, pool of 1 thread", "pool 2": "this process, pool of 2 threads",
              "cluster 1": "local cluster, 1 worker process", "cluster 2": "local cluster, 2 worker processes"}
    for name, label in labels.items():
        print(f"{label:34} {args.events / best[name]:8.1f} events/s")
    print(f"pool 2 threads / 1 thread:        {best['pool 1'] / best['pool 2']:.2f}x")
    print(f"cluster 2 workers / 1 worker:     {best['cluster 1'] / best['cluster 2']:.2f}x (target >= 1.7x)")
    print(f"cluster 1 worker / pool 1 thread: {best['pool 1'] / best['cluster 1']:.2f}x")
    print(f"per task: empty round trip {1000 * round_trip:.2f} ms; 1-worker cluster minus 1-thread process "
          f"{1000 * (best['cluster 1'] - best['pool 1']) / units:.2f} ms per unit of {args.events / units:.0f} events")
    print(f"load average at the end {os.getloadavg()[0]:.1f}")


if __name__ == "__main__":
    main()
