"""The --json report: the detailed validation export, written from per-event statistics kept on disk,
is what json.dump of the whole report held in memory gives, and the file appears whole or not at all."""
import hashlib
import json
import shutil

import pytest
from click.testing import CliRunner

import corvane
from corvane_tools import cli
from corvane_tools.event_snapshots import EventSnapshots
from corvane_tools.provenance import InputDigests
from corvane_tools.report_file import write_report
from corvane_tools.work_units import WorkUnit

SOLVERS = {"track_following": "TrackFollowing", "search_by_triplet_trie": "SearchByTripletTrie"}
SEED, COUNT, BROKEN = 7, 12, 4


def invoke(*args):
    return CliRunner().invoke(cli.main, [str(a) for a in args])


@pytest.fixture(scope="module")
def samples(tmp_path_factory):
    root = tmp_path_factory.mktemp("report")
    for out in (root / "s.parquet", root / "dir"):
        assert invoke("generate", "-q", "-n", COUNT, "-s", SEED, "-o", out).exit_code == 0
    broken = root / "broken"
    shutil.copytree(root / "dir", broken)
    (broken / f"event_{BROKEN:05d}.json").write_text("{")
    events = [json.loads((root / "dir" / f"event_{i:05d}.json").read_text()) for i in range(COUNT)]
    return root, events


def expected_validation(events, name):
    """The detailed export of the events all at once, as the Validator gives it."""
    solver = getattr(corvane.ReconstructionAlgorithms, SOLVERS[name])()
    tracks = solver.solve_batch([corvane.DetectorEvent.Event(event) for event in events])
    return corvane.Validator.export_detailed_metrics_json(events, tracks, False)


@pytest.mark.parametrize("arguments, chosen, status", [
    (["{root}/s.parquet"], range(COUNT), 0),
    (["{root}/s.parquet", "--skip", "3", "--max-events", "5"], range(3, 8), 0),
    (["-n", COUNT, "-s", SEED], range(COUNT), 0),                                  # generated in the job
    (["{root}/broken", "--chunk-size", "2"], [i for i in range(COUNT) if i != BROKEN], 3),   # one event skipped
])
def test_report_holds_every_event_as_json_dump_writes_it(samples, tmp_path, arguments, chosen, status):
    root, events = samples
    path = tmp_path / "report.json"
    result = invoke("run", "-q", *[str(a).format(root=root) for a in arguments], "-a", "track_following",
                    "-a", "search_by_triplet_trie", "--json", path)
    assert result.exit_code == status, result.output
    text = path.read_text()
    report = json.loads(text)
    assert text == json.dumps(report, indent=1)
    for name in SOLVERS:
        assert report["algorithms"][name]["validation"] == expected_validation([events[i] for i in chosen], name)
    assert not list(tmp_path.glob(".*"))   # no temporary file left beside it


def merged(pieces):
    return {key: value for piece in pieces for key, value in piece.items()}


@pytest.mark.parametrize("pieces", [
    [],
    [{}],
    [{"1": []}],
    [{"1": [{"label": "a", "x": 0.1}]}, {}, {"2": [{"label": "a", "x": 1e-7}], "3": []}],
])
@pytest.mark.parametrize("depth", [0, 1, 3])
def test_snapshots_stream_in_at_any_depth(tmp_path, pieces, depth):
    snapshots = EventSnapshots(tmp_path)
    for piece in pieces:
        snapshots.add(piece)
    document, expected = {"events": snapshots, "after": 1}, {"events": merged(pieces), "after": 1}
    for level in range(depth):
        document, expected = {"before": [level], f"level{level}": document}, {"before": [level], f"level{level}": expected}
    write_report(tmp_path / "r.json", document)
    assert (tmp_path / "r.json").read_text() == json.dumps(expected, indent=1)
    assert snapshots.load() == merged(pieces)
    snapshots.close()


class Failing(EventSnapshots):
    def write_to(self, stream, indent):
        stream.write(b"half of it")
        raise OSError(28, "No space left on device")


@pytest.mark.parametrize("before", [None, "the earlier report"])
def test_a_report_that_fails_midway_leaves_nothing_behind(tmp_path, before):
    path = tmp_path / "r.json"
    if before is not None:
        path.write_text(before)
    with pytest.raises(OSError):
        write_report(path, {"events": Failing(tmp_path)})
    assert [p.name for p in tmp_path.iterdir()] == ([] if before is None else ["r.json"])
    assert before is None or path.read_text() == before


def test_inputs_are_hashed_in_the_background(tmp_path):
    files = [tmp_path / "a.parquet", tmp_path / "b.parquet", tmp_path / "gone.parquet"]
    files[0].write_bytes(b"x" * 3_000_000)
    files[1].write_bytes(b"")
    units = [WorkUnit(i, (str(path),), 1) for i, path in enumerate(files + files[:1])]
    digests = InputDigests(units).finished()
    assert digests == {str(files[0]): hashlib.sha256(files[0].read_bytes()).hexdigest(),
                       str(files[1]): hashlib.sha256(b"").hexdigest(), str(files[2]): None}
