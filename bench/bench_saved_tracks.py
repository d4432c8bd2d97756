"""What keeping the tracks costs: the job alone, the job naming its events (content digests, as
--json does), the job writing --tracks, and validating the saved tracks again; wall times and their
ratios to the job alone, measured side by side in one run. Wall times: on a busy machine compare
the ratios of one run only.

    python bench/bench_saved_tracks.py [--events 480] [--repeat 3]
"""
import argparse
import os
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "python"))

from corvane_tools.cluster import run_locally  # noqa: E402
from corvane_tools.event_files import read_events  # noqa: E402
from corvane_tools.event_identity import event_digest  # noqa: E402
from corvane_tools.event_files import write_events  # noqa: E402
from corvane_tools.generator import generate_range  # noqa: E402
from corvane_tools.job_fold import JobFold  # noqa: E402
from corvane_tools.saved_tracks import open_saved, saving_tracks, validate_saved  # noqa: E402
from corvane_tools.work_units import JobOptions, plan_units  # noqa: E402
from timing import best_time  # noqa: E402

NAMES = ("track_following",)


def job(paths, identify, tracks=None):
    units = plan_units(paths, [])
    options = JobOptions(NAMES, identify=identify)
    fold = JobFold(units, options, detailed=False)
    with saving_tracks(tracks, fold, {"inputs": paths}):
        run_locally(units, options, fold)
    fold.check_complete()
    return fold


def best_wall(call, repeats):
    # The job runs on other threads: the wall clock.
    return best_time(call, repeats, time.perf_counter)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--events", type=int, default=480)
    parser.add_argument("--repeat", type=int, default=3)
    options = parser.parse_args()
    with tempfile.TemporaryDirectory() as scratch:
        sample = Path(scratch) / "sample.parquet"
        write_events(generate_range(3, 0, options.events), sample)
        paths = [str(sample)]
        tracks = Path(scratch) / "tracks.parquet"
        job(paths, True, tracks)   # warm-up, and the file to validate
        saved = open_saved(tracks)
        timings = {
            "job": best_wall(lambda: job(paths, False), options.repeat),
            "job naming its events (--json)": best_wall(lambda: job(paths, True), options.repeat),
            "job writing --tracks": best_wall(lambda: job(paths, True, Path(scratch) / "again.parquet"),
                                              options.repeat),
            "validate the saved tracks": best_wall(lambda: validate_saved(saved, paths), options.repeat),
        }
        size = tracks.stat().st_size
        events = [event for _, _, event in read_events(sample)]
        start = time.thread_time()
        for event in events:
            event_digest(event)
        digest_ms = 1000 * (time.thread_time() - start) / len(events)
    base = timings["job"]
    print(f"{options.events} generated events (seed 3), TrackFollowing, best of {options.repeat} wall times")
    for label, seconds in timings.items():
        print(f"  {label:32s} {seconds:7.3f} s  {options.events / seconds:8.1f} events/s  "
              f"{seconds / base:5.2f}x the job")
    print(f"  tracks file: {size / options.events / 1024:.1f} KiB per event; an event's content digest: "
          f"{digest_ms:.3f} ms (CPU), against {1000 * base / options.events:.2f} ms of job per event")


if __name__ == "__main__":
    main()
