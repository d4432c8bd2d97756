"""Validation cost per event on realistic events.

    PYTHONPATH=build-dev python3 bench/bench_validation.py [--events 100] [--repeat 5] [--against OTHER_BUILD_DIR]

Generates events of about 5,000 hits (straight particles through 52 modules,
plus noise) with about 300 reconstructed-like tracks each (truth hit lists
with dropped and foreign hits, clones and ghosts), then times
print_validation_summary (standard output sent to /dev/null) and
export_detailed_metrics_json, and splits the summary's time into reading the
event dictionaries, copying the tracks and matching. When TrackFollowing is
available, its solve time per event is measured too and the ratios printed.
With --against, print_validation_summary is also timed with this build and
with another one (a directory to put on PYTHONPATH) in alternating
subprocesses of this one run.
"""
import argparse
import contextlib
import json
import math
import os
import random
import subprocess
import sys
import time

import corvane
from corvane import DetectorEvent, Validator

MODULES = 52
COLUMNS = ["key", "pid", "p", "pt", "eta", "phi", "charge", "hits", "isLong", "isDown", "hasVelo", "hasUT",
           "hasScifi", "fromBeautyDecay", "fromCharmDecay", "fromStrangeDecay"]
MODULE_Z = [-280.0 + 15.0 * m + (3.0 if m % 2 else 0.0) for m in range(MODULES)]


def generate_event(rng, particle_count=340, noise_hits=250):
    """An event dictionary and, per particle, the ids of its hits."""
    raw = []  # (module, x, y, z, particle or -1)
    particles = []
    for index in range(particle_count):
        tx, ty = rng.gauss(0.0, 0.12), rng.gauss(0.0, 0.12)
        x0, y0 = rng.gauss(0.0, 0.05), rng.gauss(0.0, 0.05)
        first = rng.randrange(0, 30)
        last = min(MODULES, first + rng.randint(3, 26))
        for module in range(first, last):
            if rng.random() < 0.97:
                z = MODULE_Z[module]
                raw.append((module, x0 + tx * z + rng.gauss(0, 0.01), y0 + ty * z + rng.gauss(0, 0.01), z, index))
        p = math.exp(rng.gauss(math.log(4000.0), 1.0))
        particles.append({"p": p, "pid": rng.choices([211, -211, 11, -11, 13, 321, 2212],
                                                     [35, 35, 3, 2, 5, 12, 8])[0],
                          "long": rng.random() < 0.6, "beauty": rng.random() < 0.05,
                          "strange": rng.random() < 0.1, "eta": rng.uniform(2, 5)})
    for _ in range(noise_hits):
        module = rng.randrange(MODULES)
        raw.append((module, rng.uniform(-40, 40), rng.uniform(-40, 40), MODULE_Z[module], -1))
    raw.sort(key=lambda h: h[0])

    hits_of = [[] for _ in particles]
    prefix = [0] * (MODULES + 1)
    for hit_id, (module, _, _, _, owner) in enumerate(raw):
        prefix[module + 1] += 1
        if owner >= 0:
            hits_of[owner].append(hit_id)
    for m in range(MODULES):
        prefix[m + 1] += prefix[m]

    rows = []
    for index, (info, hits) in enumerate(zip(particles, hits_of)):
        rows.append([1000003 * index + 17, info["pid"], info["p"], info["p"] / 8.0, info["eta"], rng.uniform(-3, 3),
                     1 if info["pid"] > 0 else -1, hits, int(info["long"]), 0, int(len(hits) >= 3), 1, 1,
                     int(info["beauty"]), 0, int(info["strange"])])
    event = {"description": "benchmark", "module_prefix_sum": prefix,
             "x": [h[1] for h in raw], "y": [h[2] for h in raw], "z": [h[3] for h in raw],
             "montecarlo": {"description": COLUMNS, "particles": rows}}
    return event, hits_of, raw


def generate_tracks(rng, hits_of, raw):
    """Truth tracks with dropped and foreign hits, a few clones and ghosts."""
    hit_objects = [DetectorEvent.Hit(x, y, z, i, module=m) for i, (m, x, y, z, _) in enumerate(raw)]
    id_lists = []
    for hits in hits_of:
        if len(hits) < 3 or rng.random() < 0.12:
            continue
        ids = [h for h in hits if rng.random() > 0.04]
        if rng.random() < 0.15:
            ids[rng.randrange(len(ids))] = rng.randrange(len(raw))
        id_lists.append(ids)
        if rng.random() < 0.02:
            id_lists.append(ids[:-1])
    for _ in range(len(id_lists) // 20):
        start = rng.randrange(len(raw) - 6)
        id_lists.append([start + rng.randrange(6) for _ in range(rng.randint(3, 6))])
    return [DetectorEvent.Track([hit_objects[i] for i in ids]) for ids in id_lists]


@contextlib.contextmanager
def standard_output_discarded():
    sys.stdout.flush()
    saved = os.dup(1)
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 1)
    try:
        yield
    finally:
        os.dup2(saved, 1)
        os.close(saved)
        os.close(devnull)


