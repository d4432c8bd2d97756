"""`corvane tune`: search an algorithm's parameters, confirm them on held-out events, save them."""
import contextlib
import json
import os
import sys
import time
from collections.abc import Iterator
from pathlib import Path
from typing import TYPE_CHECKING, Any, Final

import click

from .algorithms import ALGORITHMS, THREADS_HELP, AlgorithmUnavailable, pool_size, resolve
from .cli_failure import fail
from .cluster import ClusterError, cluster_client
from .condition_options import condition_options, set_on_command_line
from .conditions import Conditions
from .event_files import EventFileError, expand_inputs
from .output_paths import OutputPathError, check_not_an_input, check_output_file
from .progress import progress_bar
from .provenance import file_digest, provenance
from .tuning_sample import Sample, SampleSpec, load_sample, measure, measure_on_cluster
from .tuning_score import DEFAULT_OBJECTIVE, OBJECTIVE_HELP, ObjectiveError, parse_objective

if TYPE_CHECKING:
    from .tuning import TuningResult

DEFAULT_TRIALS: Final = 100
DEFAULT_EVENTS: Final = 50
DEFAULT_SEED: Final = 1
INTERRUPTED: Final = 130   # Ctrl-C (128 + SIGINT), as shells report it


@contextlib.contextmanager
def _measurer(name: str, scheduler: str | None, workers: int | None) -> Iterator[tuple[Any, str]]:
    """How a trial is measured: on this process's worker pool, or as tasks on a Dask cluster."""
    if scheduler is None and workers is None:
        yield (lambda sample, settings: measure(sample, name, settings)), \
            f"{pool_size()} worker threads in this process"
        return
    with cluster_client(scheduler, workers) as client:
        where = (f"the cluster at {scheduler}" if scheduler
                 else f"a local cluster of {workers} worker processes")
        yield (lambda sample, settings: measure_on_cluster(client, sample, name, settings)), where


def _sample(source: SampleSpec) -> Sample:
    try:
        sample = load_sample(source)
    except EventFileError as error:
        fail(str(error))
    if not sample.events:
        fail(f"no events in {', '.join(source.paths)}")
    return sample


@click.command(context_settings={"show_default": True})
@click.argument("inputs", nargs=-1, type=click.Path())
@click.option("--algorithm", "-a", type=click.Choice(list(ALGORITHMS)), required=True,
              help="Algorithm whose parameters are searched.")
@click.option("--trials", type=click.IntRange(min=1), default=DEFAULT_TRIALS,
              help="Parameter settings to try; the first is the defaults.")
@click.option("--objective", default=DEFAULT_OBJECTIVE, help=OBJECTIVE_HELP)
@click.option("--seed", "-s", type=click.IntRange(min=0), default=DEFAULT_SEED,
              help="Seed of the search and of the generated tuning sample; the same seed gives the same trials.")
@click.option("--events", "-n", "count", type=click.IntRange(min=1), default=DEFAULT_EVENTS,
              help="Size of each generated sample (tuning and held-out) when no input is given.")
@click.option("--holdout", multiple=True, type=click.Path(),
              help="Held-out event files or directories (repeatable); needed with INPUTS. "
                   "Default: a generated sample of the held-out seed.")
@click.option("--holdout-seed", type=click.IntRange(min=0), default=None,
              help="Seed of the generated held-out sample.  [default: --seed + 1]")
@click.option("--out", "-o", type=click.Path(path_type=Path), default=Path("best.toml"),
              help="Write the best settings here, as a file that `corvane run --config` reads.")
@click.option("--plot", "plot_path", type=click.Path(path_type=Path), default=Path("tuning_tradeoff.png"),
              help="Draw every trial's velo efficiency against its ghost rate, the Pareto front marked (PNG).")
@click.option("--json", "json_path", type=click.Path(path_type=Path), default=None,
              help="Write the tuning report (every trial, both samples, provenance) to this JSON file.")
@click.option("--html", "html_path", type=click.Path(path_type=Path), default=None,
              help="Write a self-contained HTML page with the tables, the plot, the parameters and the provenance.")
@click.option("--threads", "-t", type=click.IntRange(min=0), default=None,
              help=THREADS_HELP)
@click.option("--scheduler", metavar="tcp://HOST:PORT", default=None,
              help="Measure trials on the existing Dask cluster of this scheduler.")
@click.option("--workers", "-w", type=click.IntRange(min=1), default=None,
              help="Measure trials on a new Dask cluster of this many worker processes on this machine.")
