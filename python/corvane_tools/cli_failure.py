"""How the `corvane` command gives up: one line on standard error, exit status 1."""
import sys
from typing import Final, NoReturn

import click

FAILED: Final = 1          # nothing useful done (bad arguments, unreadable input with --strict, ...)


def fail(message: str) -> NoReturn:
    for line in message.splitlines():
        click.echo(f"corvane: error: {line}", err=True)
    sys.exit(FAILED)
