"""Generation against reconstruction, under several generator conditions, one command:

    PYTHONPATH=build-dev:python python3 bench/bench_generator.py [--events 60] [--repeat 3] [--end-to-end 2000]

For each set of conditions, on one thread, events/s of
- generating the sample into columns: the Arrow table of its events, as
  `corvane generate` writes it to Parquet and `corvane run -n N` reads it
  (`sample_generation.parquet_chunk`);
- generating it into event dictionaries (`generator.generate_events`), what
  the Python API and JSON output give;
- TrackFollowing solving the same events (solve per event);
and each generation's ratio to TrackFollowing. The target, generation faster
than TrackFollowing, is read on the columnar figure: that is what a user
generating a sample waits for. Each figure is the best of `--repeat` runs on
the thread's CPU clock, after one run that is not timed: the first run pays
for what a long generation pays once (imports, tables made per conditions,
and above all the C library's allocator growing its heap and raising its
thresholds, which costs thousands of page faults over the first few chunks
and made the first timed runs swing with the machine's load).

Then `corvane generate -n N -o sample.parquet` end to end with 1 and 2
processes (default conditions, wall clock of the whole command, start-up
included), unless `--end-to-end 0`.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

import corvane

from corvane_tools.conditions import Conditions, with_values
from corvane_tools.generator import generate_events, simulated_block
from corvane_tools.sample_generation import parquet_chunk

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from timing import best_time, child_environment  # noqa: E402

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


def steady_time(call, repeats):
    """best_time of `call` after one call that is not timed."""
    call()
    return best_time(call, repeats)


def fresh(make):
    """`make` with no simulated block kept from an earlier call (the generator keeps the last two)."""
    def call():
        simulated_block.cache_clear()
        return make()
    return call


def end_to_end(count, processes):
    """events/s of the `generate` command, wall clock."""
    with tempfile.TemporaryDirectory() as directory:
        command = [sys.executable, "-m", "corvane_tools", "generate", "-q", "-n", str(count), "-j", str(processes),
                   "-o", os.path.join(directory, "sample.parquet")]
        start = time.perf_counter()
        subprocess.run(command, check=True, env=child_environment(), timeout=600, stdout=subprocess.DEVNULL)
        return count / (time.perf_counter() - start)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--events", type=int, default=60,
                        help="a multiple of the generator's block of 20 events, so that none is simulated unused")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--end-to-end", type=int, default=2000, metavar="N",
                        help="events of the `generate` runs (0: none)")
    options = parser.parse_args()
    count, seed = options.events, options.seed
    solver = corvane.ReconstructionAlgorithms.TrackFollowing()
    print(f"{count} events per setting, best of {options.repeat}, one thread, events/s (ev/s); load average "
          f"{os.getloadavg()[0]:.1f}")
    print(f"{'conditions':30} {'hits/event':>10} {'columns ev/s':>13} {'dicts ev/s':>11} {'TF solve ev/s':>14} "
          f"{'columns/TF':>11} {'dicts/TF':>9}")
    for label, conditions in SETTINGS.items():
        events = generate_events(count, seed, conditions)
        hits = sum(e["module_prefix_sum"][52] for e in events) / count
        columns = steady_time(fresh(lambda: parquet_chunk(seed, 0, count, conditions)), options.repeat)
        dictionaries = steady_time(fresh(lambda: generate_events(count, seed, conditions)), options.repeat)
        built = [corvane.DetectorEvent.Event(e) for e in events]
        solve = steady_time(lambda: [solver.solve(e) for e in built], options.repeat)
        print(f"{label:30} {hits:10,.0f} {count / columns:13.1f} {count / dictionaries:11.1f} {count / solve:14.1f} "
              f"{solve / columns:10.2f}x {solve / dictionaries:8.2f}x")
    print("(the target is read on columns/TF: above 1, generating an event into columns takes less time than "
          "TrackFollowing takes to solve it)")
    if options.end_to_end:
        for processes in (1, 2):
            rate = end_to_end(options.end_to_end, processes)
            print(f"corvane generate -n {options.end_to_end} -j {processes}: {rate:.1f} events/s end to end "
                  f"(wall clock, start-up included; load average {os.getloadavg()[0]:.1f})")


if __name__ == "__main__":
    main()
