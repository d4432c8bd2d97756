"""The `corvane` command: generate events, run the reconstruction job, draw an event."""
from . import arrow_pool  # noqa: F401  (first: it names Arrow's pool before pyarrow is imported)
import os
import sys
import tempfile
import time
from pathlib import Path
from typing import Any, Final

import click
import corvane

from . import __version__
from .algorithms import ALGORITHMS, ALL, THREADS_HELP, AlgorithmUnavailable, available_processors, resolve, resolve_all
from .cluster import ClusterError, describe_where, run_units
from .cli_failure import FAILED, fail as _fail  # noqa: F401  (FAILED: the exit status, as cli.FAILED)
from .condition_options import condition_options, set_on_command_line
from .conditions import Conditions, describe, report as conditions_report
from .event_choice import nth_event
from .event_dict import plain
from .event_files import EventFileError
from .job import DEFAULT_CHUNK
from .output_paths import (
    OutputPathError,
    check_not_an_input,
    check_output_directory,
    check_output_file,
    image_path,
    replacing,
)
from .progress import progress_bar
from .allocator import arrow_pool_reusing_memory, return_large_blocks
from .summary_output import RAW_SUMMARY_HELP, print_summaries
from .job_fold import FoldError, JobFold
from .parameters import DEFAULT, ParameterError, construct as construct_with, format_value, resolve_settings
from .sample_generation import generate_sample
from .sample_output import OutputError, incomplete_sample
from .cli_compare import compare
from .cli_tune import tune_command
from .report_file import write_report
from .provenance import COMMAND_LINE_KEY, EventsDigest, InputDigests, input_files, provenance
from .saved_tracks import SavedTracksError, open_saved, saving_tracks, validate_saved
from .user_algorithms import SPEC_PATTERN, UserAlgorithmError, is_user_algorithm, load as load_user_algorithm
from .work_units import JobOptions, plan_generated, plan_units, read_unit, window_units
from .cli_scan import scan

DEFAULT_EVENTS: Final = 50
DEFAULT_SEED: Final = 1

# Exit statuses (and FAILED).
PARTIAL: Final = 3         # finished, but some input files or events were skipped
INTERRUPTED: Final = 130   # Ctrl-C (128 + SIGINT), as shells report it


def plural(count: int, noun: str) -> str:
    return f"{count:,} {noun}" + ("" if count == 1 else "s")


def _warn_incomplete(inputs: tuple[str, ...]) -> None:
    for name in inputs:
        path = Path(name)
        try:
            reason = incomplete_sample(path) if path.is_dir() else None
        except OSError:
            continue  # an unreadable directory is reported where its events are read
        if reason is not None:
            click.echo(f"corvane: warning: {path}: the sample may be incomplete: {reason}", err=True)


class AlgorithmChoice(click.ParamType[str]):
    """A built-in algorithm's name, "all", or a user's algorithm as package.module:factory."""
    name = "algorithm"

    def convert(self, value: Any, param: click.Parameter | None, ctx: click.Context | None) -> str:
        if value in (*ALGORITHMS, ALL) or SPEC_PATTERN.fullmatch(str(value)):
            return str(value)
        self.fail(f"'{value}' is not one of {', '.join(repr(name) for name in (*ALGORITHMS, ALL))}, "
                  "nor package.module:factory", param, ctx)

    def get_metavar(self, param: click.Parameter, ctx: click.Context | None = None) -> str:
        return "[" + "|".join((*ALGORITHMS, ALL, "package.module:factory")) + "]"


class CommandGroup(click.Group):
    """Keeps the command line as given (the reports record it), however the command was invoked."""

    def parse_args(self, ctx: click.Context, args: list[str]) -> list[str]:
        ctx.meta[COMMAND_LINE_KEY] = ["corvane", *args]
        return super().parse_args(ctx, args)


@click.group(cls=CommandGroup, context_settings={"help_option_names": ["-h", "--help"], "show_default": True})
@click.version_option(__version__, prog_name="corvane")
def main() -> None:
    """Reconstruct straight tracks in the 52-module pixel detector and validate them against Monte Carlo truth.

    Start with `corvane run`: it generates a sample, reconstructs it
    with every available algorithm and prints the validation summaries.
    """
    return_large_blocks()
    arrow_pool_reusing_memory()


