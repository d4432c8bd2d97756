"""The streaming job against its solver, in one command:

    PYTHONPATH=build-dev:python python3 bench/bench_stream.py [--events 2000] [--repeat 2] [--memory]
        [--layout shuffled|interleaved]

On a generated Parquet sample of `--events` events (with --layout, each
event's hits rearranged within their modules, the Monte Carlo record
following them; see corvane_tools.event_layouts.reordered):
- generation in events/s with 1 and 2 worker processes (on `--gen-events`);
- reading cost per event of the Parquet layouts (typed Monte Carlo columns,
  and the older JSON text), read and checked with Python rows as `check`
  and `display` read them (the job leaves typed records in their columns);
- per algorithm, `corvane run`'s local job (reading, solving, validating:
  the whole pipeline) against `solve_batch` alone on the same events in
  chunks of the same size, the share of the job's wall time spent
  outside the solver, and the processor time per event of both (all
  threads and worker processes: on a busy machine the job cannot beat its
  share of the processors, so this ratio is the one to watch there); the
  same for a sample generated inside the job (on worker processes);
- with --memory: peak resident memory of `corvane generate` (main process
  and its worker processes) for 10^3 and `--memory-events` events, and of
  `corvane run` generating 320 and `--events` events in the job.

The allocators (C library and Arrow) are set up as the commands set them
up (see allocator.py). The
job and the solver alone run alternately, `--repeat` times each, and
the best of each is kept: other work on the machine disturbs both alike,
so the ratios hold better than the absolute rates.
"""
import argparse
import itertools
import os
import resource
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from corvane_tools import arrow_pool  # noqa: F401  (before pyarrow, as the command imports it)
import pyarrow.parquet as pq

from corvane_tools.algorithms import ALGORITHMS, available, construct, pool_size
from corvane_tools.allocator import arrow_pool_reusing_memory, return_large_blocks
from corvane_tools.cluster import run_locally
from corvane_tools.event_files import read_file
from corvane_tools.event_layouts import REORDERINGS, reordered
from corvane_tools.job_fold import JobFold
from corvane_tools.parquet_layout import events_table
from corvane_tools.sample_generation import generate_sample
from corvane_tools.work_units import JobOptions, plan_generated, plan_units, read_pieces


def processor_seconds():
    """Processor time of this process (all its threads) and of its finished children."""
    own, children = resource.getrusage(resource.RUSAGE_SELF), resource.getrusage(resource.RUSAGE_CHILDREN)
    return own.ru_utime + own.ru_stime + children.ru_utime + children.ru_stime


def solve_alone(units, name, options):
    """Wall and processor time of solve_batch alone over the units' events, chunk by chunk (reading not
    timed)."""
    solver = construct(name)
    seconds = processor = 0.0
    for unit in units:
        for piece in read_pieces(unit, options):
            if piece.handles:
                began, used = time.perf_counter(), processor_seconds()
                solver.solve_batch(piece.handles)
                seconds += time.perf_counter() - began
                processor += processor_seconds() - used
    return seconds, processor


def job(units, options):
    fold = JobFold(units, options, detailed=False)
    began, used = time.perf_counter(), processor_seconds()
    run_locally(units, options, fold)
    wall, processor = time.perf_counter() - began, processor_seconds() - used
    return wall, sum(fold.algorithms[name].seconds for name in options.names), fold.events, processor


def compare(label, units, name, repeat):
    options = JobOptions((name,))
    best_alone, best_job, best_solver = float("inf"), float("inf"), float("inf")
    alone_processor = job_processor = float("inf")
    events = 0
    for _ in range(repeat):
        alone_wall, alone_used = solve_alone(units, name, options)
        best_alone, alone_processor = min(best_alone, alone_wall), min(alone_processor, alone_used)
        wall, solver, events, used = job(units, options)
        job_processor = min(job_processor, used)
        if wall < best_job:
            best_job, best_solver = wall, solver
    print(f"{label:44} {events / best_alone:9.1f} {events / best_job:9.1f} {best_alone / best_job:7.2f} "
          f"{100 * (1 - best_solver / best_job):8.1f}% {1000 * alone_processor / events:9.2f} "
          f"{1000 * job_processor / events:9.2f}")


def reading_cost(path, repeat):
    """Best seconds per event to read and check every event of a Parquet file, row group by row group."""
    groups = pq.ParquetFile(path).metadata.num_row_groups
    best = float("inf")
    for _ in range(repeat):
        began = time.perf_counter()
        count = sum(1 for group in range(groups) for _ in read_file(path, row_group=group))
        best = min(best, (time.perf_counter() - began) / count)
    return best


