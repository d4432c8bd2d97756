"""Detector and running conditions of the event generator.

A `Conditions` value holds everything besides (seed, index) that a generated
event depends on. It is set from a TOML file (a `[generator]` table) and from
the command line (`--condition name=value`, repeatable, later ones winning),
and is refused with one line when a value makes no physical sense.
"""
import math
import tomllib
from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass, fields, replace
from pathlib import Path
from typing import Any, Final

from .ranges import GUN_SPECIES, RangeError, parse_origin, parse_range

TABLE: Final = "generator"       # the TOML table that holds the conditions

# Where a value in force came from.
DEFAULT: Final = "default"
FILE: Final = "file"
COMMAND_LINE: Final = "command line"

STATION_PITCH_MIN: Final = 25.0  # mm: the closest stations; the two modules of a station must stay between them
SPECTRA: Final = ("minimum_bias", "wide_gaussian")
OVERLAP_SHAPES: Final = ("sensors", "strip")
RANDOM_ORIGIN: Final = "random"


class ConditionError(ValueError):
    """A condition that is unknown or out of its range; the message is one line."""


@dataclass(frozen=True)
class Conditions:
    """What a generated sample depends on besides its seed. Lengths in mm, material in radiation lengths,
    momenta in MeV, angles in radians."""
    collisions: float = 7.6           # proton-proton collisions per event: the Poisson mean, or the number
    fixed_collisions: bool = False    # every event has exactly `collisions` collisions
    spectrum: str = "minimum_bias"   # charged multiplicity and pseudorapidity model of a collision
    noise_per_module: float = 0.0     # mean noise hits per module and event
    hit_efficiency: float = 0.99      # chance that a sensor crossing leaves a hit
    resolution: float = 0.012         # hit resolution in x and y
    module_material: float = 0.005    # per module, at normal incidence
    foil_material: float = 0.0028       # the foil between the beam and the sensors, at normal incidence
    station_gap: float = 5.0          # z distance between the two modules of a station
    overlap: float = 2.0              # how far each half reaches past the other half's edge
    overlap_shape: str = "sensors"     # "strip": at every distance from the beam; "sensors": the L-shaped tiles
    origin_z_spread: float = 45.0     # RMS of the collisions' z
    conversions: bool = True          # photons from the collisions convert into e+ e- pairs in the material
    delta_rays: bool = True           # charged particles knock energetic electrons out of the sensors
    spill_over: float = 0.0           # share of the previous crossing's hits that register in this one
    gun: str = ""                     # species of a particle gun that replaces the collisions ("": none)
    gun_p: tuple[float, float] = (2000.0, 20000.0)       # momentum range (MeV)
    gun_eta: tuple[float, float] = (2.0, 5.0)            # pseudorapidity range
    gun_phi: tuple[float, float] = (-math.pi, math.pi)   # azimuth range (rad)
    gun_particles: tuple[float, float] = (1.0, 1.0)      # particles per event, a whole number from the range
    gun_origin: str = "0,0,0"         # "x,y,z" in mm, or "random" (drawn like the collisions)

    def changed(self) -> dict[str, Any]:
        """The conditions that differ from the defaults, by name."""
        default = Conditions()
        return {f.name: getattr(self, f.name) for f in fields(self)
                if getattr(self, f.name) != getattr(default, f.name)}

    def as_dict(self) -> dict[str, Any]:
        return {f.name: _plain(getattr(self, f.name)) for f in fields(self)}


NAMES: Final = tuple(f.name for f in fields(Conditions))

_TRUE: Final = ("true", "yes", "on", "1")
_FALSE: Final = ("false", "no", "off", "0")


def _number(low: float, high: float, inclusive: bool = True) -> Callable[[str, Any], float]:
    def convert(name: str, value: Any) -> float:
        if isinstance(value, bool) or not isinstance(value, (int, float, str)):
            raise ConditionError(f"condition '{name}' takes a number, not {value!r}")
        try:
            number = float(value)
        except ValueError:
            raise ConditionError(f"condition '{name}' takes a number, not {value!r}") from None
        inside = low <= number <= high if inclusive else low < number < high
        if not inside:  # NaN lands here too
            brackets = "[]" if inclusive else "()"
            raise ConditionError(f"condition '{name}' = {value} is outside "
                                 f"{brackets[0]}{low:g}, {high:g}{brackets[1]}")
        return number
    return convert


def _switch(name: str, value: Any) -> bool:
    if isinstance(value, bool):
        return value
    if isinstance(value, str) and value.strip().lower() in _TRUE + _FALSE:
        return value.strip().lower() in _TRUE
    raise ConditionError(f"condition '{name}' is a switch: give true or false, not {value!r}")