@main.command()
@click.option("--events", "-n", "count", type=click.IntRange(min=1), default=None,
              help=f"Number of events to generate  [default: {DEFAULT_EVENTS}, or 1 for a .json file]")
@click.option("--seed", "-s", type=click.IntRange(min=0), default=DEFAULT_SEED,
              help="Seed of the simulation; the same seed gives the same events.")
@click.option("--out", "-o", type=click.Path(path_type=Path), required=True,
              help="Where to write: a .parquet file (any number of events), a .json file (exactly one event), "
                   "or a directory (one event_NNNNN.json per event and a manifest.json).")
@click.option("--overwrite", is_flag=True, help="Replace an existing output whole (refused otherwise).")
@click.option("--processes", "-j", type=click.IntRange(min=1), default=None,
              help="Worker processes simulating events (default: one per available processor); the output "
                   "is the same for any number.")
@click.option("--quiet", "-q", is_flag=True, help="No progress bar.")
@condition_options
def generate(count: int | None, seed: int, out: Path, overwrite: bool, processes: int | None, quiet: bool,
             conditions: Conditions, condition_sources: dict[str, str]) -> None:
    """Simulate events and write them to files as they are made (positions in mm, momenta in MeV).

    The output appears once complete: an interrupted run leaves nothing
    that looks like a sample. The conditions (collisions, noise, material,
    ..., or a particle gun in their place) come from --config, --condition
    and the gun options.
    """
    if count is None:
        count = 1 if out.suffix.lower() == ".json" else DEFAULT_EVENTS
    began = time.perf_counter()
    try:
        with progress_bar(count, "generating", quiet) as bar:
            written = generate_sample(out, count, seed, processes or available_processors(), overwrite, bar,
                                      conditions)
    except OutputError as error:
        _fail(str(error))
    except OSError as error:
        _fail(f"{error.filename or out}: cannot be written: {error.strerror or error}")
    seconds = time.perf_counter() - began
    click.echo(f"Wrote {plural(written.events, 'event')} ({written.hits:,} hits, seed {seed}"
               f"{_changed_conditions(conditions)}) to {out}"
               + (f" ({plural(written.files, 'file')})" if written.files > 1 else "")
               + f" in {seconds:.1f} s: {written.events / seconds if seconds > 0 else 0.0:,.1f} events/s")


def _changed_conditions(conditions: Conditions) -> str:
    """The conditions that differ from the defaults, after a comma; nothing for the defaults."""
    return f", {describe(conditions)}" if conditions.changed() else ""


def _given(context: click.Context, *names: str) -> list[str]:
    """Which of the named options the user gave (rather than left at their defaults)."""
    return [name for name in names
            if context.get_parameter_source(name) not in (None, click.core.ParameterSource.DEFAULT)]


def _note_repeated(repeated: list[str]) -> None:
    for note in repeated:
        click.echo(f"corvane: note: {note}", err=True)


@main.command()
@click.argument("inputs", nargs=-1, type=click.Path(readable=False))
@click.option("--algorithm", "-a", "algorithm_choices", type=AlgorithmChoice(), multiple=True, default=[ALL],
              help="Algorithm to run, repeatable (-a track_following -a graph_dfs); "
                   "'all' runs every algorithm this installation provides; package.module:factory runs your "
                   "own (factory() returns an object whose solve(event) returns Track objects or lists of "
                   "hit ids).")
@click.option("--param", "-p", "assignments", metavar="ALGORITHM.PARAMETER=VALUE", multiple=True,
              help="Set a parameter of an algorithm, repeatable: track_following.max_tolerance=0.15,0.15 "
                   "(a pair as x,y; a count as 5; true or false). Overrides --config.")
@click.option("--threads", "-t", type=click.IntRange(min=0), default=None,
              help=THREADS_HELP)
@click.option("--events", "-n", "count", type=click.IntRange(min=1), default=DEFAULT_EVENTS,
              help="Size of the generated sample when no input is given.")
@click.option("--seed", "-s", type=click.IntRange(min=0), default=DEFAULT_SEED,
              help="Seed of the generated sample when no input is given.")
@click.option("--skip", type=click.IntRange(min=0), default=0,
              help="Leave out the first N events of the input (counted in input order, unusable ones included).")
