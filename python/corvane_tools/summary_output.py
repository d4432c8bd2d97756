"""The per-algorithm validation block that `corvane run` prints, and `corvane validate` prints again
for saved tracks: both go through `echo_summary`, so they print the same text."""
import click

from .job_fold import JobFold


def echo_summary(fold: JobFold, name: str) -> None:
    """The algorithm's name on a line of its own after an empty line, then its validation summary."""
    click.echo(f"\n{fold.label(name)}")
    click.echo(fold.summary(name), nl=False)
