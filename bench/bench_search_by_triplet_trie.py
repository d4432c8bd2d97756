"""SearchByTripletTrie benchmarks, one command:

    PYTHONPATH=build-dev:python python3 bench/bench_search_by_triplet_trie.py [--against OTHER_BUILD_DIR]

Every figure is given per event layout (see corvane_tools.event_layouts).
1. solve against the reference (every inner hit tested for every
   outer-middle pair, every fallback hit scanned) and against
   TrackFollowing.solve on the same ~5,000-hit events: ratios and identical
   tracks; and the share of solve spent building the tries;
2. with --against: solve against another build of the module (alternating
   subprocesses of this one run, thread CPU time), and whether both return
   identical tracks;
3. solve cost at 1k, 2k, 5k, 10k and 20k hits, next to the number of
   (outer, middle) pairs the tries are built from and the entries they hold;
4. solve_batch over 200 events with 1 and with 2 worker threads (each in a
   subprocess, sized by RAYON_NUM_THREADS): speed-up, by the wall clock.

Single calls are timed on the thread's CPU clock, best of several runs.
"""
import argparse
import os
import sys

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")  # idle BLAS threads would spin beside the timings
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import corvane  # noqa: E402
from corvane_tools.event_layouts import LAYOUTS, sized_event  # noqa: E402
from builds import compare_builds, print_comparison  # noqa: E402
from solve_runs import child, described, layout_events, runs  # noqa: E402
from timing import batch_speedup, per_event  # noqa: E402

Event = corvane.DetectorEvent.Event
SearchByTripletTrie = corvane.ReconstructionAlgorithms.SearchByTripletTrie
TrackFollowing = corvane.ReconstructionAlgorithms.TrackFollowing


def layer_pairs(event_dict):
    """Sum over windows of |outer layer| x |middle layer|."""
    prefix = event_dict["module_prefix_sum"]
    layers = [prefix[2 * k + 2] - prefix[2 * k] for k in range(26)]
    return sum(layers[i] * layers[i - 1] for i in range(2, 26))


def against_references(algorithm):
    reference = corvane._reference.search_by_triplet_trie
    entries = corvane._reference.triplet_trie_entries
    follow = TrackFollowing()
    print("solve against the reference and against TrackFollowing.solve, 3 events of 5,000 hits per layout:")
    for layout in LAYOUTS:
        events = layout_events(layout, 5000, range(3))
        fast = per_event(algorithm.solve, events, 7)
        plain = per_event(lambda e: reference(algorithm, e), events, 1)
        following = per_event(follow.solve, events, 7)
        build = per_event(lambda e: entries(algorithm, e, False), events, 7)
        same = all(described(algorithm.solve(e)) == described(reference(algorithm, e)) for e in events)
        print(f"  {layout:<12} solve {fast * 1e3:7.2f} ms/event; reference {plain * 1e3:7.1f} ms ({plain / fast:5.1f}x), "
              f"identical tracks: {same}; TrackFollowing {following * 1e3:6.2f} ms, ratio {fast / following:5.2f}x "
              f"(target <= 3); building the tries {build * 1e3:6.2f} ms")


def growth(algorithm):
    print("solve cost by event size (generated layout, 3 events each):")
    base = None
    for size in (1000, 2000, 5000, 10000, 20000):
        dicts = [sized_event(size, seed=100 + s) for s in range(3)]
        events = [Event(d) for d in dicts]
        cost = per_event(algorithm.solve, events, 3)
        pairs = sum(layer_pairs(d) for d in dicts) / 3
        entries = sum(corvane._reference.triplet_trie_entries(algorithm, e, False) for e in events) / 3
        base = base or (cost, pairs)
        print(f"  {size:>6} hits: {cost * 1e3:8.2f} ms/event (x{cost / base[0]:6.1f}), "
              f"outer-middle pairs {pairs:10.0f} (x{pairs / base[1]:6.1f}), trie entries {entries:8.0f}, "
              f"{cost / pairs * 1e9:5.1f} ns per pair")


def main():
    if "--child" in sys.argv:
        child(SearchByTripletTrie)
        return
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--against", help="another build directory of the module to time solve against")
    args = parser.parse_args()
    algorithm = SearchByTripletTrie()
    against_references(algorithm)
    if args.against:
        print_comparison("SearchByTripletTrie.solve", args.against,
                         compare_builds(os.path.abspath(__file__), runs(5000, range(3), 5), args.against))
    growth(algorithm)
    batch_speedup("SearchByTripletTrie", "200 events of ~5000 hits", "[5000] * 200")


if __name__ == "__main__":
    main()