@click.option("--max-events", type=click.IntRange(min=1), default=None,
              help="Take at most N events of the input, after those left out by --skip.")
@click.option("--json", "json_path", type=click.Path(path_type=Path), default=None,
              help="Write the timing and the detailed validation metrics of every algorithm to this JSON file.")
@click.option("--tracks", "tracks_path", type=click.Path(path_type=Path), default=None,
              help="Keep every event's tracks in this Parquet file (all algorithms, with their parameters and "
                   "each event's source and content digest); `corvane validate` reads it back.")
@click.option("--plots", "plot_dir", type=click.Path(path_type=Path), default=None,
              help="Draw efficiency, ghost-rate and clone-rate plots (PNG) into this directory.")
@click.option("--html", "html_path", type=click.Path(path_type=Path), default=None,
              help="Write one self-contained HTML page with the summary tables, the plots, the parameters and "
                   "the provenance.")
@click.option("--chunk-size", type=click.IntRange(min=1), default=DEFAULT_CHUNK,
              help="Events per batch handed to the solver (a batch never spans two units of work).")
@click.option("--strict", is_flag=True,
              help="Stop at the first bad input file or event, or event that cannot be reconstructed, instead of "
                   "skipping it.")
@click.option("--max-hits", type=click.IntRange(min=1), default=None,
              help="Skip (and name) events with more hits than this before reconstructing them.")
@click.option("--keep-going", is_flag=True,
              help="Exit with status 0 even when some inputs were skipped (they are still reported).")
@click.option("--scheduler", metavar="tcp://HOST:PORT", default=None,
              help="Run on the existing Dask cluster of this scheduler; its workers read the input files "
                   "under the same paths.")
@click.option("--workers", "-w", type=click.IntRange(min=1), default=None,
              help="Run on a new Dask cluster of this many worker processes on this machine (loopback only).")
