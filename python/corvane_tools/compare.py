"""Two JSON reports of `corvane run` side by side, and whether the second is worse.

`compare_reports` returns the comparison as data, one row per algorithm,
particle category and quantity (the ghost rate once per algorithm); the
command prints it as text, CSV or Markdown (`format_table`), and other
views (a web page) can show the same rows. A quantity is worse in B when it
moved against B by more than the tolerance, in percentage points:
efficiency, purity and hit efficiency down, ghost and clone rates up. The
quantities are those of the summary table that `run` prints (see
`summary_table`), computed from the counts in each report's validation. An
algorithm or category that A has and B lacks cannot be guarded, and counts
as worse too.
"""
import csv
import io
import json
from collections.abc import Sequence
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Final, Literal

from .summary_table import CategoryRow, GhostRow, category_rows, ghost_row

TableFormat = Literal["text", "csv", "markdown"]
TABLE_FORMATS: Final = ("text", "csv", "markdown")

WORSE: Final = "worse"
BETTER: Final = "better"
SAME: Final = "same"
MISSING: Final = "missing in B"
NEW: Final = "new in B"
ALL_TRACKS: Final = "(all tracks)"


@dataclass(frozen=True)
class Quantity:
    label: str
    field: str                # of the summary table's row (a fraction)
    higher_is_better: bool


# The quantities of the summary table that `run` prints, with its definitions.
GHOST_RATE: Final = Quantity("ghost rate", "rate", False)
CATEGORY_QUANTITIES: Final = (Quantity("efficiency", "efficiency", True),
                              Quantity("clone rate", "clone_share", False),
                              Quantity("purity", "purity", True),
                              Quantity("hit efficiency", "hit_efficiency", True))


class ReportError(Exception):
    """A report that cannot be read or is not a `corvane run` JSON report; the message is one line."""


@dataclass(frozen=True)
class ComparisonRow:
    algorithm: str            # as the summaries call it
    category: str
    quantity: str
    a: float | None           # percent
    b: float | None
    verdict: str              # WORSE, BETTER, SAME, MISSING or NEW

    @property
    def change(self) -> float | None:
        return None if self.a is None or self.b is None else self.b - self.a


@dataclass
class Comparison:
    a_name: str
    b_name: str
    tolerance: float
    rows: list[ComparisonRow] = field(default_factory=list)
    notes: list[str] = field(default_factory=list)

    @property
    def failures(self) -> list[ComparisonRow]:
        """The rows that make B worse than A: worse beyond the tolerance, or missing in B."""
        return [row for row in self.rows if row.verdict in (WORSE, MISSING)]


def load_report(path: Path) -> dict[str, Any]:
    try:
        report = json.loads(path.read_text(encoding="utf-8"))
    except OSError as error:
        raise ReportError(f"{path}: cannot be read: {error.strerror or error}") from None
    except ValueError as error:
        raise ReportError(f"{path}: not a JSON file: {error}") from None
    if not isinstance(report, dict) or not isinstance(report.get("algorithms"), dict):
        raise ReportError(f"{path}: not a report of corvane run --json (it has no \"algorithms\")")
    return report


def _verdict(quantity: Quantity, a: float, b: float, tolerance: float) -> str:
    gain = (b - a) if quantity.higher_is_better else (a - b)
    if gain < -tolerance:
        return WORSE
    return BETTER if gain > tolerance else SAME


def _row(label: str, category: str, quantity: Quantity, a: CategoryRow | GhostRow | None,
         b: CategoryRow | GhostRow | None, tolerance: float) -> ComparisonRow:
    value_a = None if a is None else 100.0 * float(getattr(a, quantity.field))
    value_b = None if b is None else 100.0 * float(getattr(b, quantity.field))
    if value_a is None:
        verdict = NEW
    elif value_b is None:
        verdict = MISSING
    else:
        verdict = _verdict(quantity, value_a, value_b, tolerance)
    return ComparisonRow(label, category, quantity.label, value_a, value_b, verdict)


def _categories(validation: dict[str, Any] | None) -> dict[str, CategoryRow]:
    if validation is None:
        return {}
    labels = tuple(entry["label"] for entry in validation["categories"])
    return {row.label: row for row in category_rows(validation, labels)}


def _category_order(a: dict[str, CategoryRow], b: dict[str, CategoryRow]) -> list[str]:
    return list(a) + [label for label in b if label not in a]


def compare_reports(a: dict[str, Any], b: dict[str, Any], tolerance: float = 0.0, a_name: str = "A",
                    b_name: str = "B") -> Comparison:
    """Every algorithm of either report, per category and quantity, A's value beside B's. ReportError
    when either report lacks a value the comparison needs."""
    try:
        return _compare(a, b, tolerance, a_name, b_name)
    except (KeyError, TypeError, ValueError, AttributeError) as error:
        raise ReportError(f"a report lacks the validation values to compare ({type(error).__name__}: {error})") \
            from None


