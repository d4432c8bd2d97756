"""What one tuning trial costs: the trial as `corvane tune` runs it (events and validation input
prepared once) against a trial that reads the sample afresh (Event objects and validation input
rebuilt), and the share of a trial spent solving. Ratios are measured in one run.

    python bench/bench_tuning.py [--events 50] [--repeats 5]
"""
import argparse
import time

import corvane
from timing import best_time

from corvane_tools.job import validation_input
from corvane_tools.parameters import AlgorithmSettings, construct
from corvane_tools.tuning_sample import Sample, SampleSpec, load_sample, measure


def _fresh_trial(sample: Sample, name: str, settings: dict) -> None:
    handles = [corvane.DetectorEvent.Event(event) for event in sample.events]
    tracks = construct(name, AlgorithmSettings.defaults(name)).solve_batch(handles)
    corvane.Validator.export_validation_to_json(validation_input(sample.events), tracks, False)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--events", type=int, default=50)
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()
    sample = load_sample(SampleSpec(seed=1, count=args.events))
    for name in ("track_following", "search_by_triplet_trie", "graph_dfs"):
        settings = AlgorithmSettings.defaults(name).keyword_arguments()
        solver = construct(name, AlgorithmSettings.defaults(name))
        prepared = best_time(lambda: measure(sample, name, settings), args.repeats, time.perf_counter)
        fresh = best_time(lambda: _fresh_trial(sample, name, settings), args.repeats, time.perf_counter)
        solving = best_time(lambda: solver.solve_batch(sample.handles), args.repeats, time.perf_counter)
        print(f"{name}: trial {1000 * prepared:.1f} ms on {args.events} events (solving {100 * solving / prepared:.0f}% "
              f"of it); rebuilding the sample each trial {1000 * fresh:.1f} ms ({fresh / prepared:.2f}x)")


if __name__ == "__main__":
    main()
