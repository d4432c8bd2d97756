"""Side-by-side timing of two builds of the module in one run.

A benchmark script that supports `--child REQUEST` prints a JSON object
{label: [seconds, digest]}; compare_builds runs it alternately with this
build and with another one, keeps the best time of each label per build, and
reports whether the digests (of the tracks, say) agree.
"""
import json
import math
import subprocess
import sys

from timing import child_environment


def run_child(script, request, build_dir=None):
    command = [sys.executable, script, "--child", json.dumps(request)]
    out = subprocess.run(command, env=child_environment(build_dir), check=True, capture_output=True, text=True,
                         timeout=1800)
    return json.loads(out.stdout)


def compare_builds(script, request, other_dir, rounds=3):
    """{label: (this seconds, other seconds, same digest)}, best of `rounds`
    alternating runs of each build."""
    best = {"this": {}, "other": {}}
    digests = {"this": {}, "other": {}}
    # Alternating runs, best of each: the cores are shared with other work.
    for name in ("other", "this") * rounds:
        result = run_child(script, request, other_dir if name == "other" else None)
        for label, (seconds, digest) in result.items():
            best[name][label] = min(best[name].get(label, math.inf), seconds)
            digests[name][label] = digest
    return {label: (best["this"][label], best["other"][label], digests["this"][label] == digests["other"][label])
            for label in best["this"]}


def print_comparison(title, other_dir, comparison, target=None):
    print(f"{title}, against the build in {other_dir} (best of alternating runs, thread CPU time):")
    for label, (this, other, same) in comparison.items():
        goal = f" (target >= {target[label]})" if target and label in target else ""
        print(f"  {label:<24} this {this * 1e3:9.3f} ms, other {other * 1e3:9.3f} ms, "
              f"{other / this:5.2f}x faster{goal}, identical tracks: {same}")
