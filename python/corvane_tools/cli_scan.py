"""`corvane scan`: every algorithm against one condition of the generated sample."""
import json
import os
import tempfile
from collections.abc import Sequence
from pathlib import Path
from typing import Any, Final

import click

from .algorithms import ALGORITHMS, ALL, THREADS_HELP, AlgorithmUnavailable, resolve_all
from .cli_failure import fail
from .cluster import ClusterError, run_units
from .condition_options import condition_options
from .conditions import ConditionError, Conditions, describe, report as conditions_report
from .job import DEFAULT_CHUNK
from .job_fold import FoldError, JobFold
from .output_paths import OutputPathError, check_output_directory, check_output_file
from .parameters import ParameterError, resolve_settings
from .progress import progress_bar
from .provenance import provenance
from .scan import ScanRow, report, run_scan, scan_settings, scan_tables
from .work_units import JobOptions, WorkUnit

DEFAULT_EVENTS: Final = 50
DEFAULT_SEED: Final = 1


@click.command()
@click.option("--collisions", "collision_values", metavar="N1,N2,...", default=None,
              help="Scan the collisions per event over these settings (short for --vary collisions=...).")
@click.option("--vary", metavar="CONDITION=V1,V2,...", default=None,
              help="Scan any condition over these settings, e.g. --vary hit_efficiency=0.95,0.99,1 "
                   "or --vary overlap_shape=strip,sensors.")
@click.option("--algorithm", "-a", "algorithm_choices", type=click.Choice([*ALGORITHMS, ALL]), multiple=True,
              default=[ALL], help="Algorithm to run, repeatable; 'all' runs every algorithm available.")
@click.option("--param", "-p", "assignments", metavar="ALGORITHM.PARAMETER=VALUE", multiple=True,
              help="Set a parameter of an algorithm, repeatable, as for `corvane run`.")
@click.option("--events", "-n", "count", type=click.IntRange(min=1), default=DEFAULT_EVENTS,
              help="Events generated for each setting.")
@click.option("--seed", "-s", type=click.IntRange(min=0), default=DEFAULT_SEED,
              help="Seed of every setting's sample.")
@click.option("--threads", "-t", type=click.IntRange(min=0), default=None,
              help=THREADS_HELP)
@click.option("--json", "json_path", type=click.Path(path_type=Path), default=None,
              help="Write the scan's table (and the conditions and parameters) to this JSON file.")
@click.option("--plots", "plot_dir", type=click.Path(path_type=Path), default=None,
              help="Draw efficiency, ghost rate and clone rate against the condition (PNG) into this directory.")
@click.option("--html", "html_path", type=click.Path(path_type=Path), default=None,
              help="Write one self-contained HTML page: the tables, the plots, conditions, parameters, provenance.")
@click.option("--scheduler", metavar="tcp://HOST:PORT", default=None, help="Run on this existing Dask cluster.")
@click.option("--workers", "-w", type=click.IntRange(min=1), default=None,
              help="Run on a new Dask cluster of this many worker processes on this machine.")
@click.option("--quiet", "-q", is_flag=True, help="No progress bars.")
@condition_options
def scan(collision_values: str | None, vary: str | None, algorithm_choices: tuple[str, ...],
         assignments: tuple[str, ...], count: int, seed: int, threads: int | None, json_path: Path | None,
         plot_dir: Path | None, html_path: Path | None, scheduler: str | None, workers: int | None, quiet: bool, config: Path | None,
         conditions: Conditions, condition_sources: dict[str, str]) -> None:
    """Reconstruct generated samples that differ in one condition, and tabulate each algorithm's velo and
    long efficiency, ghost rate and clone rates (in percent) against it.

    Every setting's sample has the same size and seed; the other conditions
    come from --config, --condition and the gun options.
    """
    if (collision_values is None) == (vary is None):
        fail("give the settings to scan: --collisions N1,N2,... or --vary CONDITION=V1,V2,...")
    name, values = ("collisions", collision_values) if collision_values is not None else _split(vary or "")
    try:
        names = resolve_all(algorithm_choices)
        settings = resolve_settings(names, config, assignments)
        points = scan_settings(name, values, conditions)
        if json_path is not None:
            check_output_file(json_path, "--json")
        if plot_dir is not None:
            check_output_directory(plot_dir, "--plots")
        if html_path is not None:
            check_output_file(html_path, "--html")
    except (AlgorithmUnavailable, ParameterError, ConditionError, OutputPathError) as error:
        fail(str(error))
    if scheduler is not None and workers is not None:
        fail("--scheduler and --workers exclude each other")
    if threads is not None:
        os.environ["RAYON_NUM_THREADS"] = str(threads)   # read once, when the pool is made
    options = JobOptions(tuple(names), DEFAULT_CHUNK, settings=tuple(settings.values()))
    with progress_bar(count * len(points), "scanning", quiet) as bar:
        def run(units: Sequence[WorkUnit], fold: JobFold) -> None:
            run_units(units, options, fold, bar, scheduler, workers)

        try:
            rows = run_scan(points, count, seed, options, run)
        except (ClusterError, FoldError) as error:
            fail(str(error))
    subtitle = f"{count} events per setting, seed {seed}; {describe(conditions)}"
    click.echo(f"Scan of {name} over {', '.join(value for value, _ in points)}: {subtitle}")
    for scan_table in scan_tables(name, rows, ALGORITHMS):
        click.echo("\n" + scan_table.text(), nl=False)
    document = {"provenance": provenance(seed),
                "scan": report(name, rows, count, seed, conditions_report(conditions, condition_sources)),
                "parameters": {ALGORITHMS[entry.algorithm]: entry.as_report() for entry in settings.values()}}
    try:
        written = _write_outputs(document, rows, json_path, plot_dir, html_path, subtitle)
    except OSError as error:
        fail(f"{error.filename}: cannot be written: {error.strerror or error}")
    for line in written:
        click.echo(line)


def _write_outputs(document: dict[str, Any], rows: Sequence[ScanRow], json_path: Path | None,
                   plot_dir: Path | None, html_path: Path | None, subtitle: str) -> list[str]:
    """Writes the outputs asked for; one line per output written."""
    from .scan_plots import draw_scan

    written = []
    if json_path is not None:
        json_path.write_text(json.dumps(document, indent=1), encoding="utf-8")
        written.append(f"Wrote {json_path}")
    if plot_dir is not None:
        plots = draw_scan(document["scan"]["condition"], rows, plot_dir, ALGORITHMS, subtitle)
        written.append(f"Wrote {len(plots)} plots to {plot_dir}")
    if html_path is not None:
        _write_html(document, rows, html_path, subtitle)
        written.append(f"Wrote {html_path}")
    return written


def _write_html(document: dict[str, Any], rows: Sequence[ScanRow], html_path: Path, subtitle: str) -> None:
    from .scan_html import scan_page
    from .scan_plots import draw_scan

    with tempfile.TemporaryDirectory() as scratch:
        plots = draw_scan(document["scan"]["condition"], rows, Path(scratch), ALGORITHMS, subtitle)
        page = scan_page(document, scan_tables(document["scan"]["condition"], rows, ALGORITHMS), plots)
    html_path.write_text(page, encoding="utf-8")


def _split(vary: str) -> tuple[str, str]:
    name, equals, values = vary.partition("=")
    if not equals or not name.strip() or not values.strip():
        fail(f"--vary takes CONDITION=V1,V2,..., not {vary!r}")
    return name.strip().replace("-", "_"), values