@click.option("--quiet", "-q", is_flag=True, help="No progress bar.")
@condition_options
def tune_command(inputs: tuple[str, ...], algorithm: str, trials: int, objective: str, seed: int, count: int,
                 holdout: tuple[str, ...], holdout_seed: int | None, out: Path, plot_path: Path,
                 json_path: Path | None, html_path: Path | None, threads: int | None, scheduler: str | None,
                 workers: int | None, quiet: bool, conditions: Conditions,
                 condition_sources: dict[str, str]) -> None:
    """Search an algorithm's parameters for the best score on a tuning sample, then confirm the best
    settings on a separate held-out sample.

    INPUTS are the tuning sample's event files (then --holdout is needed);
    without them both samples are generated, with --seed and --holdout-seed.
    Every trial solves the whole tuning sample with the batch solver and
    validates it. Prints the defaults and the best settings on both samples,
    writes the best settings (--out), draws the trade-off of all trials (--plot).
    """
    try:
        resolve(algorithm)
        weights = parse_objective(objective)
    except (AlgorithmUnavailable, ObjectiveError) as error:
        fail(str(error))
    if scheduler is not None and workers is not None:
        fail("--scheduler and --workers exclude each other")
    if inputs and not holdout:
        fail("with tuning INPUTS, name the held-out events with --holdout")
    if inputs and set_on_command_line(condition_sources):
        fail("--condition and the gun options set up generated samples; they do not apply to input files")
    try:
        for path, option in ((out, "--out"), (plot_path, "--plot"), (json_path, "--json"), (html_path, "--html")):
            if path is not None:
                check_output_file(path, option)
                check_not_an_input(path, option, (*inputs, *holdout))
    except OutputPathError as error:
        fail(str(error))
    if threads is not None:
        os.environ["RAYON_NUM_THREADS"] = str(threads)
    holdout_seed = seed + 1 if holdout_seed is None else holdout_seed
    tuning = _sample(SampleSpec(paths=tuple(inputs)) if inputs else SampleSpec(seed, count, conditions=conditions))
    held_out = _sample(SampleSpec(paths=tuple(holdout)) if holdout
                       else SampleSpec(holdout_seed, count, conditions=conditions))
    from .tuning import tune  # Optuna loads in a second: only when tuning
    from .tuning_report import tuning_report

    try:
        with _measurer(algorithm, scheduler, workers) as (measurer, where):
            began = time.perf_counter()
            with progress_bar(trials, "tuning", quiet) as bar:
                bar.unit = "trial"
                result = tune(algorithm, tuning, held_out, trials, weights, seed, measurer, bar)
            seconds = time.perf_counter() - began
    except ClusterError as error:
        fail(str(error))
    except KeyboardInterrupt:
        click.echo("corvane: interrupted before a result", err=True)
        sys.exit(INTERRUPTED)
    report = tuning_report(result, objective, weights, seed, where, seconds,
                           provenance(seed, inputs=[*_input_files(inputs, "tuning"), *_input_files(holdout, "held-out")]))
    _print(report)
    if result.interrupted:
        click.echo(f"corvane: interrupted: the results above cover the {len(result.trials)} of {trials} trials "
                   "completed; no output files written", err=True)
        sys.exit(INTERRUPTED)
    _write(result, report, out, plot_path, json_path, html_path)


def _input_files(paths: tuple[str, ...], sample: str) -> list[dict[str, Any]]:
    """Each event file of a sample with its SHA-256, for the report's provenance."""
    return [{"path": str(path), "sample": sample, "sha256": file_digest(path)} for path in expand_inputs(paths)]


def _print(report: dict[str, Any]) -> None:
    from .tuning_report import parameter_table, results_table

    click.echo(f"Tuned {report['class']}: {len(report['trials'])} trials on "
               f"{report['tuning_sample']['description']}, {report['tuning_sample']['hits']:,} hits, "
               f"in {report['seconds']:.1f} s on {report['where']}")
    click.echo(f"Objective (maximised): {report['objective']['text']}\n")
    click.echo(parameter_table(report).text())
    click.echo(results_table(report).text())


def _write(result: "TuningResult", report: dict[str, Any], out: Path, plot_path: Path, json_path: Path | None,
           html_path: Path | None) -> None:
    from .tuning_plot import draw_tradeoff
    from .tuning_report import settings_toml

    comment = (f"Best of {len(result.trials)} trials of corvane tune on {result.tuning.describe()}, "
               f"objective {report['objective']['text']}")
    try:
        out.write_text(settings_toml(result.name, result.best.settings, comment), encoding="utf-8")
        click.echo(f"Wrote {out} (use it with: corvane run --config {out})")
        draw_tradeoff(result, report["class"], report["objective"]["text"], plot_path)
        click.echo(f"Wrote {plot_path}")
        if json_path is not None:
            json_path.write_text(json.dumps(report, indent=1), encoding="utf-8")
            click.echo(f"Wrote {json_path}")
        if html_path is not None:
            from .html_report import tune_page

            html_path.write_text(tune_page(report, [plot_path]), encoding="utf-8")
            click.echo(f"Wrote {html_path}")
    except OSError as error:
        fail(f"{error.filename}: cannot be written: {error.strerror or error}")
