"""SearchByTripletTrie benchmarks, one command:

    PYTHONPATH=build-dev python3 bench/bench_search_by_triplet_trie.py   (or with corvane installed)

1. solve against the plain-scan reference (every inner hit tested for every
   outer-middle pair, every fallback hit scanned) on the same ~5,000-hit
   events: ratio and identical tracks;
2. solve against TrackFollowing.solve on the same events;
3. the share of solve spent building the tries, the rest being the sweep;
4. solve cost at 1k, 2k, 5k, 10k and 20k hits, next to the number of
   (outer, middle) pairs the tries are built from and the entries they hold;
5. solve_batch over 200 events with 1 and with 2 worker threads (each in a
   subprocess, sized by RAYON_NUM_THREADS): speed-up, by the wall clock.

Single calls are timed on the thread's CPU clock, best of several runs.
"""
import os
import sys

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")  # idle BLAS threads would spin beside the timings
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import corvane  # noqa: E402
from timing import batch_speedup as batch_threads, best_time  # noqa: E402
from event_generator import generate_event  # noqa: E402

Event = corvane.DetectorEvent.Event
SearchByTripletTrie = corvane.ReconstructionAlgorithms.SearchByTripletTrie
TrackFollowing = corvane.ReconstructionAlgorithms.TrackFollowing


def described(tracks):
    return [([hit.id for hit in t.hits], t.missed_last_module, t.missed_penultimate_module) for t in tracks]


def layer_pairs(event_dict):
    """Sum over windows of |outer layer| x |middle layer|."""
    prefix = event_dict["module_prefix_sum"]
    layers = [prefix[2 * k + 2] - prefix[2 * k] for k in range(26)]
    return sum(layers[i] * layers[i - 1] for i in range(2, 26))


def against_references(algorithm, events):
    fast = sum(best_time(lambda e=e: algorithm.solve(e), 7) for e in events)
    literal = sum(best_time(lambda e=e: corvane._baseline.search_by_triplet_trie(algorithm, e), 1) for e in events)
    follow = sum(best_time(lambda e=e: TrackFollowing().solve(e), 7) for e in events)
    build = sum(best_time(lambda e=e: corvane._baseline.triplet_trie_entries(algorithm, e, False), 7) for e in events)
    same = all(described(algorithm.solve(e)) == described(corvane._baseline.search_by_triplet_trie(algorithm, e))
               for e in events)
    n, hits = len(events), sum(e.number_of_hits for e in events) // len(events)
    print(f"solve vs plain scans, {n} events of ~{hits} hits: solve {fast / n * 1e3:.2f} ms/event, "
          f"plain scans {literal / n * 1e3:.1f} ms/event, ratio {literal / fast:.1f}x, identical tracks: {same}")
    print(f"solve vs TrackFollowing.solve: {follow / n * 1e3:.2f} ms/event, ratio {fast / follow:.1f}x")
    # Timed apart, the two can differ by more than the sweep costs.
    print(f"building the tries alone: {build / n * 1e3:.2f} ms/event against {fast / n * 1e3:.2f} for all of solve; "
          f"the sweep and the conversion take the difference, {max(fast - build, 0.0) / n * 1e3:.2f} ms/event")


def batch_speedup():
    batch_threads("SearchByTripletTrie", "200 events of ~5000 hits", "[5000] * 200")


def growth(algorithm):
    print("solve cost by event size (3 events each):")
    base = None
    for size in (1000, 2000, 5000, 10000, 20000):
        dicts = [generate_event(size, seed=100 + s) for s in range(3)]
        events = [Event(d) for d in dicts]
        per_event = sum(best_time(lambda e=e: algorithm.solve(e), 3) for e in events) / 3
        pairs = sum(layer_pairs(d) for d in dicts) / 3
        entries = sum(corvane._baseline.triplet_trie_entries(algorithm, e, False) for e in events) / 3
        base = base or (per_event, pairs)
        print(f"  {size:>6} hits: {per_event * 1e3:8.2f} ms/event (x{per_event / base[0]:6.1f}), "
              f"outer-middle pairs {pairs:10.0f} (x{pairs / base[1]:6.1f}), trie entries {entries:8.0f}, "
              f"{per_event / pairs * 1e9:5.1f} ns per pair")


def main():
    algorithm = SearchByTripletTrie()
    against_references(algorithm, [Event(generate_event(5000, seed=seed)) for seed in range(3)])
    growth(algorithm)
    batch_speedup()


if __name__ == "__main__":
    main()
