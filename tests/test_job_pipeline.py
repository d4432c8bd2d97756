"""The local job as a pipeline (reading beside solving), events that cannot be reconstructed, --max-hits,
and memory that does not grow with the sample."""
import json
import subprocess
import sys
import threading

import pyarrow.parquet as pq
import pytest

from child_process import SANITIZED
from click.testing import CliRunner

import corvane
from corvane_tools import cli, work_units
from corvane_tools.cluster import run_locally
from corvane_tools.event_files import EventFileError
from corvane_tools.generator import generate_events
from corvane_tools.job_fold import JobFold
from corvane_tools.parquet_layout import events_table
from corvane_tools.work_units import JobOptions, plan_units, process_unit

NAMES = ("track_following", "search_by_triplet_trie")
COUNT = 11


@pytest.fixture(scope="module")
def events():
    return generate_events(COUNT, 31)


@pytest.fixture(scope="module")
def sample(events, tmp_path_factory):
    path = tmp_path_factory.mktemp("pipeline") / "s.parquet"
    pq.write_table(events_table(events), path, row_group_size=4)
    return path


def new_fold(units, options):
    """A fold that also keeps each event's content digest, in the order folded."""
    fold = JobFold(units, options)
    fold.event_digests = []
    fold.sinks.append(lambda _first, result: fold.event_digests.extend(i.digest for i in result.identities))
    return fold


def folded(sample, options, pipeline=True):
    units = plan_units([str(sample)], [])
    fold = new_fold(units, options)
    if pipeline:
        run_locally(units, options, fold)
    else:
        for unit in units:
            fold.accept(process_unit(unit, options))
    fold.check_complete()
    return fold


def report(fold):
    return {name: (fold.summary(name), json.dumps(fold.detailed_export(name)), fold.tracks_digest(name))
            for name in fold.names} | {"events": fold.events, "problems": fold.problems,
                                       "digests": fold.event_digests}


def direct(events, name):
    """The serial path: solve every event, validate them all in one call."""
    solver = getattr(corvane.ReconstructionAlgorithms, {"track_following": "TrackFollowing",
                                                        "search_by_triplet_trie": "SearchByTripletTrie"}[name])()
    tracks = [solver.solve(corvane.DetectorEvent.Event(event)) for event in events]
    return json.dumps(corvane.Validator.export_detailed_metrics_json(events, tracks, False))


@pytest.mark.parametrize("chunk_size", [1, 3, 16])
def test_pipeline_equals_the_serial_path(events, sample, chunk_size):
    options = JobOptions(NAMES, chunk_size=chunk_size)
    fold = folded(sample, options)
    assert report(fold) == report(folded(sample, options, pipeline=False))
    assert fold.events == COUNT
    assert json.dumps(fold.detailed_export("track_following")) == direct(events, "track_following")


@pytest.mark.timeout(300)
@pytest.mark.parametrize("per_stretch", [work_units.GENERATED_PER_STRETCH, 3])
def test_generating_in_the_job_gives_the_events_of_a_sample_file(tmp_path, monkeypatch, per_stretch):
    # Simulated by worker processes or here, unit by unit or in a task of its own, in stretches that split
    # units (their first events cut off by --skip) or not, the events of a generated job are those
    # `generate` writes, to the byte: same tracks, same validation, same digests.
    monkeypatch.setattr(work_units, "GENERATED_PER_STRETCH", per_stretch)
    options = JobOptions(NAMES, chunk_size=3, identify=True)
    generated = work_units.window_units(work_units.plan_generated(11, 5, per_unit=5), skip=2)
    path = tmp_path / "g.parquet"
    pq.write_table(events_table(generate_events(11, 5)[2:]), path, row_group_size=4)
    from_file = report(folded(path, options, pipeline=False))
    for processes in (1, 2):
        fold = new_fold(generated, options)
        run_locally(generated, options, fold, processes=processes)
        assert report(fold) == from_file
    fold = new_fold(generated, options)
    for unit in generated:
        fold.accept(process_unit(unit, options))
    assert report(fold) == from_file