@click.option("--raw-summary", is_flag=True, help=RAW_SUMMARY_HELP)
@click.option("--quiet", "-q", is_flag=True, help="No progress bars.")
@condition_options
@click.pass_context
def run(context: click.Context, inputs: tuple[str, ...], algorithm_choices: tuple[str, ...],
        assignments: tuple[str, ...], threads: int | None, count: int, seed: int,
        skip: int, max_events: int | None, json_path: Path | None, tracks_path: Path | None,
        plot_dir: Path | None, html_path: Path | None, chunk_size: int,
        strict: bool, max_hits: int | None, keep_going: bool, scheduler: str | None, workers: int | None,
        raw_summary: bool, quiet: bool, config: Path | None, conditions: Conditions,
        condition_sources: dict[str, str]) -> None:
    """Reconstruct events, print each algorithm's validation summary and timing.

    INPUTS are .json or .parquet event files, or directories holding them
    (subdirectories are searched too; a file named twice is read once).
    Without INPUTS a sample is generated (by the workers, on a cluster).

    The work is cut into units (up to 32 JSON files, a Parquet row group, a
    stretch of 160 generated events). Here they are read, solved and
    validated at once on three threads (a generated sample is simulated by
    worker processes, one per worker thread); with --scheduler or --workers
    they run as tasks on a Dask cluster. The summaries and the validation
    metrics are the same byte for byte.

    Exit status: 0 on success, 1 on failure, 2 on a usage error, 3 when some inputs or events were skipped
    (0 with --keep-going), 130 when interrupted (the results of the events completed so far are printed).
    """
    try:
        names = resolve_all(algorithm_choices)
        settings = resolve_settings(names, config, assignments)
        for name in names:
            if is_user_algorithm(name):
                load_user_algorithm(name)   # refused here, before any work, when it cannot be loaded
    except (AlgorithmUnavailable, ParameterError, UserAlgorithmError) as error:
        _fail(str(error))
    if scheduler is not None and workers is not None:
        _fail("--scheduler and --workers exclude each other")
    if inputs and set_on_command_line(condition_sources):
        _fail("--condition and the gun options set up a generated sample; they do not apply to input files")
    if inputs and (ignored := _given(context, "count", "seed")):
        _fail(f"{' and '.join('-n/--events' if name == 'count' else '-s/--seed' for name in ignored)} "
              f"only apply to a generated sample; with input files use --skip and --max-events")
    try:
        for path, option in ((json_path, "--json"), (tracks_path, "--tracks"), (html_path, "--html")):
            if path is not None:
                check_output_file(path, option)
                check_not_an_input(path, option, inputs)
        if plot_dir is not None:
            check_output_directory(plot_dir, "--plots")
    except OutputPathError as error:
        _fail(str(error))
    if threads is not None:
        # Read once, when the first batch creates the worker pool.
        os.environ["RAYON_NUM_THREADS"] = str(threads)
    _warn_incomplete(inputs)
    planning: list[str] = []
    repeated: list[str] = []
    try:
        units = (plan_units(inputs, planning, strict, repeated) if inputs
                 else plan_generated(count, seed, conditions=conditions))
    except EventFileError as error:
        _fail(str(error))
    _note_repeated(repeated)
    units = window_units(units, skip, max_events)
    # The provenance of a report names each input with its SHA-256: hashed while the job runs.
    digests = InputDigests(units if json_path is not None or html_path is not None else [])
    context.call_on_close(digests.stop)
    options = JobOptions(tuple(names), chunk_size, strict, plots=plot_dir is not None or html_path is not None,
                         settings=tuple(settings.values()), max_hits=max_hits,
                         identify=tracks_path is not None or json_path is not None or html_path is not None)
    fold = JobFold(units, options, detailed=json_path is not None,
                   scratch=json_path.parent if json_path is not None else None)
    events_digest = EventsDigest()
    fold.sinks.append(events_digest.add)
    planned = sum(unit.events for unit in units)
    where, interrupted = describe_where(scheduler, workers), False
    sample_record = ({"inputs": list(inputs)} if inputs else
                     {"seed": seed, "conditions": conditions_report(conditions, condition_sources)})
    try:
        # An interrupted or failed job leaves no tracks file.
        with (saving_tracks(tracks_path, fold, sample_record),
              progress_bar(planned, "reconstructing", quiet) as bar):
            where = run_units(units, options, fold, bar, scheduler, workers)
    except (EventFileError, ClusterError, FoldError, UserAlgorithmError) as error:
        _fail(str(error))
    except KeyboardInterrupt:
        interrupted = True
    skipped = planning + fold.problems
    for problem in skipped:
        click.echo(f"corvane: skipped: {problem}", err=True)
    if interrupted and fold.events == 0:
        click.echo("corvane: interrupted before any event was completed", err=True)
        sys.exit(INTERRUPTED)
    if fold.events == 0:
        _fail("no usable events in the input")
    files = len({path for unit in units for path in unit.paths})
    if inputs:
        sample = f"{plural(fold.events, 'event')} from {files} file(s)"
    else:
        sample = f"{plural(fold.events, 'generated event')} (seed {seed}{_changed_conditions(conditions)})"
    if interrupted:
        sample += (f" (PARTIAL: interrupted; {plural(fold.events + fold.skipped, 'event')} of {planned:,} "
                   f"completed)")
    click.echo(f"Sample: {sample}, {plural(fold.hits, 'hit')} ({fold.hits / fold.events:,.0f} per event)")
    click.echo(f"Algorithms: {', '.join(fold.label(name) for name in names)} on "
               f"{plural(fold.threads, 'worker thread')} in {where}")
    _echo_parameters(fold)
    print_summaries(fold, names, raw_summary)
    wall = fold.wall_seconds
    click.echo(f"\nProcessed {plural(fold.events, 'event')} ({fold.skipped} skipped) in {wall:.3f} s: "
               f"{fold.events / wall if wall > 0 else 0.0:,.1f} events/s read, solved and validated")
    if interrupted:
        click.echo("corvane: interrupted: the results above cover only the events completed; "
                   "no output files written", err=True)
        sys.exit(INTERRUPTED)
    extra: dict[str, Any] = {}
    if json_path is not None or html_path is not None:
        extra = {"provenance": provenance(None if inputs else seed, fold.threads,
                                          input_files(units, digests.finished()),
                                          events_digest.hexdigest() if options.identify else None,
                                          context.meta.get(COMMAND_LINE_KEY)),
                 **({} if inputs else {"conditions": conditions_report(conditions, condition_sources)})}
    _write_outputs(fold, sample, skipped, json_path, plot_dir, extra)
    if html_path is not None:
        _write_html(fold, sample, skipped, html_path, extra)
    if skipped:
        click.echo(f"corvane: {len(skipped)} input(s) skipped, see above", err=True)
        if not keep_going:
            sys.exit(PARTIAL)


