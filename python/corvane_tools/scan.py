"""A scan: every algorithm over generated samples that differ in one condition only.

Each setting's sample has the same size and seed, so the settings differ by
the condition alone (and by its consequences for the random draws). The
results are one row per setting and algorithm: efficiencies, ghost and clone
rates with the counts they come from, so that errors can be drawn.
"""
from collections.abc import Callable, Sequence
from dataclasses import asdict, dataclass
from typing import Any, Final

from .binned import Ratio
from .conditions import NAMES, ConditionError, Conditions, text, with_values
from .job_fold import JobFold
from .report_tables import Table, number
from .work_units import JobOptions, WorkUnit, plan_generated

CATEGORIES: Final = ("velo", "long")   # efficiency and clones reported per scan row


@dataclass
class ScanRow:
    """One algorithm at one setting of the scanned condition. Rates in percent."""
    value: str                 # the setting, as written on the command line
    algorithm: str
    events: int
    hits_per_event: float
    tracks: int
    ghosts: int
    ghost_rate: float
    velo_found: int
    velo_particles: int
    velo_efficiency: float
    velo_clones: int
    velo_clone_rate: float
    long_found: int
    long_particles: int
    long_efficiency: float
    long_clones: int
    long_clone_rate: float

    def ratio(self, metric: str) -> Ratio:
        """The counts behind a rate: efficiency of the category's particles, ghosts among all tracks, clones
        among the category's matched tracks (reconstructed particles and their clones)."""
        if metric == "ghost_rate":
            return Ratio(self.ghosts, self.tracks)
        category, kind = metric.split("_", 1)
        found = getattr(self, f"{category}_found")
        if kind == "efficiency":
            return Ratio(found, getattr(self, f"{category}_particles"))
        clones = getattr(self, f"{category}_clones")
        return Ratio(clones, found + clones)

    def as_dict(self) -> dict[str, Any]:
        return asdict(self)


def scan_settings(name: str, values: str, base: Conditions) -> list[tuple[str, Conditions]]:
    """The conditions of each setting of `name` in the comma-separated `values` (each checked), in order."""
    if name not in NAMES:
        raise ConditionError(f"unknown condition '{name}'; known: {', '.join(NAMES)}")
    settings = []
    for value in (v.strip() for v in values.split(",")):
        if not value:
            raise ConditionError(f"the settings of '{name}' are separated by single commas: {values!r}")
        conditions = with_values(base, **{name: value})
        settings.append((text(getattr(conditions, name)), conditions))
    if len({label for label, _ in settings}) != len(settings):
        raise ConditionError(f"a setting of '{name}' is given twice: {values!r}")
    return settings


def _row(value: str, name: str, fold: JobFold) -> ScanRow:
    export = fold.export(name)
    categories = {entry["label"]: entry for entry in export["categories"]}
    counts: dict[str, Any] = {}
    for category in CATEGORIES:
        entry = categories.get(category, {})
        counts.update({
            f"{category}_found": int(entry.get("n_recon_particles", 0)),
            f"{category}_particles": int(entry.get("n_particles", 0)),
            f"{category}_efficiency": float(entry.get("recoeff", 0.0)),
            f"{category}_clones": int(entry.get("n_clones", 0)),
        })
    for category in CATEGORIES:   # clones as a share of matched tracks, as the job's summary gives them
        matched = counts[f"{category}_found"] + counts[f"{category}_clones"]
        counts[f"{category}_clone_rate"] = 100.0 * counts[f"{category}_clones"] / matched if matched else 0.0
    return ScanRow(value, name, fold.events, fold.hits / fold.events if fold.events else 0.0,
                   int(export["total_tracks"]), int(export["total_ghosts"]), float(export["overall_ghost_rate"]),
                   **counts)


def run_scan(settings: Sequence[tuple[str, Conditions]], count: int, seed: int, options: JobOptions,
             run: Callable[[Sequence[WorkUnit], JobFold], None]) -> list[ScanRow]:
    """Every algorithm of `options` on the sample of each setting; `run` processes a job's units into its
    fold (here, or on a cluster). Rows by setting, then algorithm."""
    rows = []
    for value, conditions in settings:
        units = plan_generated(count, seed, conditions=conditions)
        fold = JobFold(units, options, detailed=False)
        run(units, fold)
        fold.check_complete()
        rows += [_row(value, name, fold) for name in options.names]
    return rows


SCAN_NOTE: Final = ("efficiency: reconstructed / reconstructible particles of the category; ghosts: share of all "
                    "tracks; clones: share of the category's matched tracks (reconstructed particles and their "
                    "clones)")


def scan_tables(condition: str, rows: Sequence[ScanRow], class_names: dict[str, str]) -> list[Table]:
    """One table per algorithm, one line per setting (rates in percent)."""
    headers = (condition, "hits/event", "velo eff. (%)", "long eff. (%)", "ghosts (%)", "velo clones (%)",
               "long clones (%)")
    return [Table(class_names.get(algorithm, algorithm), headers,
                  [[row.value, f"{row.hits_per_event:,.0f}", number(row.velo_efficiency), number(row.long_efficiency),
                    number(row.ghost_rate), number(row.velo_clone_rate), number(row.long_clone_rate)]
                   for row in rows if row.algorithm == algorithm], [SCAN_NOTE])
            for algorithm in dict.fromkeys(row.algorithm for row in rows)]


def report(condition: str, rows: Sequence[ScanRow], count: int, seed: int,
           base: dict[str, dict[str, Any]]) -> dict[str, Any]:
    """The scan for a JSON report."""
    return {"condition": condition, "values": list(dict.fromkeys(row.value for row in rows)),
            "events_per_setting": count, "seed": seed, "conditions": base,
            "table": [row.as_dict() for row in rows]}