def _compare(a: dict[str, Any], b: dict[str, Any], tolerance: float, a_name: str, b_name: str) -> Comparison:
    comparison = Comparison(a_name, b_name, tolerance)
    digests = [report.get("provenance", {}).get("events_digest") for report in (a, b)]
    if None not in digests and digests[0] != digests[1]:
        comparison.notes.append("the two reports are of different events (their events digests differ)")
    algorithms_a, algorithms_b = a["algorithms"], b["algorithms"]
    for name in list(algorithms_a) + [name for name in algorithms_b if name not in algorithms_a]:
        entry_a, entry_b = algorithms_a.get(name), algorithms_b.get(name)
        label = (entry_a or entry_b or {}).get("class", name)
        validation_a = None if entry_a is None else entry_a["validation"]
        validation_b = None if entry_b is None else entry_b["validation"]
        ghosts_a, ghosts_b = (None if validation is None else ghost_row(validation)
                              for validation in (validation_a, validation_b))
        comparison.rows.append(_row(label, ALL_TRACKS, GHOST_RATE, ghosts_a, ghosts_b, tolerance))
        categories_a, categories_b = _categories(validation_a), _categories(validation_b)
        for category in _category_order(categories_a, categories_b):
            for quantity in CATEGORY_QUANTITIES:
                comparison.rows.append(_row(label, category, quantity, categories_a.get(category),
                                            categories_b.get(category), tolerance))
        if entry_a is not None and entry_b is not None and entry_a.get("tracks_digest") is not None \
                and entry_a.get("tracks_digest") == entry_b.get("tracks_digest"):
            comparison.notes.append(f"{label}: the same tracks in both (equal track digests)")
    return comparison


# ---- tables ----------------------------------------------------------------

HEADER: Final = ("algorithm", "category", "quantity", "A (%)", "B (%)", "B - A", "verdict")


def _number(value: float | None, signed: bool = False) -> str:
    if value is None:
        return "-"
    return f"{value:+.2f}" if signed else f"{value:.2f}"


def table_cells(comparison: Comparison) -> list[tuple[str, ...]]:
    """The rows as text cells (two decimals), header first."""
    cells: list[tuple[str, ...]] = [HEADER]
    cells += [(row.algorithm, row.category, row.quantity, _number(row.a), _number(row.b),
               _number(row.change, signed=True), row.verdict) for row in comparison.rows]
    return cells


def _text(cells: Sequence[tuple[str, ...]]) -> str:
    widths = [max(len(row[column]) for row in cells) for column in range(len(HEADER))]
    numeric = {3, 4, 5}
    lines = ["  ".join(cell.rjust(width) if column in numeric else cell.ljust(width)
                       for column, (cell, width) in enumerate(zip(row, widths))).rstrip() for row in cells]
    return "\n".join(lines) + "\n"


def _markdown(cells: Sequence[tuple[str, ...]]) -> str:
    def line(row: Sequence[str]) -> str:
        return "| " + " | ".join(cell.replace("|", "\\|") for cell in row) + " |"

    rule = "|" + "|".join("---:" if column in (3, 4, 5) else "---" for column in range(len(HEADER))) + "|"
    return "\n".join([line(cells[0]), rule, *(line(row) for row in cells[1:])]) + "\n"


def _csv(comparison: Comparison) -> str:
    """Full precision: a spreadsheet rounds as it likes."""
    stream = io.StringIO()
    writer = csv.writer(stream, lineterminator="\n")
    writer.writerow(HEADER)
    for row in comparison.rows:
        writer.writerow([row.algorithm, row.category, row.quantity, "" if row.a is None else repr(row.a),
                         "" if row.b is None else repr(row.b), "" if row.change is None else repr(row.change),
                         row.verdict])
    return stream.getvalue()


def format_table(comparison: Comparison, table_format: TableFormat = "text") -> str:
    if table_format == "csv":
        return _csv(comparison)
    cells = table_cells(comparison)
    return _markdown(cells) if table_format == "markdown" else _text(cells)


def conclusion(comparison: Comparison) -> str:
    """One line: whether B is worse than A, and where."""
    failures = comparison.failures
    if not failures:
        return (f"{comparison.b_name} is not worse than {comparison.a_name} beyond the tolerance of "
                f"{comparison.tolerance:g} percentage points.")
    places = ", ".join(f"{row.algorithm} {row.category} {row.quantity}" for row in failures[:5])
    more = f" and {len(failures) - 5} more" if len(failures) > 5 else ""
    return (f"{comparison.b_name} is worse than {comparison.a_name} in {len(failures)} of {len(comparison.rows)} "
            f"quantities beyond the tolerance of {comparison.tolerance:g} percentage points: {places}{more}.")
