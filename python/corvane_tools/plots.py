"""Performance plots of a job, as PNG files.

- efficiency_vs_p.png, efficiency_vs_pt.png, efficiency_vs_eta.png and
  (where the sample records production points) efficiency_vs_origin_z.png:
  reconstruction efficiency per particle category, one panel per algorithm;
- ghost_rate_vs_hits.png: share of ghost tracks against the event's number of hits;
- clone_rate.png: clones as a share of matched tracks per category, one
  panel per algorithm, each on its own scale.

Every point carries its 68% Wilson interval (also at 0% and 100%); series
are drawn side by side within a bin, so none hides another; legends sit
outside the axes; every figure names its sample and the algorithms'
parameters at the bottom.
"""
import textwrap
from collections.abc import Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import Final

import matplotlib

matplotlib.use("Agg")  # files only, no display needed

import matplotlib.pyplot as plt  # noqa: E402  (after choosing the backend)
import numpy as np  # noqa: E402
from matplotlib.axes import Axes  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402

from .binned import (CATEGORIES, ETA_EDGES, MOMENTUM_EDGES, ORIGIN_Z_EDGES, PT_EDGES, PlotInput, Ratio,  # noqa: E402
                     edges_for_counts, ghost_rates)
from .intervals import wilson  # noqa: E402

# The same categories in every efficiency plot (the >5GeV ones are a momentum cut of these).
PLOT_CATEGORIES: Final = ("velo", "long", "long_strange", "long_fromb")
MARKERS: Final = ("o", "s", "^", "D", "v", "P", "X")
DPI: Final = 100
INTERVAL_NOTE: Final = "error bars: 68% Wilson intervals"


@dataclass(frozen=True)
class EfficiencyPlot:
    variable: str
    edges: Sequence[float]
    axis_label: str
    scale: float          # from the record's unit to the axis unit
    logarithmic: bool
    file_name: str


EFFICIENCY_PLOTS: Final = (
    EfficiencyPlot("p", MOMENTUM_EDGES, "momentum p (GeV)", 1e-3, True, "efficiency_vs_p.png"),
    EfficiencyPlot("pt", PT_EDGES, "transverse momentum pT (GeV)", 1e-3, False, "efficiency_vs_pt.png"),
    EfficiencyPlot("eta", ETA_EDGES, "pseudorapidity η", 1.0, False, "efficiency_vs_eta.png"),
    EfficiencyPlot("originZ", ORIGIN_Z_EDGES, "origin z of the particle (mm)", 1.0, False,
                   "efficiency_vs_origin_z.png"),
)


def _dodged(edges: Sequence[float], scale: float, logarithmic: bool, series: int, count: int) -> np.ndarray:
    """Bin centres shifted per series, so that the series of one bin stand side by side."""
    low, high = np.asarray(edges[:-1]) * scale, np.asarray(edges[1:]) * scale
    shift = (series - (count - 1) / 2.0) * 0.12
    if logarithmic:
        return np.sqrt(low * high) * (high / low) ** shift
    return (low + high) / 2.0 + (high - low) * shift


def _series(axes: Axes, x: np.ndarray, ratios: Sequence[Ratio], label: str, marker: str) -> list[float]:
    """Draws the bins that have trials; returns the lower ends of their intervals (percent)."""
    shown = [i for i, ratio in enumerate(ratios) if ratio.total]
    if not shown:
        return []
    values = np.array([100.0 * ratios[i].value for i in shown])
    bounds = np.array([ratios[i].interval for i in shown]) * 100.0
    axes.errorbar(x[shown], values, yerr=[values - bounds[:, 0], bounds[:, 1] - values], fmt=marker, markersize=4,
                  capsize=2, linewidth=1, label=label)
    return list(bounds[:, 0])


def _band(lower_ends: Sequence[float]) -> tuple[float, float]:
    """A y range (percent) that shows every interval and not much more."""
    if not lower_ends:
        return 0.0, 105.0
    bottom = max(0.0, np.floor((min(lower_ends) - 3.0) / 5.0) * 5.0)
    return bottom, 101.5


def _caption(figure: Figure, inputs: Sequence[PlotInput], sample: str) -> int:
    """Writes the sample and the parameters at the bottom; returns the number of lines."""
    lines = [f"Sample: {sample}. {INTERVAL_NOTE}."] if sample else [f"{INTERVAL_NOTE}."]
    lines += [f"{run.class_name}: {run.parameters}" for run in inputs if run.parameters]
    caption = figure.text(0.01, 0.005, "", fontsize=6.5, va="bottom", ha="left", color="0.25")
    renderer = figure.canvas.get_renderer()  # type: ignore[attr-defined]
    room = 0.98 * figure.bbox.width
    width = int(figure.get_figwidth() * 21)  # characters of this font size per line, about
    while True:  # narrower until the widest line fits: characters differ in width
        text = "\n".join(textwrap.fill(line, width, subsequent_indent="    ") for line in lines)
        caption.set_text(text)
        if width <= 40 or caption.get_window_extent(renderer).width <= room:
            return text.count("\n") + 1
        width -= 8


