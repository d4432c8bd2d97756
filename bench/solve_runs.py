"""Solving the layout events: timings and a digest of the tracks, the same in
this process and in the child processes of a build comparison."""
import hashlib
import json
import sys

import corvane
from corvane_tools.event_layouts import LAYOUTS, arranged, sized_event

from timing import per_event

Event = corvane.DetectorEvent.Event


def layout_events(layout, hits, seeds):
    return [Event(arranged(sized_event(hits, seed), layout, seed)) for seed in seeds]


def described(tracks):
    return [([hit.id for hit in t.hits], t.missed_last_module, t.missed_penultimate_module) for t in tracks]


def digest(track_lists):
    return hashlib.sha256(repr([described(tracks) for tracks in track_lists]).encode()).hexdigest()


def runs(hits, seeds, repeats, layouts=LAYOUTS):
    """One run per layout: [label, layout, hits, seeds, repeats]."""
    return [[f"{layout}, {hits // 1000}k hits", layout, hits, list(seeds), repeats] for layout in layouts]


def timed_solves(algorithm, plan):
    """{label: [seconds per event, digest of the tracks]} for each run of the plan."""
    result = {}
    for label, layout, hits, seeds, repeats in plan:
        events = layout_events(layout, hits, seeds)
        result[label] = [per_event(algorithm.solve, events, repeats),
                         digest(algorithm.solve(event) for event in events)]
    return result


def child(make_algorithm):
    """The --child mode of a benchmark script: the plan comes as JSON."""
    plan = json.loads(sys.argv[sys.argv.index("--child") + 1])
    print(json.dumps(timed_solves(make_algorithm(), plan)))