class FailingSolver:
    """Wraps a solver; one event (picked by its number of hits) fails as asked."""

    def __init__(self, solver, hits, error):
        self.solver, self.hits, self.error = solver, hits, error

    def solve(self, event):
        if event.number_of_hits == self.hits:
            raise self.error("out of memory in this event")
        return self.solver.solve(event)

    def solve_batch(self, events):
        if any(event.number_of_hits == self.hits for event in events):
            raise self.error("out of memory in this event")
        return self.solver.solve_batch(events)


@pytest.mark.parametrize("error", [MemoryError, corvane.InternalFailure])
@pytest.mark.parametrize("strict", [False, True])
def test_an_event_that_fails_is_skipped_and_named(monkeypatch, events, sample, error, strict):
    bad = 6
    hits = events[bad]["module_prefix_sum"][52]
    real = work_units.construct
    monkeypatch.setattr(work_units, "construct",
                        lambda name, settings=None: FailingSolver(real(name, settings), hits, error)
                        if name == "search_by_triplet_trie" else real(name, settings))
    options = JobOptions(NAMES, chunk_size=3, strict=strict)
    if strict:
        with pytest.raises(EventFileError, match=rf"s.parquet \[event {bad}\]: SearchByTripletTrie failed: "):
            folded(sample, options)
        # The job's reader and solver threads end with it, not waiting for ever on their queues.
        assert not [thread.name for thread in threading.enumerate() if thread.name.startswith("corvane-")]
        return
    fold = folded(sample, options)
    assert fold.problems == [f"{sample} [event {bad}]: SearchByTripletTrie failed: {error.__name__}: "
                             f"out of memory in this event; skipped"]
    assert (fold.events, fold.skipped) == (COUNT - 1, 1)
    others = events[:bad] + events[bad + 1:]
    for name in NAMES:  # every algorithm leaves the event out, so the reports stay comparable
        assert json.dumps(fold.detailed_export(name)) == direct(others, name)


@pytest.mark.parametrize("extra, status, processed", [
    ([], 3, COUNT - 2),
    (["--keep-going"], 0, COUNT - 2),
    (["--strict"], 1, None),
])
def test_max_hits_skips_large_events_before_solving(events, sample, extra, status, processed):
    sizes = sorted(event["module_prefix_sum"][52] for event in events)
    limit = sizes[-3]
    result = CliRunner().invoke(cli.main, ["run", str(sample), "-a", "track_following", "-q", "--max-hits",
                                           str(limit), *extra])
    assert result.exit_code == status, result.output
    assert f"hits, above --max-hits {limit:,}" in result.output
    if processed is not None:
        assert f"Processed {processed} events (2 skipped)" in result.output


