"""The validation that `corvane run` prints, and `corvane validate` prints again for saved tracks:
both go through `print_summaries`, so they print the same text."""
from collections.abc import Sequence
from typing import Final

import click

from .binned import CATEGORIES
from .job_fold import JobFold
from .summary_table import LEGEND, format_table

RAW_SUMMARY_HELP: Final = ("Also print the validator's own summary text (Validator.print_validation_summary), "
                           "unchanged, below each table.")


def truth_note(fold: JobFold) -> str | None:
    """A line on which events were validated, when not all of them were."""
    if fold.validated == 0:
        return "No Monte Carlo truth in this sample: the tracks are reconstructed and timed, not validated."
    if fold.validated < fold.events:
        missing = fold.events - fold.validated
        return (f"Validated on the {fold.validated:,} events with Monte Carlo truth; {missing:,} "
                f"event{'' if missing == 1 else 's'} without truth are reconstructed and timed only.")
    return None


def echo_summary(fold: JobFold, name: str, raw: bool = False) -> None:
    """The algorithm's name on a line of its own after an empty line, then its summary table (and
    with `raw` the validator's text)."""
    click.echo(f"\n{fold.label(name)}")
    if not fold.validated:
        return
    click.echo(format_table(fold.export(name), CATEGORIES), nl=False)
    if raw:
        click.echo("Validator summary:")
        click.echo(fold.summary(name), nl=False)


def print_summaries(fold: JobFold, names: Sequence[str], raw: bool = False, timing: bool = True) -> None:
    """Which events were validated (when not all), per algorithm its summary (and its timing line),
    then the legend of the tables' columns."""
    note = truth_note(fold)
    if note is not None:
        click.echo(f"\n{note}")
    for name in names:
        echo_summary(fold, name, raw)
        if timing:
            click.echo(fold.timing(name).line(fold.label(name)))
    if fold.validated:
        click.echo(LEGEND)