def _choice(options: Sequence[str]) -> Callable[[str, Any], str]:
    def convert(name: str, value: Any) -> str:
        text = value.strip().lower() if isinstance(value, str) else value
        if text not in options:
            raise ConditionError(f"condition '{name}' is one of {', '.join(o or '(none)' for o in options)}, "
                                 f"not {value!r}")
        return str(text)
    return convert


def _range(unit: str | None, low: float, high: float, whole: bool = False) -> Callable[[str, Any], tuple[float, float]]:
    def convert(name: str, value: Any) -> tuple[float, float]:
        try:
            return parse_range(value, unit, low, high, whole)
        except RangeError as error:
            raise ConditionError(f"condition '{name}': {error}") from None
    return convert


def _origin(name: str, value: Any) -> str:
    if isinstance(value, str) and value.strip().lower() == RANDOM_ORIGIN:
        return RANDOM_ORIGIN
    try:
        return ",".join(f"{v:g}" for v in parse_origin(value))
    except RangeError as error:
        raise ConditionError(f"condition '{name}': {error}") from None


_CONVERTERS: Final[dict[str, Callable[[str, Any], Any]]] = {
    "collisions": _number(0.0, 200.0),
    "fixed_collisions": _switch,
    "spectrum": _choice(SPECTRA),
    "noise_per_module": _number(0.0, 10000.0),
    "hit_efficiency": _number(0.0, 1.0),
    "resolution": _number(0.0, 10.0),
    "module_material": _number(0.0, 1.0),
    "foil_material": _number(0.0, 1.0),
    "station_gap": _number(0.0, STATION_PITCH_MIN, inclusive=False),
    "overlap": _number(0.0, 30.0),
    "overlap_shape": _choice(OVERLAP_SHAPES),
    "origin_z_spread": _number(0.0, 1000.0),
    "conversions": _switch,
    "delta_rays": _switch,
    "spill_over": _number(0.0, 1.0),
    "gun": _choice(("", *GUN_SPECIES)),
    "gun_p": _range("MeV", 0.0, 1e8),
    "gun_eta": _range(None, -10.0, 10.0),
    "gun_phi": _range(None, -2.0 * math.pi, 2.0 * math.pi),
    "gun_particles": _range(None, 1.0, 100000.0, whole=True),
    "gun_origin": _origin,
}
assert set(_CONVERTERS) == set(NAMES)


def _plain(value: Any) -> Any:
    return list(value) if isinstance(value, tuple) else value


def _check_together(conditions: Conditions) -> None:
    if conditions.fixed_collisions and (conditions.collisions < 1 or not conditions.collisions.is_integer()):
        raise ConditionError(f"with fixed_collisions, 'collisions' must be a whole number of at least 1, "
                             f"not {conditions.collisions:g}")
    if conditions.gun and conditions.gun_p[0] <= 0.0:
        raise ConditionError("the gun's momenta must be above 0")


def _assign(values: dict[str, Any], sources: dict[str, str], name: str, value: Any, source: str) -> None:
    key = name.strip().replace("-", "_")
    if key not in NAMES:
        raise ConditionError(f"unknown condition '{name}'; known: {', '.join(NAMES)}")
    values[key] = _CONVERTERS[key](key, value)
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


def resolve(table: Mapping[str, Any] | None = None, assignments: Sequence[str] = (),
            base: Conditions | None = None) -> tuple[Conditions, dict[str, str]]:
    """The conditions in force, and the source of each: `base` (the defaults when None), then the file's
    table, then the command line's name=value assignments in order."""
    values: dict[str, Any] = {}
    sources = {name: DEFAULT for name in NAMES}
    for name, value in (table or {}).items():
        _assign(values, sources, str(name), value, FILE)
    for text in assignments:
        _assign(values, sources, *parse_assignment(text), COMMAND_LINE)
    conditions = replace(base or Conditions(), **values)
    _check_together(conditions)
    return conditions, sources


def with_values(base: Conditions | None = None, **values: Any) -> Conditions:
    """Conditions with the given values, checked as from the command line (for the Python API and scans)."""
    conditions, _ = resolve(values, base=base)
    return conditions


def describe(conditions: Conditions) -> str:
    """One line: the conditions that differ from the defaults."""
    changed = conditions.changed()
    if not changed:
        return "default conditions"
    return ", ".join(f"{name}={text(value)}{'MeV' if name == 'gun_p' else ''}" for name, value in changed.items())


def text(value: Any) -> str:
    """A condition's value as it is written on the command line."""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, tuple):
        return "-".join(text(v) for v in value) if value[0] != value[1] else text(value[0])
    if isinstance(value, float) and math.isfinite(value):
        return f"{value:g}"
    return str(value)


def report(conditions: Conditions, sources: Mapping[str, str]) -> dict[str, dict[str, Any]]:
    """The conditions for a JSON report: each value with its source."""
    return {name: {"value": value, "source": sources.get(name, DEFAULT)}
            for name, value in conditions.as_dict().items()}
