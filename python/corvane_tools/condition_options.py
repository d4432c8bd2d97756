"""The command-line options that set a generated sample's conditions (shared by several commands)."""
import functools
import inspect
from collections.abc import Callable
from pathlib import Path
from typing import Any, Final, TypeVar

import click

from . import conditions as conds
from .cli_failure import fail
from .conditions import ConditionError, Conditions
from .ranges import GUN_SPECIES

F = TypeVar("F", bound=Callable[..., Any])

CONDITION_HELP: Final = ("Set a condition of the generated sample, as name=value (repeatable; after --config). "
                         f"Names: {', '.join(conds.NAMES)}. See docs/generator.md.")
CONFIG_HELP: Final = ("TOML file of settings: a table per algorithm sets its parameters ([track_following] "
                      "max_scatter = 0.3, as `corvane tune` writes it); the [generator] table sets the conditions "
                      "of a generated sample.")

# Gun options: option name -> (condition, help, default shown in the help)
GUN_OPTIONS: Final = {
    "gun": ("gun", f"Replace the collisions by a particle gun of this species ({', '.join(GUN_SPECIES)}).",
            "none"),
    "p": ("gun_p", "Gun momentum range with its unit, e.g. 2-20GeV or 500MeV.", "2-20GeV"),
    "eta": ("gun_eta", "Gun pseudorapidity range, e.g. 2-5 or -5--2.", "2-5"),
    "phi": ("gun_phi", "Gun azimuth range in radians, e.g. 0-1.57.", "-pi to pi"),
    "particles": ("gun_particles", "Gun particles per event, a whole number or a range, e.g. 1-300.", "1"),
    "origin": ("gun_origin", "Gun origin x,y,z in mm, or 'random' (drawn like the collisions).", "0,0,0"),
}


def condition_options(command: F) -> F:
    """Adds --config, --condition/-C and the gun options to a command; the command receives the resolved
    `conditions` and their `condition_sources` (a bad file or value fails the command in one line), and
    `config` itself if it takes it."""
    @functools.wraps(command)
    def wrapper(*args: Any, config: Path | None, condition: tuple[str, ...], **kwargs: Any) -> Any:
        gun = [f"{GUN_OPTIONS[name][0]}={kwargs.pop(name)}" for name in GUN_OPTIONS if kwargs.get(name) is not None]
        try:
            resolved, sources = resolve_conditions(config, (*condition, *gun))
        except ConditionError as error:
            fail(str(error))
        passed = {k: v for k, v in kwargs.items() if k not in GUN_OPTIONS}
        if wants_config:   # the file's other tables are the command's own business
            passed["config"] = config
        return command(*args, conditions=resolved, condition_sources=sources, **passed)

    wants_config = "config" in inspect.signature(command).parameters

    for name, (_, help_text, shown_default) in reversed(GUN_OPTIONS.items()):
        # The gun's defaults live in the conditions (the option itself defaults to "not given")
        wrapper = click.option(f"--{name}", name, default=None,
                               help=f"{help_text}  [default: {shown_default}]")(wrapper)
    wrapper = click.option("--condition", "-C", "condition", multiple=True, metavar="NAME=VALUE",
                           help=CONDITION_HELP)(wrapper)
    wrapper = click.option("--config", "config", type=click.Path(path_type=Path, dir_okay=False), default=None,
                           help=CONFIG_HELP)(wrapper)
    return wrapper  # type: ignore[return-value]


def resolve_conditions(config: Path | None, assignments: tuple[str, ...]) -> tuple[Conditions, dict[str, str]]:
    """The conditions in force and their sources; ConditionError (one line) for a bad file or value."""
    table = conds.read_table(config) if config is not None else None
    return conds.resolve(table, assignments)


def set_on_command_line(sources: dict[str, str]) -> bool:
    return any(source == conds.COMMAND_LINE for source in sources.values())
