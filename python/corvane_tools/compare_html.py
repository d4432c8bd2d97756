"""The HTML page of `corvane compare`: the verdict, the rows that make B worse, the whole comparison,
a chart of the headline rates, both reports' parameters and provenance."""
from collections.abc import Sequence
from pathlib import Path
from typing import Any, Final

import matplotlib

matplotlib.use("Agg")  # files only, no display needed

import matplotlib.pyplot as plt  # noqa: E402  (after choosing the backend)
import numpy as np  # noqa: E402

from .compare import ALL_TRACKS, HEADER, Comparison, conclusion, table_cells  # noqa: E402
from .html_report import Section, cell_text, facts_table, render  # noqa: E402
from .report_tables import Table  # noqa: E402

# (category, quantity) pairs drawn in the chart, with their labels.
HEADLINE: Final = ((ALL_TRACKS, "ghost rate", "ghost rate"), ("velo", "efficiency", "velo efficiency"),
                   ("long", "efficiency", "long efficiency"), ("velo", "clone rate", "velo clone rate"))
DPI: Final = 110


def draw_headline(comparison: Comparison, path: Path) -> Path:
    """Per algorithm, the headline rates of A and B side by side (percent)."""
    values = {(row.algorithm, row.category, row.quantity): (row.a, row.b) for row in comparison.rows}
    algorithms = list(dict.fromkeys(row.algorithm for row in comparison.rows))
    figure, panels = plt.subplots(1, len(HEADLINE), figsize=(3.6 * len(HEADLINE), 3.8), squeeze=False)
    positions = np.arange(len(algorithms))
    for axes, (category, quantity, label) in zip(panels[0], HEADLINE):
        for offset, (side, name) in enumerate(((0, comparison.a_name), (1, comparison.b_name))):
            heights = [values.get((algorithm, category, quantity), (None, None))[side] for algorithm in algorithms]
            axes.bar(positions + (offset - 0.5) * 0.4, [np.nan if h is None else h for h in heights], 0.4,
                     label=name)
        axes.set_xticks(positions, algorithms, rotation=20, ha="right", fontsize="small")
        axes.set_title(f"{label} (%)", fontsize="medium")
        axes.grid(alpha=0.3, axis="y")
    panels[0][0].legend(fontsize="small")
    figure.suptitle(f"{comparison.a_name} and {comparison.b_name}, per algorithm", fontsize="medium")
    figure.tight_layout()
    figure.savefig(path, dpi=DPI)
    plt.close(figure)
    return path


def _parameters(a: dict[str, Any], b: dict[str, Any]) -> list[Table]:
    """Per algorithm, each parameter in A and in B with its source."""
    tables = []
    for name in dict.fromkeys([*a["algorithms"], *b["algorithms"]]):
        sides = [report["algorithms"].get(name, {}).get("parameters") or {} for report in (a, b)]
        if not any(sides):
            continue
        rows = [[parameter, *[_setting(side.get(parameter)) for side in sides]]
                for parameter in dict.fromkeys([*sides[0], *sides[1]])]
        label = (a["algorithms"].get(name) or b["algorithms"][name]).get("class", name)
        tables.append(Table(label, ("parameter", "A [source]", "B [source]"), rows, prose=True))
    return tables


def _setting(entry: dict[str, Any] | None) -> str:
    if entry is None:
        return "-"
    return f"{cell_text(entry['value'])} [{entry['source']}]"


def compare_page(title: str, comparison: Comparison, described: Sequence[str], a: dict[str, Any],
                 b: dict[str, Any], plots: Sequence[Path]) -> str:
    cells = table_cells(comparison)
    failing = {id(row) for row in comparison.failures}
    failures = [cells[index + 1] for index, row in enumerate(comparison.rows) if id(row) in failing]
    note = (f"Values in percent; B - A in percentage points; tolerance {comparison.tolerance:g}.")
    sections = [Section("Verdict", [Table(conclusion(comparison), ("report",), [[line] for line in described],
                                          [*comparison.notes], prose=True)])]
    if failures:
        sections.append(Section("Where B is worse", [Table("Rows beyond the tolerance", HEADER, failures, [note])]))
    sections.append(Section("Comparison", [Table("Every algorithm, category and quantity", HEADER, cells[1:],
                                                 [note])], scroll=True))
    sections.append(Section("Headline rates", images=list(plots)))
    parameters = _parameters(a, b)
    if parameters:
        sections.append(Section("Parameters", parameters))
    provenance = [facts_table(f"{side}: where its results come from", report["provenance"])
                  for side, report in (("A", a), ("B", b)) if report.get("provenance")]
    if provenance:
        sections.append(Section("Provenance", provenance))
    return render(title, sections)
