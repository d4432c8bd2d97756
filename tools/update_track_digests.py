"""Rewrites tests/data/track_digests.json: the digest of every available algorithm's tracks on the fixed
sample tests/data/digest_sample.parquet. Run it when a change of reconstruction output is deliberate, and
say why in the commit.

    PYTHONPATH=build-dev:python python3 tools/update_track_digests.py            # rewrite the digests
    PYTHONPATH=build-dev:python python3 tools/update_track_digests.py --print    # print them, write nothing
    PYTHONPATH=build-dev:python python3 tools/update_track_digests.py --new-sample  # regenerate the sample too

Digests of algorithms this build lacks are kept as they are.
"""
import argparse
import json
from pathlib import Path

import corvane

from corvane_tools.algorithms import ALGORITHMS, available, construct
from corvane_tools.digest import tracks_digest
from corvane_tools.event_files import load_events, write_events
from corvane_tools.generator import generate_events

DATA = Path(__file__).resolve().parent.parent / "tests" / "data"
SAMPLE = DATA / "digest_sample.parquet"
DIGESTS = DATA / "track_digests.json"
SAMPLE_SEED = 20261207
SAMPLE_EVENTS = 2


def compute() -> dict[str, dict[str, object]]:
    events = load_events([SAMPLE], strict=True).events
    built = [corvane.DetectorEvent.Event(event) for event in events]
    result: dict[str, dict[str, object]] = {}
    for name in available():
        tracks = construct(name).solve_batch(built)
        result[name] = {"class": ALGORITHMS[name], "tracks": sum(len(t) for t in tracks),
                        "digest": tracks_digest(tracks)}
    return result


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--print", dest="print_only", action="store_true", help="print the digests, write nothing")
    parser.add_argument("--new-sample", action="store_true", help="regenerate the sample file first")
    options = parser.parse_args()
    if options.new_sample:
        write_events(generate_events(SAMPLE_EVENTS, SAMPLE_SEED), SAMPLE)
    digests = compute()
    if options.print_only:
        print(json.dumps(digests, sort_keys=True))
        return
    stored = json.loads(DIGESTS.read_text()) if DIGESTS.exists() else {}
    stored.update(digests)
    DIGESTS.write_text(json.dumps(stored, indent=1, sort_keys=True) + "\n")
    print(f"wrote {DIGESTS}: {', '.join(sorted(digests))}")


if __name__ == "__main__":
    main()