def rearrange(path, layout):
    """Rewrites the sample with every event's hits in `layout`, in row groups of the same size."""
    moved = path.with_name("moved.parquet")
    writer, index = None, itertools.count()
    for group in range(pq.ParquetFile(path).metadata.num_row_groups):  # a row group at a time: small memory
        table = events_table([reordered(event, layout, seed=next(index)) for _, event in read_file(path, row_group=group)])
        writer = writer or pq.ParquetWriter(moved, table.schema)
        writer.write_table(table, row_group_size=table.num_rows)
    writer.close()
    moved.replace(path)


def timed_generation(path, count, processes):
    began = time.perf_counter()
    generate_sample(path, count, 1, processes, overwrite=True)
    return count / (time.perf_counter() - began)


def peak_memory(command):
    """Peak resident memory (MB) of the largest process of a command (it and its workers)."""
    code = ("import resource, subprocess, sys; subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL);"
            " print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
    done = subprocess.run([sys.executable, "-c", code, *command], capture_output=True, text=True, check=True)
    return int(done.stdout) / 1000


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--events", type=int, default=2000)
    parser.add_argument("--gen-events", type=int, default=480)
    parser.add_argument("--other-events", type=int, default=320,
                        help="events for SearchByTripletTrie and GraphDFS (the first ones of the sample)")
    parser.add_argument("--repeat", type=int, default=2)
    parser.add_argument("--layout", choices=REORDERINGS, help="rearrange each event's hits within their modules")
    parser.add_argument("--memory", action="store_true")
    parser.add_argument("--memory-events", type=int, default=10_000)
    options = parser.parse_args()
    return_large_blocks()  # as the commands do, for the solver alone and the job alike
    arrow_pool_reusing_memory()
    print(f"pool of {pool_size()} solver threads; load average {os.getloadavg()[0]:.1f} at the start")
    with tempfile.TemporaryDirectory() as scratch:
        sample = Path(scratch) / "sample.parquet"
        for processes in (1, 2, 1, 2)[:2 * max(1, min(options.repeat, 2))]:
            rate = timed_generation(Path(scratch) / "gen.parquet", options.gen_events, processes)
            print(f"generation, {processes} process(es): {rate:,.1f} events/s ({options.gen_events} events)")
        generate_sample(sample, options.events, 1, 2)
        if options.layout:
            rearrange(sample, options.layout)
            print(f"every event's hits {options.layout} within their modules")
        old = Path(scratch) / "old.parquet"
        table = pq.read_table(sample)
        events = [event for group in range(pq.ParquetFile(sample).metadata.num_row_groups)
                  for _, event in read_file(sample, row_group=group)]
        pq.write_table(events_table(events, typed_montecarlo=False), old,
                       row_group_size=pq.ParquetFile(sample).metadata.row_group(0).num_rows)
        del table, events
        new_cost, old_cost = reading_cost(sample, options.repeat), reading_cost(old, options.repeat)
        print(f"reading and checking, ms per event: typed Monte Carlo columns {1000 * new_cost:.2f}, "
              f"JSON text {1000 * old_cost:.2f} ({old_cost / new_cost:.1f}x)")

        units = plan_units([str(sample)], [])
        generated = plan_generated(options.events, 1)
        print(f"\n{'job on ' + str(options.events) + ' events':44} {'solver/s':>9} {'job/s':>9} {'ratio':>7} "
              f"{'outside':>9} {'solver ms':>9} {'job ms':>9}")
        starts = itertools.accumulate((unit.events for unit in units), initial=0)
        first_units = [unit for unit, start in zip(units, starts) if start < options.other_events]
        for name in available():
            chosen = units if name == "track_following" else first_units
            compare(f"{ALGORITHMS[name]}, Parquet file", chosen, name, options.repeat)
        compare("TrackFollowing, generated in the job", generated, "track_following", options.repeat)
        print("(ratio: job events/s over solve_batch alone; outside: share of the job's wall time not in "
              "solve_batch; solver ms, job ms: processor time per event, all threads and worker processes, "
              "which other work on the machine disturbs less than the wall time)")

        if options.memory:
            for count in (1000, options.memory_events):
                out = Path(scratch) / f"m{count}.parquet"
                began = time.perf_counter()
                peak = peak_memory([sys.executable, "-m", "corvane_tools", "generate", "-q", "--overwrite",
                                    "-j", "2", "-n", str(count), "-o", str(out)])
                print(f"generate -n {count}: peak resident memory {peak:,.0f} MB (largest process), "
                      f"{count / (time.perf_counter() - began):,.1f} events/s")
            for count in (320, options.events):
                began = time.perf_counter()
                peak = peak_memory([sys.executable, "-m", "corvane_tools", "run", "-q", "-a", "track_following",
                                    "-n", str(count)])
                print(f"run -n {count} -a track_following (generated in the job): peak resident memory "
                      f"{peak:,.0f} MB, {count / (time.perf_counter() - began):,.1f} events/s")
    print(f"load average {os.getloadavg()[0]:.1f} at the end; own CPU time "
          f"{resource.getrusage(resource.RUSAGE_SELF).ru_utime:.0f} s")


if __name__ == "__main__":
    main()
