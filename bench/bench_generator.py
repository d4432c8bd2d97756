"""Generation against reconstruction, under several generator conditions, one command:

    PYTHONPATH=build-dev:python python3 bench/bench_generator.py [--events 50] [--repeat 3]

For each set of conditions: events/s of generating the sample on one thread,
and of TrackFollowing solving the same events on one thread (solve per
event), and their ratio. Each figure is the best of `--repeat` runs on the
thread's CPU clock.
"""
import argparse
import os
import sys

import corvane

from corvane_tools.conditions import Conditions, with_values
from corvane_tools.generator import generate_events

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from timing import best_time  # noqa: E402

EARLIER = dict(spectrum="wide_gaussian", noise_per_module=2.2, hit_efficiency=0.98, foil_material=0,
               overlap_shape="strip", conversions=False, delta_rays=False)
SETTINGS = {
    "defaults": Conditions(),
    "defaults, no conversions": with_values(conversions=False),
    "defaults, no delta rays": with_values(delta_rays=False),
    "earlier generator's settings": with_values(**EARLIER),
    "defaults, 12 collisions": with_values(collisions=12),
    "pion gun, 100 per event": with_values(gun="pion", gun_particles="100"),
}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--events", type=int, default=50)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--repeat", type=int, default=3)
    options = parser.parse_args()
    count = options.events
    solver = corvane.ReconstructionAlgorithms.TrackFollowing()
    print(f"{count} events per setting, best of {options.repeat}, one thread")
    print(f"{'conditions':30} {'hits/event':>10} {'generate ev/s':>14} {'TF solve ev/s':>14} {'generate/TF':>12}")
    for label, conditions in SETTINGS.items():
        events = generate_events(count, options.seed, conditions)
        hits = sum(e["module_prefix_sum"][52] for e in events) / count
        generate = best_time(lambda: generate_events(count, options.seed, conditions), options.repeat)
        built = [corvane.DetectorEvent.Event(e) for e in events]
        solve = best_time(lambda: [solver.solve(e) for e in built], options.repeat)
        print(f"{label:30} {hits:10,.0f} {count / generate:14.1f} {count / solve:14.1f} {solve / generate:11.2f}x")
    print("(generate/TF above 1: generating an event takes less time than TrackFollowing takes to solve it)")


if __name__ == "__main__":
    main()
