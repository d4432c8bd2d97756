"""Reports as one self-contained HTML page: tables, plots (embedded as data URIs), parameters and
provenance, drawn from the same report dictionary that `--json` writes. The page loads nothing from
anywhere, so it can be mailed or archived as it is."""
import base64
import html
from collections.abc import Sequence
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Final

from .report_tables import Table, number
from .summary_table import LEGEND
from .tuning_report import parameter_table, results_table, trials_table

STYLE: Final = """
body { font-family: sans-serif; margin: 2em auto; max-width: 75em; color: #222; }
h1 { font-size: 1.5em; } h2 { font-size: 1.2em; margin-top: 2em; border-bottom: 1px solid #ccc; }
table { border-collapse: collapse; margin: 0.8em 0; font-size: 0.9em; }
caption { text-align: left; font-weight: bold; padding: 0.3em 0; }
th, td { border: 1px solid #ccc; padding: 0.25em 0.6em; }
th { background: #f0f0f0; }
td { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
td:first-child, table.facts td { text-align: left; } table.facts td { white-space: normal; }
p.note { font-size: 0.85em; color: #555; margin: 0.2em 0; }
figure { margin: 1em 0; } img { max-width: 100%; border: 1px solid #eee; }
div.scroll { max-height: 30em; overflow: auto; }
"""


@dataclass
class Section:
    heading: str
    tables: list[Table] = field(default_factory=list)
    images: list[Path] = field(default_factory=list)
    scroll: bool = False           # long tables get a scroll box
    notes: list[str] = field(default_factory=list)   # below the tables, for all of them


def _table(table: Table, scroll: bool) -> str:
    head = "".join(f"<th>{html.escape(h)}</th>" for h in table.headers)
    body = "".join("<tr>" + "".join(f"<td>{html.escape(cell)}</td>" for cell in row) + "</tr>"
                   for row in table.rows)
    notes = "".join(f'<p class="note">{html.escape(note)}</p>' for note in table.notes)
    kind = ' class="facts"' if table.prose else ""
    text = (f"<table{kind}><caption>{html.escape(table.caption)}</caption><thead><tr>{head}</tr></thead>"
            f"<tbody>{body}</tbody></table>{notes}")
    return f'<div class="scroll">{text}</div>' if scroll else text


def _image(path: Path) -> str:
    data = base64.b64encode(path.read_bytes()).decode("ascii")
    return (f'<figure><img alt="{html.escape(path.stem)}" src="data:image/png;base64,{data}">'
            f"<figcaption>{html.escape(path.name)}</figcaption></figure>")


def render(title: str, sections: Sequence[Section]) -> str:
    """The page: every table as an HTML table, every image read and embedded."""
    parts = [f"<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>{html.escape(title)}</title>"
             f"<style>{STYLE}</style></head><body><h1>{html.escape(title)}</h1>"]
    for section in sections:
        parts.append(f"<section><h2>{html.escape(section.heading)}</h2>")
        parts.extend(_table(table, section.scroll) for table in section.tables)
        parts.extend(f'<p class="note">{html.escape(note)}</p>' for note in section.notes)
        parts.extend(_image(path) for path in section.images)
        parts.append("</section>")
    parts.append("</body></html>\n")
    return "".join(parts)


def cell_text(value: Any) -> str:
    """A value of a report as one table cell (nested values on one line, booleans as in settings files)."""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, (list, tuple)):
        return ", ".join(cell_text(v) for v in value)
    if isinstance(value, dict):
        return ", ".join(f"{k}={cell_text(v)}" for k, v in value.items())
    return str(value)


def facts_table(caption: str, facts: dict[str, Any]) -> Table:
    """A table of names and values (nested values written on one line)."""
    return Table(caption, ("", "value"), [[str(key), cell_text(value)] for key, value in facts.items()], prose=True)


def settings_table(caption: str, settings: dict[str, Any]) -> Table:
    """Settings given as {name: {"value": ..., "source": ...}}: what is in force and where it came from."""
    return Table(caption, ("", "value", "source"),
                 [[name, cell_text(entry["value"]), str(entry["source"])] for name, entry in settings.items()], prose=True)


