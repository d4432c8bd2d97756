"""Ranges and points as a user writes them for a particle gun: "2-20GeV", "-5--2", "300", "0,0,10"."""
import math
import re
from typing import Any, Final

# Gun species by name: (PDG code of the positive particle, mass in MeV). The lepton codes are those of the
# negative lepton, so a positive lepton carries the negative code.
GUN_SPECIES: Final = {
    "pion": (211, 139.57),
    "kaon": (321, 493.68),
    "proton": (2212, 938.27),
    "electron": (-11, 0.511),
    "muon": (-13, 105.66),
}

MOMENTUM_UNITS: Final = {"mev": 1.0, "gev": 1000.0, "tev": 1.0e6}

_NUMBER: Final = r"[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?"
_RANGE: Final = re.compile(rf"\s*({_NUMBER})\s*([a-zA-Z]*)\s*(?:(?:-|\.\.|to)\s*({_NUMBER})\s*([a-zA-Z]*))?\s*")


class RangeError(ValueError):
    """A range or point that cannot be read; the message is one line."""


def _scale(unit_text: str, unit: str | None) -> float | None:
    """The factor of a written unit, None when none is written; refuses units where none belong."""
    if not unit_text:
        return None
    if unit is None or unit_text.lower() not in MOMENTUM_UNITS:
        raise RangeError(f"unknown unit '{unit_text}'" + (" (use MeV, GeV or TeV)" if unit else ""))
    return MOMENTUM_UNITS[unit_text.lower()]


def _from_text(text: str, unit: str | None) -> tuple[float, float]:
    match = _RANGE.fullmatch(text)
    if match is None:
        raise RangeError(f"'{text}' is not a range like " + ("'2-20GeV'" if unit else "'2-5'"))
    first, first_unit, second, second_unit = match.groups()
    second = first if second is None else second
    scales = (_scale(first_unit, unit), _scale(second_unit, unit))
    if unit is not None and scales == (None, None):
        raise RangeError(f"'{text}' needs a unit, for example '2-20GeV' or '500MeV'")
    common = scales[1] if scales[1] is not None else scales[0]
    first_scale = scales[0] if scales[0] is not None else common
    return float(first) * (first_scale or 1.0), float(second) * (common or 1.0)


def parse_range(value: Any, unit: str | None, low: float, high: float, whole: bool = False) -> tuple[float, float]:
    """(lowest, highest) from text ("a-b" or "a", with a unit where `unit` is given) or a TOML pair of numbers
    (in `unit` itself); both within [low, high], the first not above the second."""
    if isinstance(value, str):
        pair = _from_text(value, unit)
    elif isinstance(value, (list, tuple)) and len(value) in (1, 2) and all(
            isinstance(v, (int, float)) and not isinstance(v, bool) for v in value):
        pair = (float(value[0]), float(value[-1]))
    elif isinstance(value, (int, float)) and not isinstance(value, bool):
        pair = (float(value), float(value))
    else:
        raise RangeError(f"{value!r} is not a range")
    first, second = pair
    if not (math.isfinite(first) and math.isfinite(second) and low <= first <= second <= high):
        raise RangeError(f"{value!r} must run upwards within [{low:g}, {high:g}]" + (f" {unit}" if unit else ""))
    if whole and not (first.is_integer() and second.is_integer()):
        raise RangeError(f"{value!r} must be whole numbers")
    return first, second


def parse_origin(value: Any) -> tuple[float, float, float]:
    """A point "x,y,z" (mm) from text or a TOML list of three numbers."""
    parts = value.split(",") if isinstance(value, str) else value
    try:
        point = tuple(float(v) for v in parts) if isinstance(parts, (list, tuple)) else ()
    except (TypeError, ValueError):
        point = ()
    if len(point) != 3 or not all(math.isfinite(v) and abs(v) < 1e5 for v in point):
        raise RangeError(f"{value!r} is not a point x,y,z in mm (or 'random')")
    return point[0], point[1], point[2]
