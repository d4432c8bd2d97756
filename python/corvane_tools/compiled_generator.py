"""The generator's compiled part, `corvane._generator`: its flight arithmetic, table interpolation, bases and
the building of its Monte Carlo rows. With a compiled module built before it, or before one of the functions
below, `module` is None and the generator's array code runs instead; both give the same events to the last
bit (tests set `module` to None to compare them). `flight` is the module when it also has `fly` (the flight
through the detector in one pass), else None: a module built before `fly` leaves the flight to the array code
and still serves the rest."""
from types import ModuleType
from typing import Final

FUNCTIONS: Final = ("candidate_window", "line_crossings", "montecarlo_rows", "interpolate", "perpendicular_basis")


def _load() -> ModuleType | None:
    try:
        from corvane import _generator
    except ImportError:
        return None
    return _generator if all(hasattr(_generator, name) for name in FUNCTIONS) else None


module: ModuleType | None = _load()
flight: ModuleType | None = module if module is not None and hasattr(module, "fly") else None
