"""The main job here and on a Dask cluster, one command:

    PYTHONPATH=build-dev:python python3 bench/bench_dask.py [--events 256] [--repeats 3]

On the same Parquet file (row groups of 32 events, one task each), events/s
of the whole job (read, solve with TrackFollowing, measure for validation,
fold) for:

1. this process with the worker pool at 1 and at 2 threads (each in a
   subprocess, as the pool size is read once per process);
2. a local cluster of 1 and of 2 worker processes (one solver thread each);
3. the cost of one task: the round trip of an empty task, and what the
   1-worker cluster takes per unit more than the 1-thread process.

Prints the best of several runs and the ratios from this one run. The
target is 2 worker processes at 1.7 times 1 worker process or better.
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

OPTIONS = JobOptions(("track_following",))


def best_of(repeats, run):
    best = float("inf")
    for _ in range(repeats):
        began = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - began)
    return best


def job(path, client=None):
    units = plan_units([path], [])
    fold = JobFold(units, OPTIONS, detailed=False)
    if client is None:
        run_locally(units, OPTIONS, fold)
    else:
        run_on_cluster(client, units, OPTIONS, fold)
    fold.check_complete()
    return fold


def local_seconds(path, threads, repeats):
    """Best wall time of the job in a fresh process with `threads` pool threads."""
    code = ("import sys; sys.path[:0] = sys.argv[3:]; import bench_dask as b; "
            "b.job(sys.argv[1]); print(b.best_of(int(sys.argv[2]), lambda: b.job(sys.argv[1])))")
    env = {**os.environ, "RAYON_NUM_THREADS": str(threads)}
    out = subprocess.run([sys.executable, "-c", code, path, str(repeats), os.path.dirname(__file__), *sys.path],
                         env=env, check=True, capture_output=True, text=True).stdout
    return float(out.split()[-1])


def empty_task(value):
    return value


def cluster_seconds(path, workers, repeats):
    """Best wall time of the job on a new local cluster, and the round trip of one empty task."""
    with cluster_client(workers=workers) as client:
        job(path, client)  # workers import and warm up
        seconds = best_of(repeats, lambda: job(path, client))
        count = 200
        round_trip = best_of(repeats, lambda: client.gather(client.map(empty_task, range(count), pure=False)))
    return seconds, round_trip / count


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--events", type=int, default=256)
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "events.parquet")
        write_events(generate_range(11, 0, args.events), path)
        units = len(plan_units([path], []))
        print(f"{args.events} events in {units} units (tasks); cores: {os.cpu_count()}, "
              f"load average {os.getloadavg()[0]:.1f}")
        local = {threads: local_seconds(path, threads, args.repeats) for threads in (1, 2)}
        cluster = {workers: cluster_seconds(path, workers, args.repeats) for workers in (1, 2)}

    def rate(seconds):
        return args.events / seconds

    for threads, seconds in local.items():
        print(f"this process, pool of {threads} thread(s): {rate(seconds):8.1f} events/s")
    for workers, (seconds, _) in cluster.items():
        print(f"local cluster, {workers} worker process(es): {rate(seconds):8.1f} events/s")
    print(f"pool 2 threads / 1 thread:        {local[1] / local[2]:.2f}x")
    print(f"cluster 2 workers / 1 worker:      {cluster[1][0] / cluster[2][0]:.2f}x (target >= 1.7x)")
    print(f"cluster 1 worker / pool 1 thread:  {local[1] / cluster[1][0]:.2f}x")
    print(f"per task: empty round trip {1000 * cluster[1][1]:.2f} ms; "
          f"1-worker cluster minus 1-thread process {1000 * (cluster[1][0] - local[1]) / units:.2f} ms per unit "
          f"of {args.events / units:.0f} events")


if __name__ == "__main__":
    main()
