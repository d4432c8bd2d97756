"""GraphDFS benchmarks, one command:

    PYTHONPATH=build-dev:python python3 bench/bench_graph_dfs.py [--against OTHER_BUILD_DIR]

1. ~5,000-hit events in every layout (see corvane_tools.event_layouts):
   solve time per event, segments, links and roots per event, and the ratio
   to TrackFollowing.solve on the same events;
2. dense events (bundles of nearly parallel tracks), the same figures, and
   the peak memory of one solve at 5,000 hits and on a dense event;
3. an event whose roots each have more than 10^12 paths: solve time, next to
   the reference enumeration stopped by its path budget;
4. growth over 1k, 2k, 5k, 10k and 20k hits;
5. solve_batch over 100 shuffled-layout events with 1 and with 2 worker threads (each in a
   subprocess, sized by RAYON_NUM_THREADS): speed-up;
6. with --against: solve on the layout events and the dense events against another
   build of the module (alternating subprocesses of this one run, thread CPU
   time), and whether both return identical tracks.
"""
import argparse
import os
import subprocess
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import corvane  # noqa: E402
from corvane_tools.event_layouts import LAYOUTS, sized_event  # noqa: E402
from builds import compare_builds, print_comparison  # noqa: E402
from solve_runs import digest, layout_events, runs  # noqa: E402
from timing import batch_speedup as batch_threads, best_time, child_environment, per_event  # noqa: E402

Event = corvane.DetectorEvent.Event
GraphDFS = corvane.ReconstructionAlgorithms.GraphDFS
TrackFollowing = corvane.ReconstructionAlgorithms.TrackFollowing


