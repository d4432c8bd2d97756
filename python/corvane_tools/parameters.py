"""The reconstruction algorithms' parameters: what each one is, and where its value came from.

The compiled classes accept anything their constructors can convert, also
values no physicist means (a negative tolerance, NaN, a negative count). The
tool refuses those before a job starts, one line per refusal, and records for
every parameter whether it is the default, from a settings file
(`--config settings.toml`, one table per algorithm) or from the command line
(`--param algorithm.parameter=value`). `write_config` writes a file that
`--config` reads back.
"""
import math
import re
import tomllib
from collections.abc import Callable, Iterable, Mapping, Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Final, Literal

import corvane

from .algorithms import ALGORITHMS, Solver
from .conditions import TABLE as GENERATOR_TABLE

Kind = Literal["float", "pair", "count", "bool"]
Value = float | tuple[float, float] | int | bool

DEFAULT: Final = "default"
FILE: Final = "file"
COMMAND_LINE: Final = "command line"

COUNT_MAX: Final = 255  # beyond the detector's 52 modules any count means the same
# Tables of a settings file that other parts of the tool read (the generated sample's conditions).
OTHER_TABLES: Final = (GENERATOR_TABLE,)


@dataclass(frozen=True)
class Parameter:
    name: str
    kind: Kind
    default: Value
    meaning: str


def _float(name: str, default: float, meaning: str) -> Parameter:
    return Parameter(name, "float", default, meaning)


def _pair(name: str, default: float, meaning: str) -> Parameter:
    return Parameter(name, "pair", (default, default), meaning)


def _count(name: str, default: int, meaning: str) -> Parameter:
    return Parameter(name, "count", default, meaning)


# Every constructor parameter of each algorithm, in the constructor's order, with the compiled default.
PARAMETERS: Final[dict[str, tuple[Parameter, ...]]] = {
    "track_following": (
        _pair("max_slopes", 0.7, "largest seed slopes dx/dz, dy/dz"),
        _pair("max_tolerance", 0.4, "largest x, y distance (mm) of a hit from the extrapolated track"),
        _float("max_scatter", 0.4, "upper bound of the scatter measure of a continuing hit"),
        _count("min_track_length", 3, "a track of exactly this many hits is weak"),
        _count("min_strong_track_length", 4, "a track of at least this many hits is accepted at once"),
    ),
    "search_by_triplet_trie": (
        _float("max_scatter", 0.1, "largest squared x-y distance (mm^2) of a hit from the line of two others"),
        _count("min_strong_track_length", 4, "a track of at least this many hits marks its hits used"),
        _count("allowed_missed_modules", 2, "layers a track may miss in a row before it is finished"),
    ),
    "graph_dfs": (
        _pair("max_slopes", 0.7, "x: width of the candidate window; y: largest segment slope dy/dz"),
        _pair("max_tolerance", 0.4, "largest x, y distance (mm) when joining two segments"),
        _float("max_scatter", 0.4, "scatter bound when joining two segments"),
        _count("minimum_root_weight", 1, "smallest weight of a root segment"),
        _count("weight_assignment_iterations", 2, "weight-propagation passes"),
        _count("allowed_skip_modules", 1, "modules a segment may reach beyond the nearest one"),
        Parameter("allow_cross_track", "bool", True, "segments may join modules at an odd index distance"),
        Parameter("clone_ghost_killing", "bool", True, "remove 3-hit tracks sharing a hit with a longer one"),
    ),
}


class ParameterError(ValueError):
    """Refused settings: one line per refusal, in `lines`."""

    def __init__(self, lines: Sequence[str]) -> None:
        super().__init__("\n".join(lines))
        self.lines = list(lines)


def parameter(algorithm: str, name: str) -> Parameter:
    """The parameter `name` of `algorithm`; KeyError with a one-line reason when either is unknown."""
    if algorithm not in PARAMETERS:
        raise KeyError(f"unknown algorithm '{algorithm}'; choose from {', '.join(PARAMETERS)}")
    for entry in PARAMETERS[algorithm]:
        if entry.name == name:
            return entry
    known = ", ".join(entry.name for entry in PARAMETERS[algorithm])
    raise KeyError(f"{algorithm} has no parameter '{name}'; it has {known}")


# ---- values: checking, parsing text, printing -------------------------------

def _checked_float(number: float) -> float:
    if math.isnan(number):
        raise ValueError("must be a number, not NaN")
    if number < 0.0:
        raise ValueError("must not be negative")
    return float(number)


