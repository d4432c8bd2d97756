"""`corvane compare A.json B.json`: two run reports side by side; a non-zero exit when B is worse."""
import sys
import tempfile
from pathlib import Path
from typing import Any, Final, cast

import click

from .cli_failure import fail
from .output_paths import OutputPathError, check_output_file
from .compare import TABLE_FORMATS, Comparison, TableFormat, ReportError, compare_reports, conclusion, format_table, load_report

WORSE_STATUS: Final = 4


def _describe(name: str, path: Path, report: dict[str, Any]) -> str:
    origin = report.get("provenance", {})
    said = ", ".join(f"{key} {origin[key]}" for key in ("date", "corvane_version") if origin.get(key))
    return f"{name}: {path}: {report.get('sample', 'sample not stated')}" + (f" ({said})" if said else "")


def compare_files(reference: Path, candidate: Path, tolerance: float) -> tuple[Comparison, list[str]]:
    """The comparison of two report files, and a line describing each."""
    try:
        a, b = load_report(reference), load_report(candidate)
        return compare_reports(a, b, tolerance), [_describe("A", reference, a), _describe("B", candidate, b)]
    except ReportError as error:
        fail(str(error))


@click.command()
@click.argument("reference", type=click.Path(path_type=Path))
@click.argument("candidate", type=click.Path(path_type=Path))
@click.option("--tolerance", type=click.FloatRange(min=0.0), default=0.0,
              help="Percentage points a quantity may move against B before B counts as worse.")
@click.option("--table-format", type=click.Choice(TABLE_FORMATS), default="text",
              help="How the table is printed: aligned text, CSV (full precision) or Markdown.")
@click.option("--html", "html_path", type=click.Path(path_type=Path), default=None,
              help="Also write one self-contained HTML page: the verdict, the table, a chart of the headline "
                   "rates, both reports' parameters and provenance.")
def compare(reference: Path, candidate: Path, tolerance: float, table_format: str, html_path: Path | None) -> None:
    """Compare two JSON reports of `corvane run --json`: A (REFERENCE) and B (CANDIDATE) side by side
    per algorithm, particle category and quantity, in percent.

    B is worse when, beyond the tolerance, an efficiency, purity or hit
    efficiency is lower or a ghost or clone rate higher, or when B lacks an
    algorithm or category that A has. Put a reference report in CI and
    compare each change against it.

    Exit status: 0 when B is not worse, 4 when it is, 1 on failure.
    """
    if html_path is not None:
        try:
            check_output_file(html_path, "--html")
        except OutputPathError as error:
            fail(str(error))
    comparison, described = compare_files(reference, candidate, tolerance)
    if table_format == "text":
        for line in described:
            click.echo(line)
        click.echo(f"Values in percent; B - A in percentage points; tolerance {tolerance:g}.\n")
    click.echo(format_table(comparison, cast(TableFormat, table_format)), nl=False)
    if table_format == "text":
        click.echo("")
        for note in comparison.notes:
            click.echo(f"Note: {note}")
        click.echo(conclusion(comparison))
    else:
        click.echo(conclusion(comparison), err=True)
    if html_path is not None:
        _write_html(comparison, described, reference, candidate, html_path, table_format != "text")
    if comparison.failures:
        sys.exit(WORSE_STATUS)


def _write_html(comparison: Comparison, described: list[str], reference: Path, candidate: Path,
                html_path: Path, to_stderr: bool) -> None:
    """The page; its "Wrote" line goes to standard error when standard output carries CSV or Markdown."""
    from .compare_html import compare_page, draw_headline

    try:
        with tempfile.TemporaryDirectory() as scratch:
            chart = draw_headline(comparison, Path(scratch) / "headline_rates.png")
            page = compare_page(f"corvane compare: B ({candidate}) against A ({reference})", comparison, described,
                                load_report(reference), load_report(candidate), [chart])
        html_path.write_text(page, encoding="utf-8")
    except OSError as error:
        fail(f"{html_path}: cannot be written: {error.strerror or error}")
    click.echo(f"Wrote {html_path}", err=to_stderr)