def provenance_section(report: dict[str, Any]) -> list[Section]:
    facts = report.get("provenance")
    return [Section("Provenance", [facts_table("Where these results come from", facts)])] if facts else []


# ---- corvane run ----------------------------------------------------------------

CATEGORY_HEADERS: Final = ("category", "reconstructible", "reconstructed", "efficiency (%)", "68% interval (%)",
                           "clones (% of matched tracks)", "purity (%)", "hit efficiency (%)")


def _percent(fraction: float) -> str:
    return number(100.0 * fraction)


def category_table(class_name: str, summary: dict[str, Any] | None) -> Table:
    """One algorithm's summary table (the one `corvane run` prints), or why there is none."""
    if summary is None:
        return Table(f"{class_name}: not validated", ("",), [],
                     ["No Monte Carlo truth in this sample: the tracks are reconstructed and timed, not validated."])
    table = summary["table"]
    rows = [[row["label"], f"{row['reconstructible']:,}", f"{row['reconstructed']:,}", _percent(row["efficiency"]),
             " - ".join(_percent(bound) for bound in row["efficiency_interval"]), _percent(row["clone_share"]),
             _percent(row["purity"]), _percent(row["hit_efficiency"])] for row in table["categories"]]
    ghosts = table["ghosts"]
    interval = " - ".join(_percent(bound) for bound in ghosts["interval"])
    return Table(class_name, CATEGORY_HEADERS, rows,
                 [f"ghost rate {_percent(ghosts['rate'])}% (68% interval {interval}%): {ghosts['ghosts']:,} of "
                  f"{ghosts['tracks']:,} tracks"])


def timing_table(algorithms: dict[str, Any]) -> Table:
    rows = [[entry["class"], str(t["events"]), number(t["seconds"], 3), number(t["events_per_second"], 1),
             number(t["ms_per_event"]), f"{t['hits_per_second']:,.0f}", str(t["threads"])]
            for entry in algorithms.values() if (t := entry.get("timing"))]
    return Table("Time in the solver", ("algorithm", "events", "seconds", "events/s", "ms/event", "hits/s",
                                        "threads"), rows)


def run_page(report: dict[str, Any], plots: Sequence[Path]) -> str:
    """The page of `corvane run`: summary per algorithm, timing, parameters, plots, provenance."""
    algorithms: dict[str, Any] = report["algorithms"]
    sample = {"sample": report["sample"], "events": report["events"],
              "events validated (with Monte Carlo truth)": report.get("validated_events", report["events"]),
              "hits": report["hits"], "skipped inputs": len(report.get("skipped", []))}
    sections = [Section("Sample", [facts_table("Events reconstructed", sample)])]
    validated = any(entry.get("summary") for entry in algorithms.values())
    sections.append(Section("Validation", [category_table(entry["class"], entry.get("summary"))
                                           for entry in algorithms.values()], notes=[LEGEND] if validated else []))
    sections.append(Section("Timing", [timing_table(algorithms)]))
    parameters = [settings_table(entry["class"], entry["parameters"]) for entry in algorithms.values()
                  if entry.get("parameters")]
    if parameters:
        sections.append(Section("Parameters", parameters))
    if report.get("conditions"):
        sections.append(Section("Generator conditions", [settings_table("Conditions of the generated sample",
                                                                        report["conditions"])]))
    if plots:
        sections.append(Section("Plots", images=list(plots)))
    if report.get("skipped"):
        sections.append(Section("Skipped inputs", [Table("Inputs not processed", ("problem",),
                                                         [[line] for line in report["skipped"]])], scroll=True))
    return render(f"corvane run: {report['sample']}", [*sections, *provenance_section(report)])


# ---- corvane tune ---------------------------------------------------------------

def tune_page(report: dict[str, Any], plots: Sequence[Path]) -> str:
    """The page of `corvane tune`: both samples' results, the parameters, the trade-off, every trial."""
    sections = [Section("Results", [results_table(report)]),
                Section("Parameters", [parameter_table(report)]),
                Section("Trade-off", images=list(plots)),
                Section("Trials", [trials_table(report)], scroll=True)]
    return render(f"corvane tune: {report['class']} on {report['tuning_sample']['description']}",
                  [*sections, *provenance_section(report)])
