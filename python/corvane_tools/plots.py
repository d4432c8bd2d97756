"""Performance plots of a job, as PNG files.

- efficiency_vs_p.png, efficiency_vs_eta.png: reconstruction efficiency per
  particle category against momentum (GeV) and pseudorapidity, one panel per
  algorithm, with binomial error bars;
- ghost_rate_vs_hits.png: share of ghost tracks against the event's number of hits;
- clone_rate.png: clone rate per category, algorithms side by side.
"""
from collections.abc import Sequence
from pathlib import Path
from typing import Final, Literal

import matplotlib

matplotlib.use("Agg")  # files only, no display needed

import matplotlib.pyplot as plt  # noqa: E402  (after choosing the backend)
import numpy as np  # noqa: E402
from matplotlib.axes import Axes  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402

from .binned import (CATEGORIES, ETA_EDGES, MOMENTUM_EDGES, PlotInput, Ratio, edges_for_counts,  # noqa: E402
                     ghost_rates)

MOMENTUM_CATEGORIES: Final = ("velo", "long", "long_strange", "long_fromb")  # >5GeV ones are a cut of these
DPI: Final = 110


def _errorbars(axes: Axes, edges: Sequence[float], ratios: Sequence[Ratio], label: str, scale: float = 1.0) -> None:
    centres = [(lo + hi) / 2.0 * scale for lo, hi in zip(edges[:-1], edges[1:])]
    half_widths = [(hi - lo) / 2.0 * scale for lo, hi in zip(edges[:-1], edges[1:])]
    shown = [i for i, ratio in enumerate(ratios) if ratio.total]
    if not shown:
        return
    axes.errorbar([centres[i] for i in shown], [100.0 * ratios[i].value for i in shown],
                  xerr=[half_widths[i] for i in shown], yerr=[100.0 * ratios[i].error for i in shown],
                  fmt="o", markersize=3, capsize=2, label=label)


def _legend(axes: Axes, loc: Literal["best", "lower right"] = "best") -> None:
    if axes.get_legend_handles_labels()[0]:  # nothing to list for events without truth
        axes.legend(fontsize="small", loc=loc)


def _finish(figure: Figure, path: Path) -> None:
    figure.tight_layout()
    figure.savefig(path, dpi=DPI)
    plt.close(figure)


def _efficiency_figure(inputs: Sequence[PlotInput], variable: str, edges: Sequence[float],
                       categories: Sequence[str], axis_label: str, scale: float, logarithmic: bool,
                       path: Path) -> None:
    figure, panels = plt.subplots(1, len(inputs), figsize=(5.5 * len(inputs), 4.2), sharey=True, squeeze=False)
    for axes, run in zip(panels[0], inputs):
        table = run.efficiency.get(variable, {})
        for name in categories:
            _errorbars(axes, edges, table.get(name, [Ratio(0, 0)] * (len(edges) - 1)), name, scale)
        axes.set_title(run.class_name)
        axes.set_xlabel(axis_label)
        if logarithmic:
            axes.set_xscale("log")
        axes.set_ylim(0.0, 105.0)
        axes.grid(alpha=0.3)
        _legend(axes, loc="lower right")
    panels[0][0].set_ylabel("efficiency (%)")
    _finish(figure, path)


def _ghost_figure(inputs: Sequence[PlotInput], path: Path) -> None:
    figure, axes = plt.subplots(figsize=(6.0, 4.2))
    for run in inputs:
        edges = edges_for_counts(run.hit_counts)
        _errorbars(axes, edges, ghost_rates(run.hit_counts, run.event_totals, edges), run.class_name)
    axes.set_xlabel("hits in the event")
    axes.set_ylabel("ghost rate (% of tracks)")
    axes.set_ylim(bottom=0.0)
    axes.grid(alpha=0.3)
    _legend(axes)
    _finish(figure, path)


def _clone_figure(inputs: Sequence[PlotInput], path: Path) -> None:
    figure, axes = plt.subplots(figsize=(8.0, 4.2))
    width = 0.8 / max(1, len(inputs))
    positions = np.arange(len(CATEGORIES))
    for index, run in enumerate(inputs):
        found = {c["label"]: c for c in run.categories}
        rates = [found[name]["clone_percentage"] if name in found else 0.0 for name in CATEGORIES]
        axes.bar(positions + (index - (len(inputs) - 1) / 2.0) * width, rates, width, label=run.class_name)
    axes.set_xticks(positions, CATEGORIES, rotation=30, ha="right")
    axes.set_ylabel("clone rate (% of reconstructed particles)")
    axes.grid(alpha=0.3, axis="y")
    _legend(axes)
    _finish(figure, path)


def draw_all(inputs: Sequence[PlotInput], directory: Path) -> list[Path]:
    """Draws every plot into `directory` (created if needed); returns the files written."""
    directory.mkdir(parents=True, exist_ok=True)
    paths = [directory / name for name in ("efficiency_vs_p.png", "efficiency_vs_eta.png", "ghost_rate_vs_hits.png",
                                           "clone_rate.png")]
    _efficiency_figure(inputs, "p", MOMENTUM_EDGES, MOMENTUM_CATEGORIES, "momentum (GeV)", 1e-3, True, paths[0])
    _efficiency_figure(inputs, "eta", ETA_EDGES, CATEGORIES, "pseudorapidity", 1.0, False, paths[1])
    _ghost_figure(inputs, paths[2])
    _clone_figure(inputs, paths[3])
    return paths
