"""The job on a Dask cluster of worker processes (loopback only) gives, byte for
byte, what it gives in one process; lost workers and bad files change nothing
else."""
import dataclasses
import json
import os
import signal

import pytest

distributed = pytest.importorskip("distributed")

# A cluster that stops answering must fail its test, not stall the whole run.
pytestmark = pytest.mark.timeout(300)

import corvane  # noqa: E402
from click.testing import CliRunner  # noqa: E402
from corvane_tools import cli  # noqa: E402
from corvane_tools import cluster  # noqa: E402
from corvane_tools.cluster import run_locally, run_on_cluster  # noqa: E402
from corvane_tools.event_files import EventFileError, load_events, write_events, write_parquet  # noqa: E402
from corvane_tools.binned import BINNED_VARIABLES, edges_for_counts, efficiency_in_bins, ghost_rates  # noqa: E402
from corvane_tools.conditions import with_values  # noqa: E402
from corvane_tools.generator import generate_range  # noqa: E402
from corvane_tools.job import hit_count, validation_input  # noqa: E402
from corvane_tools.job_fold import FoldError, JobFold  # noqa: E402
from corvane_tools.work_units import JobOptions, plan_generated, plan_units, process_unit  # noqa: E402
from job_reference import ghost_rate_by_hits  # noqa: E402

NAMES = ("track_following",)


@pytest.fixture(scope="module")
def sample(tmp_path_factory):
    """200 events: a Parquet file of several row groups and a directory of JSON files."""
    root = tmp_path_factory.mktemp("events")
    write_parquet(generate_range(5, 0, 150), root / "a.parquet", row_group_events=32)
    write_events(generate_range(6, 0, 50), root / "json")
    return [str(root / "a.parquet"), str(root / "json")]


@pytest.fixture(scope="module")
def client():
    with cluster.cluster_client(workers=2) as client:
        yield client


def outputs(fold):
    """What a run reports, as the text written to files and the terminal."""
    return {name: (fold.summary(name), json.dumps(fold.detailed_export(name)), fold.tracks_digest(name), fold.events)
            for name in fold.names}


def run_job(paths, client=None, progress=None, strict=False):
    problems = []
    units = plan_units(paths, problems, strict)
    options = JobOptions(NAMES, strict=strict)
    fold = JobFold(units, options, detailed=True)
    if client is None:
        run_locally(units, options, fold)
    else:
        run_on_cluster(client, units, options, fold, progress)
    fold.check_complete()
    return fold


@pytest.fixture(scope="module")
def local_fold(sample):
    return run_job(sample)


def test_local_run_equals_the_validator(sample, local_fold, capfd):
    """The unit path reports what the Validator functions report on all events at once."""
    loaded = load_events(sample)
    events = validation_input(loaded.events)
    solver = corvane.ReconstructionAlgorithms.TrackFollowing()
    tracks = solver.solve_batch([corvane.DetectorEvent.Event(event) for event in loaded.events])
    corvane.Validator.print_validation_summary(events, tracks, False)
    assert local_fold.summary(NAMES[0]) == capfd.readouterr().out
    detailed = local_fold.detailed_export(NAMES[0])
    assert json.dumps(detailed) == json.dumps(corvane.Validator.export_detailed_metrics_json(events, tracks, False))
    totals = {key: value for key, value in detailed.items() if key != "events"}
    assert json.dumps(totals) == json.dumps(corvane.Validator.export_validation_to_json(events, tracks, False))
    assert local_fold.events == len(events) == 200


def test_cluster_equals_local(sample, local_fold, client):
    assert outputs(run_job(sample, client)) == outputs(local_fold)


class KillOnce:
    """A progress bar that kills one worker process after the first finished unit."""

    def __init__(self, client):
        self.client, self.killed = client, False

    def update(self, _count):
        if not self.killed:
            pids = self.client.run(os.getpid)
            os.kill(next(iter(pids.values())), signal.SIGKILL)
            self.killed = True


def test_lost_worker_changes_nothing(sample, local_fold, client):
    progress = KillOnce(client)
    fold = run_job(sample, client, progress)
    assert progress.killed
    assert outputs(fold) == outputs(local_fold)
    client.wait_for_workers(2, timeout=60)


@pytest.fixture(scope="module")
def with_bad_file(tmp_path_factory):
    """Four JSON events and a Parquet file of two, one of the JSON files cut short."""
    root = tmp_path_factory.mktemp("bad")
    write_events(generate_range(7, 0, 4), root / "json")
    write_events(generate_range(8, 0, 2), root / "b.parquet")
    bad = root / "json" / "event_00001.json"
    bad.write_text('{"x": [1.0]')
    return [str(root / "json"), str(root / "b.parquet")], str(bad)


@pytest.mark.parametrize("on_cluster", [False, True])
def test_bad_file_reported_by_name(with_bad_file, client, on_cluster):
    paths, bad = with_bad_file
    fold = run_job(paths, client if on_cluster else None)
    assert fold.events == 5 and fold.skipped == 1
    assert len(fold.problems) == 1 and fold.problems[0].startswith(bad + ": not valid JSON")
    with pytest.raises(EventFileError, match="event_00001.json"):
        run_job(paths, client if on_cluster else None, strict=True)


@pytest.mark.parametrize("extra, status", [([], cli.PARTIAL), (["--keep-going"], 0)])
def test_command_on_an_existing_cluster(with_bad_file, client, extra, status, tmp_path):
    paths, bad = with_bad_file
    report = tmp_path / "report.json"
    result = CliRunner().invoke(cli.main, ["run", *paths, "-q", "--json", str(report),
                                           "--scheduler", client.scheduler.address, *extra])
    assert result.exit_code == status, result.output
    assert f"skipped: {bad}" in result.output
    assert "Processed 5 events (1 skipped)" in result.output
    assert json.loads(report.read_text())["events"] == 5


