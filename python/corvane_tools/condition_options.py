"""The command-line options that set a generated sample's conditions (shared by several commands)."""
from collections.abc import Callable
from pathlib import Path
from typing import Any, TypeVar

import click

from . import conditions as conds
from .conditions import Conditions, ConditionError

F = TypeVar("F", bound=Callable[..., Any])

CONDITION_HELP = ("Set a condition of the generated sample, as name=value (repeatable; after --config). "
                  f"Names: {', '.join(conds.NAMES)}. See docs/generator.md.")
CONFIG_HELP = ("TOML file of settings: a table per algorithm sets its parameters ([track_following] "
               "max_scatter = 0.3, as `corvane tune` writes it); the [generator] table sets the conditions "
               "of a generated sample.")


def condition_options(command: F) -> F:
    """Adds --config and --condition/-C to a command; they arrive as `config` and `condition`."""
    command = click.option("--condition", "-C", "condition", multiple=True, metavar="NAME=VALUE",
                           help=CONDITION_HELP)(command)
    command = click.option("--config", "config", type=click.Path(path_type=Path, dir_okay=False), default=None,
                           help=CONFIG_HELP)(command)
    return command


def resolve_conditions(config: Path | None, assignments: tuple[str, ...]) -> tuple[Conditions, dict[str, str]]:
    """The conditions in force and their sources; ConditionError (one line) for a bad file or value."""
    table = conds.read_table(config) if config is not None else None
    return conds.resolve(table, assignments)


__all__ = ["ConditionError", "condition_options", "resolve_conditions"]