def check_value(entry: Parameter, value: Any) -> Value:
    """`value` as the parameter holds it (pairs as tuples), or ValueError saying what is wrong.
    Takes what a settings file gives: numbers, lists of two numbers, integers, booleans."""
    if entry.kind == "bool":
        if not isinstance(value, bool):
            raise ValueError("must be true or false")
        return value
    if entry.kind == "count":
        if isinstance(value, bool) or not isinstance(value, int):
            raise ValueError(f"must be a whole number from 0 to {COUNT_MAX}")
        if not 0 <= value <= COUNT_MAX:
            raise ValueError(f"must be from 0 to {COUNT_MAX}" if value > 0 else "must not be negative")
        return value
    if entry.kind == "pair":
        if not isinstance(value, (list, tuple)) or len(value) != 2:
            raise ValueError("must be two numbers (x, y)")
        x, y = (_number(item) for item in value)
        return (_checked_float(x), _checked_float(y))
    return _checked_float(_number(value))


def _number(value: Any) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise ValueError("must be a number")
    return float(value)


def _parse_float(text: str) -> float:
    try:
        return float(text)
    except ValueError:
        raise ValueError(f"'{text}' is not a number") from None


def parse_value(entry: Parameter, text: str) -> Value:
    """A value from its command-line text: 0.15; a pair as 0.15,0.15; a count as 5; true or false."""
    text = text.strip()
    if entry.kind == "bool":
        lowered = text.lower()
        if lowered not in ("true", "false"):
            raise ValueError(f"'{text}' is not true or false")
        return lowered == "true"
    if entry.kind == "count":
        if not re.fullmatch(r"[+-]?[0-9]+", text):
            raise ValueError(f"'{text}' is not a whole number")
        return check_value(entry, int(text))
    if entry.kind == "pair":
        parts = text.split(",")
        if len(parts) != 2:
            raise ValueError(f"'{text}' is not two numbers x,y (for example 0.15,0.15)")
        return check_value(entry, [_parse_float(part) for part in parts])
    return check_value(entry, _parse_float(text))


def format_value(value: Value) -> str:
    """A value as `--param` takes it."""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, tuple):
        return ",".join(repr(float(item)) for item in value)
    return repr(value)


def _toml_value(value: Value) -> str:
    if isinstance(value, tuple):
        return "[" + ", ".join(repr(float(item)) for item in value) + "]"
    return format_value(value)   # repr of a float (inf included) reads back as TOML exactly


# ---- sources: a settings file and --param assignments -----------------------

Assignments = dict[str, dict[str, Value]]   # algorithm -> parameter -> value


def _assign(found: Assignments, algorithm: str, name: str, convert: Callable[[Parameter], Value], where: str,
            label: str, problems: list[str]) -> None:
    """Puts the converted value into `found`, or a line saying why not (after `where`) into `problems`."""
    try:
        entry = parameter(algorithm, name)
        found.setdefault(algorithm, {})[name] = convert(entry)
    except KeyError as error:
        problems.append(f"{where}: {error.args[0]}")
    except ValueError as error:
        problems.append(f"{where}: {label} {error}")


def read_config(path: Path) -> Assignments:
    """The settings of a TOML file: one table per algorithm, one key per parameter."""
    try:
        with path.open("rb") as stream:
            document = tomllib.load(stream)
    except OSError as error:
        raise ParameterError([f"{path}: cannot be read: {error.strerror or error}"]) from None
    except tomllib.TOMLDecodeError as error:
        raise ParameterError([f"{path}: not a valid TOML file: {error}"]) from None
    found: Assignments = {}
    problems: list[str] = []
    for algorithm, table in document.items():
        if algorithm in OTHER_TABLES:
            continue
        if not isinstance(table, dict):
            problems.append(f"{path}: '{algorithm}' must be a table of parameters, [{algorithm}]")
            continue
        for name, value in table.items():
            # _assign calls the conversion at once, within this iteration.
            _assign(found, algorithm, name, lambda entry: check_value(entry, value), str(path),  # noqa: B023
                    f"{algorithm}.{name}", problems)
    if problems:
        raise ParameterError(problems)
    return found


def parse_assignments(texts: Iterable[str], problems: list[str] | None = None) -> Assignments:
    """Settings from `algorithm.parameter=value` texts; a later one for the same parameter wins.
    Refusals are added to `problems` when given, else raised together as a ParameterError."""
    found: Assignments = {}
    refused: list[str] = []
    for text in texts:
        match = re.fullmatch(r"\s*([A-Za-z_][A-Za-z0-9_]*)\.([A-Za-z_][A-Za-z0-9_]*)\s*=(.*)", text, re.S)
        if match is None:
            refused.append(f"--param '{text}': expected algorithm.parameter=value, "
                            "for example track_following.max_tolerance=0.15,0.15")
            continue
        algorithm, name, value_text = match.groups()
        _assign(found, algorithm, name, lambda entry: parse_value(entry, value_text),  # noqa: B023 (called at once)
                f"--param {text}", name, refused)
    if problems is not None:
        problems += refused
    elif refused:
        raise ParameterError(refused)
    return found


