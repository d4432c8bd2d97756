"""Plots of a scan, as PNG files: efficiency, ghost rate and clone rate against the scanned condition,
one line per algorithm, with 68% Wilson intervals.

- scan_efficiency.png: velo and long efficiency (two panels);
- scan_ghost_rate.png: share of ghost tracks;
- scan_clone_rate.png: velo and long clone rates (two panels).
"""
import math
from collections.abc import Sequence
from pathlib import Path
from typing import Final

import matplotlib

matplotlib.use("Agg")  # files only, no display needed

import matplotlib.pyplot as plt  # noqa: E402  (after choosing the backend)
from matplotlib.axes import Axes  # noqa: E402

from .scan import ScanRow  # noqa: E402

DPI: Final = 110
UNITS: Final = {"collisions": "per event", "noise_per_module": "hits", "resolution": "mm", "station_gap": "mm", "overlap": "mm", "origin_z_spread": "mm",
                "module_material": "X0", "foil_material": "X0", "gun_p": "MeV", "gun_phi": "rad"}
PANELS: Final = {
    "scan_efficiency.png": ("Reconstruction efficiency (%)", ("velo_efficiency", "long_efficiency")),
    "scan_ghost_rate.png": ("Ghost rate (% of tracks)", ("ghost_rate",)),
    "scan_clone_rate.png": ("Clones (% of matched tracks)", ("velo_clone_rate", "long_clone_rate")),
}


def _positions(values: Sequence[str]) -> tuple[list[float], bool]:
    """x positions: the values themselves when they are all numbers, else their order."""
    try:
        numbers = [float(value) for value in values]
    except ValueError:
        return [float(i) for i in range(len(values))], False
    return numbers, all(math.isfinite(n) for n in numbers)


def _panel(axes: Axes, rows: Sequence[ScanRow], metric: str, condition: str, label: str,
           class_names: dict[str, str]) -> None:
    values = list(dict.fromkeys(row.value for row in rows))
    x, numeric = _positions(values)
    for algorithm in dict.fromkeys(row.algorithm for row in rows):
        mine = {row.value: row for row in rows if row.algorithm == algorithm}
        ratios = [mine[value].ratio(metric) for value in values]
        centre = [100.0 * r.value for r in ratios]
        bounds = [r.interval for r in ratios]
        axes.errorbar(x, centre, yerr=[[c - 100.0 * low for c, (low, _) in zip(centre, bounds)],
                                       [100.0 * high - c for c, (_, high) in zip(centre, bounds)]],
                      fmt="o-", markersize=4, capsize=3, label=class_names.get(algorithm, algorithm))
    if not numeric:
        axes.set_xticks(x, values)
    unit = UNITS.get(condition)
    axes.set_xlabel(condition + (f" ({unit})" if unit else ""))
    axes.set_ylabel(label)
    axes.set_title(metric.replace("_", " "))
    axes.grid(alpha=0.3)
    axes.legend(fontsize="small")


def draw_scan(condition: str, rows: Sequence[ScanRow], directory: Path, class_names: dict[str, str],
              subtitle: str) -> list[Path]:
    """Writes the scan's plots into `directory` (made if missing) and returns their paths."""
    directory.mkdir(parents=True, exist_ok=True)
    written = []
    for name, (label, metrics) in PANELS.items():
        figure, panels = plt.subplots(1, len(metrics), figsize=(5.5 * len(metrics), 4.2), squeeze=False)
        for axes, metric in zip(panels[0], metrics):
            _panel(axes, rows, metric, condition, label, class_names)
        figure.suptitle(f"{label.split(' (')[0]} against {condition}: {subtitle}", fontsize="medium")
        figure.text(0.01, 0.01, "error bars: 68% Wilson intervals", fontsize="small", color="#555555")
        figure.tight_layout(rect=(0.0, 0.04, 1.0, 1.0))
        path = directory / name
        figure.savefig(path, dpi=DPI)
        plt.close(figure)
        written.append(path)
    return written
