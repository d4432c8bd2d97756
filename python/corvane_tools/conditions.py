"""Detector and running conditions of the event generator.

A `Conditions` value holds everything besides (seed, index) that a generated
event depends on. It is set from a TOML file (a `[generator]` table) and from
the command line (`--condition name=value`, repeatable, later ones winning),
and is refused with one line when a value makes no physical sense.
"""
import math
import tomllib
from collections.abc import Mapping, Sequence
from dataclasses import dataclass, fields, replace
from pathlib import Path
from typing import Any, Final

TABLE: Final = "generator"       # the TOML table that holds the conditions

# Where a value in force came from.
DEFAULT: Final = "default"
FILE: Final = "file"
COMMAND_LINE: Final = "command line"

STATION_PITCH_MIN: Final = 25.0  # mm: the closest stations; the two modules of a station must stay between them


class ConditionError(ValueError):
    """A condition that is unknown or out of its range; the message is one line."""


@dataclass(frozen=True)
class Conditions:
    """What a generated sample depends on besides its seed. Lengths in mm, material in radiation lengths."""
    collisions: float = 7.6           # proton-proton collisions per event: the Poisson mean, or the number
    fixed_collisions: bool = False    # every event has exactly `collisions` collisions
    noise_per_module: float = 3.0     # mean noise hits per module and event
    hit_efficiency: float = 0.98      # chance that a sensor crossing leaves a hit
    resolution: float = 0.012         # hit resolution in x and y
    module_material: float = 0.005    # per module, at normal incidence
    station_gap: float = 5.0          # z distance between the two modules of a station
    overlap: float = 2.0              # how far each half reaches past the other half's edge
    origin_z_spread: float = 45.0     # RMS of the collisions' z

    def changed(self) -> dict[str, Any]:
        """The conditions that differ from the defaults, by name."""
        default = Conditions()
        return {f.name: getattr(self, f.name) for f in fields(self)
                if getattr(self, f.name) != getattr(default, f.name)}

    def as_dict(self) -> dict[str, Any]:
        return {f.name: getattr(self, f.name) for f in fields(self)}


NAMES: Final = tuple(f.name for f in fields(Conditions))

# name -> (lowest, highest, whether the bounds themselves are allowed) for the numeric conditions
_RANGES: Final[dict[str, tuple[float, float, bool]]] = {
    "collisions": (0.0, 200.0, True),
    "noise_per_module": (0.0, 10000.0, True),
    "hit_efficiency": (0.0, 1.0, True),
    "resolution": (0.0, 10.0, True),
    "module_material": (0.0, 1.0, True),
    "station_gap": (0.0, STATION_PITCH_MIN, False),
    "overlap": (0.0, 30.0, True),
    "origin_z_spread": (0.0, 1000.0, True),
}

_TRUE: Final = ("true", "yes", "on", "1")
_FALSE: Final = ("false", "no", "off", "0")


def _convert(name: str, value: Any) -> Any:
    """`value` (text from the command line, or a TOML value) as the type of condition `name`."""
    kind = type(getattr(Conditions(), name))
    if kind is bool:
        if isinstance(value, bool):
            return value
        if isinstance(value, str) and value.strip().lower() in _TRUE + _FALSE:
            return value.strip().lower() in _TRUE
        raise ConditionError(f"condition '{name}' is a switch: give true or false, not {value!r}")
    if isinstance(value, bool) or not isinstance(value, (int, float, str)):
        raise ConditionError(f"condition '{name}' takes a number, not {value!r}")
    try:
        number = float(value)
    except ValueError:
        raise ConditionError(f"condition '{name}' takes a number, not {value!r}") from None
    low, high, inclusive = _RANGES[name]
    inside = low <= number <= high if inclusive else low < number < high
    if not inside:  # NaN lands here too
        brackets = "[]" if inclusive else "()"
        raise ConditionError(f"condition '{name}' = {value} is outside {brackets[0]}{low:g}, {high:g}{brackets[1]}")
    return number


def _check_together(conditions: Conditions) -> None:
    if conditions.fixed_collisions and (conditions.collisions < 1 or not conditions.collisions.is_integer()):
        raise ConditionError(f"with fixed_collisions, 'collisions' must be a whole number of at least 1, "
                             f"not {conditions.collisions:g}")


def _assign(values: dict[str, Any], sources: dict[str, str], name: str, value: Any, source: str) -> None:
    key = name.strip().replace("-", "_")
    if key not in NAMES:
        raise ConditionError(f"unknown condition '{name}'; known: {', '.join(NAMES)}")
    values[key] = _convert(key, value)
    sources[key] = source


def parse_assignment(text: str) -> tuple[str, str]:
    """'name=value' as (name, value)."""
    name, equals, value = text.partition("=")
    if not equals or not name.strip() or not value.strip():
        raise ConditionError(f"a condition is given as name=value, not {text!r}")
    return name.strip(), value.strip()


def read_table(path: Path) -> dict[str, Any]:
    """The `[generator]` table of a TOML file (empty when it has none); other tables are not read here."""
    try:
        with path.open("rb") as stream:
            document = tomllib.load(stream)
    except OSError as error:
        raise ConditionError(f"{path}: cannot be read: {error.strerror or error}") from None
    except tomllib.TOMLDecodeError as error:
        raise ConditionError(f"{path}: not valid TOML: {error}") from None
    table = document.get(TABLE, {})
    if not isinstance(table, Mapping):
        raise ConditionError(f"{path}: '{TABLE}' must be a table of conditions")
    return dict(table)


def resolve(table: Mapping[str, Any] | None = None,
            assignments: Sequence[str] = ()) -> tuple[Conditions, dict[str, str]]:
    """The conditions in force, and the source of each: default, then the file's table, then the
    command line's name=value assignments in order."""
    values: dict[str, Any] = {}
    sources = {name: DEFAULT for name in NAMES}
    for name, value in (table or {}).items():
        _assign(values, sources, str(name), value, FILE)
    for text in assignments:
        _assign(values, sources, *parse_assignment(text), COMMAND_LINE)
    conditions = replace(Conditions(), **values)
    _check_together(conditions)
    return conditions, sources


def with_values(**values: Any) -> Conditions:
    """Conditions with the given values, checked as from the command line (for the Python API and scans)."""
    conditions, _ = resolve(values)
    return conditions


def describe(conditions: Conditions) -> str:
    """One line: the conditions that differ from the defaults."""
    changed = conditions.changed()
    if not changed:
        return "default conditions"
    return ", ".join(f"{name}={_text(value)}" for name, value in changed.items())


def _text(value: Any) -> str:
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, float) and math.isfinite(value):
        return f"{value:g}"
    return str(value)


def report(conditions: Conditions, sources: Mapping[str, str]) -> dict[str, dict[str, Any]]:
    """The conditions for a JSON report: each value with its source."""
    return {name: {"value": value, "source": sources.get(name, DEFAULT)}
            for name, value in conditions.as_dict().items()}