# ---- resolved settings ------------------------------------------------------

@dataclass(frozen=True)
class AlgorithmSettings:
    """The parameters one algorithm runs with: every one of them, in constructor order, and where
    each value came from (DEFAULT, FILE or COMMAND_LINE)."""
    algorithm: str
    values: tuple[tuple[str, Value], ...]
    sources: tuple[tuple[str, str], ...]

    @classmethod
    def defaults(cls, algorithm: str) -> "AlgorithmSettings":
        return resolve_one(algorithm, {}, {})

    @classmethod
    def from_report(cls, algorithm: str, report: Mapping[str, Mapping[str, Any]]) -> "AlgorithmSettings":
        """The settings that `as_report` describes (as kept in a JSON report or a tracks file)."""
        values = tuple((name, tuple(entry["value"]) if isinstance(entry["value"], list) else entry["value"])
                       for name, entry in report.items())
        return cls(algorithm, values, tuple((name, str(entry["source"])) for name, entry in report.items()))

    def keyword_arguments(self) -> dict[str, Value]:
        return dict(self.values)

    def source(self, name: str) -> str:
        return dict(self.sources)[name]

    def describe(self) -> str:
        """One line: every parameter as `--param` takes it, with its source."""
        sources = dict(self.sources)
        return ", ".join(f"{name}={format_value(value)} [{sources[name]}]" for name, value in self.values) or "none"

    def as_report(self) -> dict[str, dict[str, Any]]:
        """For the JSON report: per parameter, its value (pairs as lists) and source."""
        sources = dict(self.sources)
        return {name: {"value": list(value) if isinstance(value, tuple) else value, "source": sources[name]}
                for name, value in self.values}


def resolve_one(algorithm: str, from_file: Mapping[str, Value],
                from_command_line: Mapping[str, Value]) -> AlgorithmSettings:
    """The settings of one algorithm: the command line over the file over the defaults."""
    values: list[tuple[str, Value]] = []
    sources: list[tuple[str, str]] = []
    for entry in PARAMETERS.get(algorithm, ()):
        if entry.name in from_command_line:
            value, source = from_command_line[entry.name], COMMAND_LINE
        elif entry.name in from_file:
            value, source = from_file[entry.name], FILE
        else:
            value, source = entry.default, DEFAULT
        values.append((entry.name, value))
        sources.append((entry.name, source))
    return AlgorithmSettings(algorithm, tuple(values), tuple(sources))


def resolve_settings(algorithms: Sequence[str], config: Path | None = None,
                     assignments: Sequence[str] = ()) -> dict[str, AlgorithmSettings]:
    """The settings of each algorithm to run. A settings file may hold tables for other algorithms too
    (they are checked, then left aside); a `--param` for an algorithm that does not run is refused.
    Every refusal is collected, then raised at once as a ParameterError."""
    problems: list[str] = []
    from_file: Assignments = {}
    from_command_line: Assignments = {}
    if config is not None:
        try:
            from_file = read_config(config)
        except ParameterError as error:
            problems += error.lines
    from_command_line = parse_assignments(assignments, problems)
    for algorithm in from_command_line:
        if algorithm not in algorithms:
            problems.append(f"--param {algorithm}.*: {algorithm} is not among the algorithms run "
                            f"({', '.join(algorithms)})")
    if problems:
        raise ParameterError(problems)
    return {algorithm: resolve_one(algorithm, from_file.get(algorithm, {}), from_command_line.get(algorithm, {}))
            for algorithm in algorithms if algorithm in PARAMETERS}


def construct(algorithm: str, settings: AlgorithmSettings | None = None) -> Solver:
    """The solver of `algorithm` with `settings` (its defaults without)."""
    solver_class = getattr(corvane.ReconstructionAlgorithms, ALGORITHMS[algorithm])
    solver: Solver = solver_class(**settings.keyword_arguments()) if settings is not None else solver_class()
    return solver


def config_text(settings: Iterable[AlgorithmSettings], comment: str = "") -> str:
    """A settings file that `--config` reads back to the same values: one table per algorithm."""
    lines = [f"# {line}" for line in comment.splitlines()]
    for entry in settings:
        if lines:
            lines.append("")
        lines.append(f"[{entry.algorithm}]")
        lines += [f"{name} = {_toml_value(value)}" for name, value in entry.values]
    return "\n".join(lines) + "\n"


def write_config(path: Path, settings: Iterable[AlgorithmSettings], comment: str = "") -> None:
    path.write_text(config_text(settings, comment), encoding="utf-8")