def _echo_parameters(fold: JobFold) -> None:
    click.echo("Parameters [source]:")
    for name in fold.names:
        click.echo(f"  {fold.label(name)}: {fold.settings[name].describe()}")


def _report_document(fold: JobFold, sample: str, skipped: list[str], extra: dict[str, Any]) -> dict[str, Any]:
    """The JSON report: the provenance first, then the job's results and what else there is."""
    return {"provenance": extra["provenance"], **fold.report(sample, skipped), **extra}


def _write_outputs(fold: JobFold, sample: str, skipped: list[str], json_path: Path | None,
                   plot_dir: Path | None, extra: dict[str, Any]) -> None:
    if json_path is not None:
        try:
            write_report(json_path, _report_document(fold, sample, skipped, extra))
        except OSError as error:
            _fail(f"{json_path}: cannot be written: {error.strerror or error}")
        click.echo(f"Wrote {json_path}")
    if plot_dir is not None and not fold.validated:
        click.echo("Drew no plots: every plot compares tracks with Monte Carlo truth, which this sample lacks")
    elif plot_dir is not None:
        from .plots import draw_all

        try:
            written = draw_all(fold.plot_inputs(), plot_dir, _plotted_sample(fold, sample))
        except OSError as error:
            _fail(f"{plot_dir}: cannot write plots: {error.strerror or error}")
        click.echo(f"Wrote {len(written)} plots to {plot_dir}")


def _plotted_sample(fold: JobFold, sample: str) -> str:
    if fold.validated < fold.events:
        return f"{sample}, of which the {fold.validated:,} with Monte Carlo truth are plotted"
    return sample


def _write_html(fold: JobFold, sample: str, skipped: list[str], html_path: Path, extra: dict[str, Any]) -> None:
    from .html_report import run_page
    from .plots import draw_all
    report = _report_document(fold, sample, skipped, extra)
    try:
        with tempfile.TemporaryDirectory() as scratch:
            plots = draw_all(fold.plot_inputs(), Path(scratch), _plotted_sample(fold, sample)) if fold.validated else []
            page = run_page(report, plots)
        with replacing(html_path) as stream:
            stream.write(page.encode("utf-8"))
    except OSError as error:
        _fail(f"{html_path}: cannot be written: {error.strerror or error}")
    click.echo(f"Wrote {html_path}")


@main.command()
@click.argument("events", nargs=-1, required=True, type=click.Path(readable=False))
@click.argument("tracks", type=click.Path(path_type=Path))
@click.option("--strict", is_flag=True, help="Stop at the first bad event file instead of passing over it.")
@click.option("--raw-summary", is_flag=True, help=RAW_SUMMARY_HELP)
def validate(events: tuple[str, ...], tracks: Path, strict: bool, raw_summary: bool) -> None:
    """Validate saved tracks (`corvane run --tracks TRACKS`) against their events, and print each
    algorithm's summary as `run` printed it.

    EVENTS are the event files or directories the tracks were found in (for
    a generated sample: the same sample written by `corvane generate`). Each
    saved event is paired with the next event of EVENTS that has its content
    digest, so events the job skipped are passed over.
    """
    try:
        saved = open_saved(tracks)
        result = validate_saved(saved, events, strict)
    except (SavedTracksError, FoldError) as error:
        _fail(str(error))
    for problem in result.problems:
        click.echo(f"corvane: skipped: {problem}", err=True)
    fold = result.fold
    if fold.events == 0:
        _fail(f"{tracks}: holds no tracks")
    click.echo(f"Tracks: {tracks}, {plural(fold.events, 'event')}, {plural(fold.hits, 'hit')}; "
               f"{plural(result.events_read, 'input event')} read to find them by content digest")
    click.echo(f"Algorithms: {', '.join(fold.label(name) for name in fold.names)}")
    _echo_parameters(fold)
    print_summaries(fold, fold.names, raw_summary, timing=False)