@pytest.mark.timeout(60)
@pytest.mark.parametrize("address", ["tcp://127.0.0.1:9", "127.0.0.1", "xyz://127.0.0.1:9"])
def test_unreachable_scheduler_fails_clearly(sample, address):
    result = CliRunner().invoke(cli.main, ["run", *sample, "-q", "--scheduler", address])
    assert result.exit_code == cli.FAILED
    assert f"cannot reach the scheduler at {address}" in result.output
    assert [line for line in result.output.splitlines() if "error" in line or "Traceback" in line] == [
        next(line for line in result.output.splitlines() if "cannot reach" in line)]
    # A client that failed to connect must not linger as the default one: Dask helpers that look
    # the default up (as_completed) would wait on its loop for ever.
    assert distributed.client._get_global_client() is None


@pytest.fixture(scope="module")
def small_units():
    units = plan_generated(6, seed=9, per_unit=2)
    options = JobOptions(NAMES)
    return units, options, [process_unit(unit, options) for unit in units]


@pytest.mark.parametrize("order", [(0, 1, 2), (2, 1, 0), (1, 2, 0)])
def test_results_fold_in_unit_order_whatever_their_arrival(small_units, order):
    units, options, results = small_units
    in_order = JobFold(units, options)
    for result in results:
        in_order.accept(result)
    shuffled = JobFold(units, options)
    for index in order:
        shuffled.accept(results[index])
    shuffled.check_complete()
    assert outputs(shuffled) == outputs(in_order)


def test_fold_refuses_repeated_and_missing_units(small_units):
    units, options, results = small_units
    fold = JobFold(units, options)
    fold.accept(results[1])
    with pytest.raises(FoldError, match="unexpected result for unit 1"):
        fold.accept(results[1])
    with pytest.raises(FoldError, match=r"no result for units \[0, 2\]"):
        fold.check_complete()
    short = dataclasses.replace(results[0], events=1)
    with pytest.raises(FoldError, match="1 events processed, 2 planned"):
        fold.accept(short)


@pytest.mark.parametrize("conditions", [dict(collisions=3, fixed_collisions=True, noise_per_module=5),
                                        dict(gun="kaon", gun_particles="20-40", gun_origin="random")])
def test_generated_conditions_reach_the_workers(client, conditions):
    """Units of a sample under other conditions give the same results on the cluster as here."""
    units = plan_generated(20, seed=4, per_unit=10, conditions=with_values(**conditions))
    folds = []
    for on_cluster in (False, True):
        fold = JobFold(units, JobOptions(NAMES), detailed=True)
        (run_on_cluster(client, units, JobOptions(NAMES), fold) if on_cluster
         else run_locally(units, JobOptions(NAMES), fold))
        folds.append(outputs(fold))
    assert folds[0] == folds[1]
    assert folds[0] != outputs(run_defaults(units))


def run_defaults(units):
    plain = [dataclasses.replace(unit, conditions=None) for unit in units]
    fold = JobFold(plain, JobOptions(NAMES), detailed=True)
    run_locally(plain, JobOptions(NAMES), fold)
    return fold


def test_plot_counts_add_up_wherever_units_run(client):
    """What the plots show, counted unit by unit here or on the cluster, equals counting all events at once."""
    units = plan_generated(40, seed=12, per_unit=10)
    options = JobOptions(NAMES, plots=True)
    folds = []
    for on_cluster in (False, True):
        fold = JobFold(units, options, detailed=False)
        (run_on_cluster(client, units, options, fold) if on_cluster else run_locally(units, options, fold))
        folds.append(fold.plot_inputs())
    assert folds[0] == folds[1]

    events = generate_range(12, 0, 40)
    tracks = corvane.ReconstructionAlgorithms.TrackFollowing().solve_batch(
        [corvane.DetectorEvent.Event(event) for event in events])
    plotted = folds[0][0]
    for variable, edges in BINNED_VARIABLES.items():
        assert plotted.efficiency[variable] == efficiency_in_bins(events, tracks, variable, edges)
    edges = edges_for_counts([hit_count(event) for event in events])
    assert edges_for_counts(plotted.hit_counts) == edges
    assert ghost_rates(plotted.hit_counts, plotted.event_totals, edges) == ghost_rate_by_hits(events, tracks, edges)


def test_cluster_without_workers_fails_clearly(sample, monkeypatch):
    monkeypatch.setattr(cluster, "WORKERS_TIMEOUT", "1s")
    with distributed.LocalCluster(n_workers=0, host="127.0.0.1", dashboard_address="127.0.0.1:0") as empty:
        result = CliRunner().invoke(cli.main, ["run", *sample, "-q", "--scheduler", empty.scheduler_address])
    assert result.exit_code == cli.FAILED
    assert f"the cluster at {empty.scheduler_address} has no workers" in result.output


def test_settings_travel_with_the_units(client):
    """Workers build their solvers with the job's parameters, as this process does."""
    from corvane_tools.parameters import resolve_settings

    units = plan_generated(4, seed=13, per_unit=2)
    settings = resolve_settings(NAMES, None, ["track_following.max_tolerance=0.15,0.15"])
    tuned = JobOptions(NAMES, settings=tuple(settings.values()))
    digests = []
    for options, on_cluster in ((tuned, False), (tuned, True), (JobOptions(NAMES), False)):
        fold = JobFold(units, options, detailed=False)
        (run_on_cluster(client, units, options, fold) if on_cluster else run_locally(units, options, fold))
        digests.append(fold.tracks_digest(NAMES[0]))
    assert digests[0] == digests[1] != digests[2]