def _finish(figure: Figure, inputs: Sequence[PlotInput], sample: str, path: Path, top: float = 0.88) -> None:
    lines = _caption(figure, inputs, sample)
    line_height = 0.125 / figure.get_figheight()  # 9 points per line, as a share of the figure's height
    figure.tight_layout(rect=(0.0, min(0.5, 0.01 + line_height * lines), 1.0, top))
    figure.savefig(path, dpi=DPI)
    plt.close(figure)


def _shared_legend(figure: Figure, axes: Axes) -> None:
    handles, labels = axes.get_legend_handles_labels()
    if handles:
        figure.legend(handles, labels, loc="upper center", ncol=len(labels), fontsize="small", frameon=False,
                      bbox_to_anchor=(0.5, 0.985))


def _has_counts(inputs: Sequence[PlotInput], variable: str) -> bool:
    return any(ratio.total for run in inputs for bins in run.efficiency.get(variable, {}).values() for ratio in bins)


def _efficiency_figure(inputs: Sequence[PlotInput], plot: EfficiencyPlot, sample: str, path: Path) -> None:
    figure, panels = plt.subplots(1, len(inputs), figsize=(5.2 * len(inputs), 4.6), sharey=True, squeeze=False)
    lower_ends: list[float] = []
    for axes, run in zip(panels[0], inputs):
        table = run.efficiency.get(plot.variable, {})
        for index, name in enumerate(PLOT_CATEGORIES):
            ratios = table.get(name, [Ratio(0, 0)] * (len(plot.edges) - 1))
            x = _dodged(plot.edges, plot.scale, plot.logarithmic, index, len(PLOT_CATEGORIES))
            lower_ends += _series(axes, x, ratios, name, MARKERS[index])
        axes.set_title(run.class_name, fontsize="medium")
        axes.set_xlabel(plot.axis_label)
        if plot.logarithmic:
            axes.set_xscale("log")
        axes.grid(alpha=0.3)
    panels[0][0].set_ylim(*_band(lower_ends))
    panels[0][0].set_ylabel("reconstruction efficiency (%)")
    _shared_legend(figure, panels[0][0])
    _finish(figure, inputs, sample, path)


def _ghost_figure(inputs: Sequence[PlotInput], sample: str, path: Path) -> None:
    figure, axes = plt.subplots(figsize=(7.5, 4.6))
    for index, run in enumerate(inputs):
        edges = edges_for_counts(run.hit_counts)
        x = _dodged(edges, 1.0, False, index, len(inputs))
        _series(axes, x, ghost_rates(run.hit_counts, run.event_totals, edges), run.class_name, MARKERS[index % 7])
    axes.set_xlabel("hits in the event")
    axes.set_ylabel("ghost rate (% of tracks)")
    axes.set_ylim(bottom=0.0)
    axes.grid(alpha=0.3)
    _shared_legend(figure, axes)
    _finish(figure, inputs, sample, path)


def _clone_figure(inputs: Sequence[PlotInput], sample: str, path: Path) -> None:
    figure, panels = plt.subplots(1, len(inputs), figsize=(4.6 * len(inputs), 4.6), squeeze=False)
    positions = np.arange(len(CATEGORIES))
    for axes, run in zip(panels[0], inputs):
        found = {c["label"]: c for c in run.categories}
        counts = [(found[name]["n_clones"], found[name]["n_clones"] + found[name]["n_recon_particles"])
                  if name in found else (0, 0) for name in CATEGORIES]
        shares = np.array([100.0 * clones / matched if matched else 0.0 for clones, matched in counts])
        bounds = np.array([wilson(clones, matched) if matched else (0.0, 0.0) for clones, matched in counts]) * 100
        axes.bar(positions, shares, 0.6, yerr=[shares - bounds[:, 0], bounds[:, 1] - shares], capsize=3,
                 color="tab:blue", ecolor="0.2")
        axes.set_xticks(positions, CATEGORIES, rotation=35, ha="right", fontsize="small")
        axes.set_title(run.class_name, fontsize="medium")
        axes.set_ylim(0.0, max(1.0, float(bounds[:, 1].max())) * 1.15)
        axes.grid(alpha=0.3, axis="y")
    panels[0][0].set_ylabel("clones (% of matched tracks)")
    _finish(figure, inputs, sample, path, top=0.95)


def draw_all(inputs: Sequence[PlotInput], directory: Path, sample: str = "") -> list[Path]:
    """Draws every plot into `directory` (created if needed); returns the files written."""
    directory.mkdir(parents=True, exist_ok=True)
    written = []
    for plot in EFFICIENCY_PLOTS:
        if plot.variable == "originZ" and not _has_counts(inputs, plot.variable):
            continue  # a sample without production points
        written.append(directory / plot.file_name)
        _efficiency_figure(inputs, plot, sample, written[-1])
    written.append(directory / "ghost_rate_vs_hits.png")
    _ghost_figure(inputs, sample, written[-1])
    written.append(directory / "clone_rate.png")
    _clone_figure(inputs, sample, written[-1])
    return written