def peak_memory(*arguments):
    """Peak resident memory (kB) of a `corvane` command run in a fresh process."""
    code = ("import resource, subprocess, sys; subprocess.run(sys.argv[1:], check=True, timeout=600, "
            "stdout=subprocess.DEVNULL); print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
    done = subprocess.run([sys.executable, "-c", code, sys.executable, "-m", "corvane_tools", *arguments],
                          capture_output=True, text=True, timeout=700, check=True)
    return int(done.stdout)


def many_row_groups(tmp_path):
    """A generated sample of 1,600 events in row groups of 4: a footer of 400 row groups."""
    made = tmp_path / "made.parquet"
    subprocess.run([sys.executable, "-m", "corvane_tools", "generate", "-q", "-j", "1", "-n", "1600", "-o", made],
                   check=True, timeout=600, stdout=subprocess.DEVNULL)
    made_file = pq.ParquetFile(made)
    path = tmp_path / "groups.parquet"
    with pq.ParquetWriter(path, made_file.schema_arrow) as writer:
        writer.write_table(made_file.read(), row_group_size=4)
    return path


@pytest.mark.timeout(900)
# AddressSanitizer holds freed memory in quarantine and pads every block: its peaks say nothing of the job's.
@pytest.mark.skipif(SANITIZED, reason="resident memory under AddressSanitizer is the sanitizer's")
@pytest.mark.parametrize("command", ["generate", "run -n", "run FILE", "run -n with outputs"])
def test_memory_does_not_grow_with_the_sample(tmp_path, command):
    # Ten times the events: all of them at once would take several times the small run's memory, and so
    # would anything kept per event, per unit or per row group; the generous bound leaves room for noise.
    if command == "generate":
        small = peak_memory("generate", "-q", "-j", "1", "-n", "160", "-o", tmp_path / "small.parquet")
        large = peak_memory("generate", "-q", "-j", "1", "-n", "1600", "-o", tmp_path / "large.parquet")
    elif command == "run -n":   # simulated in the job, by two worker processes
        small, large = (peak_memory("run", "-q", "-a", "track_following", "-t", "2", "-n", count)
                        for count in ("320", "3200"))
    elif command == "run -n with outputs":   # small events: what the outputs keep per event dominates
        small, large = (peak_memory("run", "-q", "-a", "track_following", "-t", "2", "--gun", "muon", "-n", count,
                                    "--json", tmp_path / "r.json", "--tracks", tmp_path / "t.parquet",
                                    "--html", tmp_path / "r.html")
                        for count in ("2000", "20000"))
    else:
        path = many_row_groups(tmp_path)
        small, large = (peak_memory("run", path, "-q", "-a", "track_following", *window)
                        for window in (("--max-events", "160"), ()))
    assert large < 1.3 * small, (small, large)


@pytest.mark.parametrize("column, value", [
    (None, None),                  # as generated
    ("key", -5), ("pid", 2 ** 40), ("isLong", 2 ** 33), ("hasVelo", -(2 ** 35)), ("fromBeautyDecay", 7),
    ("p", float("nan")), ("p", -5000.5), ("hits", [0, -1, 2]), ("hits", [0, 10 ** 7, 1]),
])
def test_typed_columns_measure_as_rows_do(events, column, value):
    from corvane_tools.typed_truth import TypedTruth, truth_columns

    chosen = [dict(event, montecarlo={"description": list(event["montecarlo"]["description"]),
                                      "particles": [list(row) for row in event["montecarlo"]["particles"]]})
              for event in events[:3]] + [dict(events[3], montecarlo=None)]
    if column is not None:
        for event in chosen[:3]:
            event["montecarlo"]["particles"][1][event["montecarlo"]["description"].index(column)] = value
    entries = events_table(chosen).column("montecarlo").combine_chunks()
    typed = [dict(event, montecarlo=TypedTruth(entries.slice(i, 1)) if event["montecarlo"] else None)
             for i, event in enumerate(chosen)]
    solver = corvane.ReconstructionAlgorithms.TrackFollowing()
    tracks = [solver.solve(corvane.DetectorEvent.Event(event)) for event in chosen]
    rows = [event if event["montecarlo"] else {k: v for k, v in event.items() if k != "montecarlo"} for event in chosen]
    assert (corvane._records.measure_columns(*truth_columns(typed), tracks)
            == corvane._records.measure_events(rows, tracks))


@pytest.mark.parametrize("fails", [False, True])
def test_switch_interval_is_short_during_jobs_and_restored_after(sample, fails):
    from corvane_tools.job_pipeline import HANDOFF_SECONDS, quick_handoffs, run_pipeline

    before = sys.getswitchinterval()
    seen = []

    def accept(_result):
        seen.append(sys.getswitchinterval())
        with quick_handoffs:  # a second job beside this one keeps it short until both end
            pass
        assert sys.getswitchinterval() == min(before, HANDOFF_SECONDS)
        if fails:
            raise RuntimeError("stop")

    options = JobOptions(("track_following",))
    try:
        run_pipeline(plan_units([str(sample)], [])[:1], options, accept)
    except RuntimeError:
        assert fails
    assert seen == [min(before, HANDOFF_SECONDS)]
    assert sys.getswitchinterval() == before