def timed(function, repeat, clock=time.perf_counter):
    """Shortest time of `repeat` calls, in seconds: the least disturbed by
    other work on a shared machine."""
    times = []
    for _ in range(repeat):
        start = clock()
        function()
        times.append(clock() - start)
    return min(times)


def generate(args):
    rng = random.Random(args.seed)
    events, tracks = [], []
    for _ in range(args.events):
        event, hits_of, raw = generate_event(rng)
        events.append(event)
        tracks.append(generate_tracks(rng, hits_of, raw))
    return events, tracks


def summary_only(args):
    """Child of --against: the summary's cost per event, as JSON. Timed on the
    calling thread's CPU clock, which waiting for a busy core does not run."""
    events, tracks = generate(args)
    with standard_output_discarded():
        summary = timed(lambda: Validator.print_validation_summary(events, tracks, False), args.repeat,
                        time.thread_time)
    print(json.dumps(summary / len(events)))


def against_build(args, other_dir):
    this_dir = os.path.dirname(os.path.abspath(corvane.__file__))
    command = [sys.executable, os.path.abspath(__file__), "--summary-only", "--events", str(args.events),
               "--repeat", str(args.repeat), "--seed", str(args.seed)]
    best = {}
    # Alternating runs, best of each: the cores are shared with other work.
    for name, directory in (("other", other_dir), ("this", this_dir)) * 3:
        env = dict(os.environ, PYTHONPATH=directory)
        out = subprocess.run(command, env=env, check=True, capture_output=True, text=True)
        best[name] = min(best.get(name, math.inf), json.loads(out.stdout))
    print(f"print_validation_summary against the build in {other_dir} (best of 3 alternating runs, thread CPU time):")
    print(f"  this {best['this'] * 1e3:.3f} ms/event, other {best['other'] * 1e3:.3f} ms/event, "
          f"{100 * (1 - best['this'] / best['other']):.1f}% cheaper")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--events", type=int, default=100)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--seed", type=int, default=2024)
    parser.add_argument("--against", help="another build directory of the module to time the summary against")
    parser.add_argument("--summary-only", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.summary_only:
        summary_only(args)
        return

    events, tracks = generate(args)
    n = len(events)
    hits = sum(len(e["x"]) for e in events) / n
    per_event_tracks = sum(len(t) for t in tracks) / n
    print(f"{n} events, {hits:.0f} hits, {per_event_tracks:.0f} tracks and "
          f"{sum(len(e['montecarlo']['particles']) for e in events) / n:.0f} particles per event")

    with standard_output_discarded():
        summary = timed(lambda: Validator.print_validation_summary(events, tracks, False), args.repeat)
        reading = timed(lambda: Validator.print_validation_summary(events, [], False), args.repeat)
        copying = timed(lambda: Validator.print_validation_summary([], tracks, False), args.repeat)
    detailed = timed(lambda: Validator.export_detailed_metrics_json(events, tracks, False), args.repeat)
    matching = max(summary - reading - copying, 0.0)

    ms = 1e3 / n
    print(f"print_validation_summary     {summary * ms:8.3f} ms/event")
    print(f"  reading event dicts        {reading * ms:8.3f} ms/event ({100 * reading / summary:5.1f}%)")
    print(f"  copying tracks             {copying * ms:8.3f} ms/event ({100 * copying / summary:5.1f}%)")
    print(f"  matching and statistics    {matching * ms:8.3f} ms/event ({100 * matching / summary:5.1f}%)")
    print(f"export_detailed_metrics_json {detailed * ms:8.3f} ms/event")

    if args.against:
        against_build(args, args.against)

    algorithms = getattr(corvane, "ReconstructionAlgorithms", None)
    if algorithms is None or not hasattr(algorithms, "TrackFollowing"):
        print("TrackFollowing not available: no solve time to compare with")
        return
    solver = algorithms.TrackFollowing()
    built = [DetectorEvent.Event(e) for e in events]
    solve = timed(lambda: [solver.solve(e) for e in built], args.repeat)
    print(f"TrackFollowing.solve         {solve * ms:8.3f} ms/event")
    print(f"ratio summary / solve        {summary / solve:8.3f}")
    print(f"ratio detailed export / solve {detailed / solve:7.3f}")


if __name__ == "__main__":
    main()