@main.command()
@click.argument("inputs", nargs=-1, required=True, type=click.Path(readable=False))
@click.option("--strict", is_flag=True, help="Stop at the first unusable file or event.")
@click.option("--quiet", "-q", is_flag=True, help="No progress bar.")
def check(inputs: tuple[str, ...], strict: bool, quiet: bool) -> None:
    """Check event files without reconstructing them: one line per problem.

    An event is usable here exactly when `corvane run` would reconstruct it.

    Exit status: 0 when every event is usable, 3 when some are not, 1 when none is.
    """
    problems: list[str] = []
    repeated: list[str] = []
    try:
        units = plan_units(inputs, problems, strict, repeated)
        _note_repeated(repeated)
        usable = 0
        with progress_bar(sum(unit.events for unit in units), "checking", quiet) as bar:
            for unit in units:
                events, unit_problems = read_unit(unit, strict)
                usable += len(events)
                problems += unit_problems
                bar.update(unit.events)
    except EventFileError as error:
        _fail(str(error))
    for problem in problems:
        click.echo(f"corvane: skipped: {problem}", err=True)
    if not usable:
        _fail("no usable events in the input")
    files = len({path for unit in units for path in unit.paths})
    click.echo(f"{plural(usable, 'event')} from {files} file(s): usable"
               + (f"; {len(problems)} problem(s)" if problems else ""))
    if problems:
        sys.exit(PARTIAL)


@main.command()
@click.argument("event_file", type=click.Path(path_type=Path, readable=False))
@click.option("--index", "-i", type=click.IntRange(min=0), default=0,
              help="Which event of the file (its position, from 0; a .json file holds only event 0).")
@click.option("--algorithm", "-a", type=click.Choice(list(ALGORITHMS)), default="track_following",
              help="Algorithm whose tracks are drawn.")
@click.option("--param", "-p", "assignments", metavar="ALGORITHM.PARAMETER=VALUE", multiple=True,
              help="Set a parameter of the algorithm, as for `corvane run`.")
@click.option("--config", "config_path", type=click.Path(path_type=Path, dir_okay=False), default=None,
              help="TOML file of parameters, one table per algorithm, as for `corvane run`.")
@click.option("--out", "-o", type=click.Path(path_type=Path), default=Path("event_display.png"),
              help="Image to write: .png, .pdf or .svg (.png is added to a name without a suffix).")
@click.option("--z-range", type=(float, float), default=None, metavar="ZMIN ZMAX",
              help="Show only this stretch of z (mm) in the x-z and y-z views.")
@click.option("--zoom", type=click.FloatRange(min=1.0), default=1.0,
              help="Magnify x and y this many times around the beam line.")
def display(event_file: Path, index: int, algorithm: str, assignments: tuple[str, ...], config_path: Path | None,
            out: Path, z_range: tuple[float, float] | None, zoom: float) -> None:
    """Draw one event in the x-z, y-z and x-y views: tracks coloured by their particle, clones and
    ghosts marked, particles no track found drawn faintly, hits on no track marked."""
    from .display import View, draw_event

    if z_range is not None and not z_range[0] < z_range[1]:
        _fail(f"--z-range {z_range[0]:g} {z_range[1]:g}: the first value must be below the second")

    try:
        out = image_path(out)
        check_output_file(out, "--out")
        name = resolve(algorithm)[0]
        settings = resolve_settings([name], config_path, assignments)[name]
        source, event = nth_event(event_file, index)
    except (AlgorithmUnavailable, EventFileError, OutputPathError, ParameterError) as error:
        _fail(str(error))
    tracks = construct_with(name, settings).solve(corvane.DetectorEvent.Event(plain(event)))
    changed = ", ".join(f"{key}={format_value(value)}" for key, value in settings.values
                        if settings.source(key) != DEFAULT)
    try:
        count, ghosts = draw_event(event, tracks, f"{source} ({ALGORITHMS[name]}{'; ' + changed if changed else ''})",
                                   out, View(z_range, zoom))
    except OSError as error:
        _fail(f"{out}: cannot be written: {error.strerror or error}")
    click.echo(f"Wrote {out}: {plural(count, 'track')}, {plural(ghosts, 'ghost')}")


main.add_command(tune_command, "tune")
main.add_command(compare)
main.add_command(scan)
