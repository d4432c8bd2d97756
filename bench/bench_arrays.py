"""Arrays out of tracks and events, against reconstructing the event.

    PYTHONPATH=build-dev:python python3 bench/bench_arrays.py [--hits 5000] [--repeat 7]

On a generated event of about 5,000 hits, times TrackFollowing.solve, the
conversion of its tracks to arrays (corvane_tools.arrays.track_arrays, and
the same through Python loops over Track.hits), and the conversion of the
event's hits to coordinate arrays (event_arrays, and through Event.hits).
Each figure is the shortest of --repeat runs; ratios are against solve.
"""
import argparse
import os
import sys

import numpy as np

from corvane import DetectorEvent, ReconstructionAlgorithms
from corvane_tools import arrays

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from corvane_tools.event_layouts import sized_event  # noqa: E402
from timing import best_time  # noqa: E402


def python_track_arrays(tracks):
    ids = [[hit.id for hit in track.hits] for track in tracks]
    offsets = np.cumsum([0] + [len(i) for i in ids])
    flags = np.array([(t.missed_last_module, t.missed_penultimate_module) for t in tracks], dtype=bool)
    return np.fromiter((i for track in ids for i in track), dtype=np.int32), offsets, flags


def python_event_arrays(event):
    hits = event.hits
    return {name: np.array([getattr(h, name) for h in hits]) for name in ("id", "x", "y", "z", "t", "module_number")}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--hits", type=int, default=5000)
    parser.add_argument("--repeat", type=int, default=7)
    args = parser.parse_args()

    event = DetectorEvent.Event(sized_event(args.hits, seed=11))
    algorithm = ReconstructionAlgorithms.TrackFollowing()
    tracks = algorithm.solve(event)
    print(f"event: {event.number_of_hits} hits, {len(tracks)} tracks, "
          f"{sum(len(t.hits) for t in tracks)} track hits; shortest of {args.repeat} runs")

    solve = best_time(lambda: algorithm.solve(event), args.repeat)
    figures = [
        ("track_arrays (native)", best_time(lambda: arrays.track_arrays(tracks), args.repeat)),
        ("track arrays by Python loops", best_time(lambda: python_track_arrays(tracks), args.repeat)),
        ("event_arrays (native)", best_time(lambda: arrays.event_arrays(event), args.repeat)),
        ("event arrays by Python loops", best_time(lambda: python_event_arrays(event), args.repeat)),
    ]
    print(f"{'TrackFollowing.solve':32s} {solve * 1e3:9.3f} ms")
    for name, seconds in figures:
        print(f"{name:32s} {seconds * 1e3:9.3f} ms   {100.0 * seconds / solve:7.2f}% of solve")


if __name__ == "__main__":
    main()