def dense_event(tracks=300, seed=0):
    """Bundles of nearly parallel tracks: within a bundle, neighbours stay
    within the link tolerance of each other's lines, so paths branch and merge
    at every module."""
    rng = np.random.default_rng(seed)
    z = -300.0 + 20.0 * np.arange(52)
    modules = [[] for _ in range(52)]
    for _ in range(tracks // 30):
        x0, y0 = rng.uniform(-30, 30, 2)
        tx, ty = rng.uniform(-0.05, 0.05, 2)
        for _ in range(30):
            dx, dy = rng.normal(0, 0.05, 2)
            dtx, dty = rng.normal(0, 0.0005, 2)
            for m in range(52):
                modules[m].append((x0 + dx + (tx + dtx) * z[m], y0 + dy + (ty + dty) * z[m], z[m]))
    prefix, xs, ys, zs = [0], [], [], []
    for hits in modules:
        for x, y, zz in hits:
            xs.append(x)
            ys.append(y)
            zs.append(zz)
        prefix.append(len(xs))
    return {"description": "dense", "montecarlo": None, "module_prefix_sum": prefix, "x": xs, "y": ys, "z": zs}


def compare(label, events, algorithm, tracking, repeats=5):
    graph = per_event(algorithm.solve, events, repeats)
    follow = per_event(tracking.solve, events, repeats)
    counts = np.mean([corvane._reference.graph_dfs_counts(algorithm, e) for e in events], axis=0)
    print(f"  {label:<12} solve {graph * 1e3:7.2f} ms/event, TrackFollowing {follow * 1e3:6.2f} ms/event, "
          f"ratio {graph / follow:5.1f}x (target <= 3); per event {counts[0]:.0f} segments, {counts[1]:.0f} links, "
          f"{counts[2]:.0f} roots")


def path_explosion():
    # Three hits per module on one line, each within tolerance of the others'
    # lines: with neighbouring modules only, every root has 3^49 paths.
    modules_z = [float(m) for m in range(52)]
    xs = [0.01 * k for _ in modules_z for k in range(3)]
    data = {"description": "paths", "montecarlo": None, "module_prefix_sum": list(range(0, 157, 3)),
            "x": xs, "y": xs, "z": [z for z in modules_z for _ in range(3)]}
    event = Event(data)
    algorithm = GraphDFS(allowed_skip_modules=0)
    solve = best_time(lambda: algorithm.solve(event), 5)
    budget = 10 ** 6

    def enumerate_until_budget():
        try:
            corvane._reference.graph_dfs(algorithm, event, budget)
        except RuntimeError:
            pass

    reference = best_time(enumerate_until_budget, 1)
    print(f"event with 3^49 = {3 ** 49:.1e} paths per root: solve {solve * 1e3:.3f} ms "
          f"(target < 100 ms); the reference enumeration needed {reference:.2f} s for its first {budget} paths, "
          f"about {reference / budget * 3 ** 49 / 3.15e7:.1e} years for one root")


def growth(algorithm, tracking):
    print("growth with event size (generated layout, 3 events each):")
    base = None
    for size in (1000, 2000, 5000, 10000, 20000):
        events = [Event(sized_event(size, seed=200 + s)) for s in range(3)]
        repeats = 5 if size <= 5000 else 2
        cost = per_event(algorithm.solve, events, repeats)
        follow = per_event(tracking.solve, events, repeats)
        segments, links, _ = np.mean([corvane._reference.graph_dfs_counts(algorithm, e) for e in events], axis=0)
        base = base or (cost, segments)
        print(f"  {size:>6} hits: {cost * 1e3:8.2f} ms/event (x{cost / base[0]:6.1f}), "
              f"{segments:9.0f} segments (x{segments / base[1]:6.1f}), {links:8.0f} links, "
              f"{cost / segments * 1e9:5.1f} ns per segment, {cost / follow:5.1f}x TrackFollowing")


def batch_speedup():
    batch_threads("GraphDFS", "100 events of ~5000 hits", "[5000] * 100")


def dense_plan():
    return [["dense", "dense", 0, [0, 1, 2], 5]]


def child():
    """The --child mode: the realistic runs by layout, the dense events apart."""
    import json
    plan = json.loads(sys.argv[sys.argv.index("--child") + 1])
    algorithm, result = GraphDFS(), {}
    for label, layout, hits, seeds, repeats in plan:
        events = ([Event(dense_event(seed=s)) for s in seeds] if layout == "dense"
                  else layout_events(layout, hits, seeds))
        result[label] = [per_event(algorithm.solve, events, repeats), digest(algorithm.solve(e) for e in events)]
    print(json.dumps(result))


PEAK_CHILD = """
import sys
import corvane
from bench_graph_dfs import dense_event
from solve_runs import layout_events


def status(key):
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith(key))


kind = sys.argv[1]
event = corvane.DetectorEvent.Event(dense_event(seed=0)) if kind == "dense" else layout_events(kind, 5000, [0])[0]
algorithm = corvane.ReconstructionAlgorithms.GraphDFS()
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # the peak resident set starts again from the current one
before = status("VmRSS:")
algorithm.solve(event)
print(status("VmHWM:") - before)
"""


def peak_memory():
    """Growth of the peak resident set over one solve, in a fresh process."""
    print("peak memory of one solve (peak resident set over the solve, above the set before it):")
    for kind in ("generated", "dense"):
        out = subprocess.run([sys.executable, "-c", PEAK_CHILD, kind], env=child_environment(), check=True,
                             capture_output=True, text=True, timeout=600)
        print(f"  {kind:<12} {int(out.stdout) / 1024:7.1f} MB")


def main():
    if "--child" in sys.argv:
        child()
        return
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--against", help="another build directory of the module to time solve against")
    args = parser.parse_args()
    if args.against:
        print_comparison("GraphDFS.solve", args.against,
                         compare_builds(os.path.abspath(__file__), runs(5000, range(3), 5) + dense_plan(),
                                        args.against))
    algorithm, tracking = GraphDFS(), TrackFollowing()
    print("solve against TrackFollowing.solve, 3 events of 5,000 hits per layout, and dense events:")
    for layout in LAYOUTS:
        compare(layout, layout_events(layout, 5000, range(3)), algorithm, tracking)
    compare("dense", [Event(dense_event(seed=s)) for s in range(3)], algorithm, tracking)
    peak_memory()
    path_explosion()
    growth(algorithm, tracking)
    batch_speedup()


if __name__ == "__main__":
    main()
