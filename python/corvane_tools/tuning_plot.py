"""The trade-off a tuning explored: efficiency against ghost rate of every trial, as a PNG."""
from pathlib import Path
from typing import Final

import matplotlib

matplotlib.use("Agg")  # files only, no display needed

import matplotlib.pyplot as plt  # noqa: E402  (after choosing the backend)
from matplotlib.axes import Axes  # noqa: E402
from matplotlib.collections import PathCollection  # noqa: E402

from .tuning import TuningResult, pareto_front  # noqa: E402

DPI: Final = 110


def _panel(axes: Axes, result: TuningResult, category: str) -> PathCollection:
    trials = result.trials
    points = axes.scatter([t.measured.ghost_rate for t in trials],
                          [t.measured.efficiency.get(category, 0.0) for t in trials],
                          s=14, c=[t.number for t in trials], cmap="viridis", alpha=0.8, label="trial")
    front = pareto_front(trials, category)
    axes.plot([t.measured.ghost_rate for t in front], [t.measured.efficiency.get(category, 0.0) for t in front],
              "-", color="tab:red", linewidth=1.2, drawstyle="steps-post", label="Pareto front")
    axes.scatter([t.measured.ghost_rate for t in front], [t.measured.efficiency.get(category, 0.0) for t in front],
                 s=28, facecolors="none", edgecolors="tab:red")
    for trial, holdout, marker, label in ((result.default, result.default_holdout, "s", "defaults"),
                                          (result.best, result.best_holdout, "*", "best score")):
        axes.scatter([trial.measured.ghost_rate], [trial.measured.efficiency.get(category, 0.0)], marker=marker,
                     s=140, color="black", zorder=3, label=f"{label} (tuning sample)")
        axes.scatter([holdout.ghost_rate], [holdout.efficiency.get(category, 0.0)], marker=marker, s=140,
                     facecolors="none", edgecolors="black", zorder=3, label=f"{label} (held-out sample)")
    axes.set_xlabel("ghost rate (% of tracks)")
    axes.set_ylabel(f"{category} efficiency (% of reconstructible particles)")
    axes.grid(alpha=0.3)
    return points


def _zoom_to_marked(axes: Axes, result: TuningResult, category: str) -> None:
    """Limits around the defaults and the best settings on both samples, where the choice is made."""
    marked = [result.default.measured, result.default_holdout, result.best.measured, result.best_holdout]
    ghosts = [m.ghost_rate for m in marked]
    efficiencies = [m.efficiency.get(category, 0.0) for m in marked]
    axes.set_xlim(0.0, max(ghosts) * 1.15 + 0.5)
    axes.set_ylim(min(efficiencies) - 3.0, min(max(efficiencies) + 2.0, 100.5))


def draw_tradeoff(result: TuningResult, class_name: str, objective: str, path: Path,
                  category: str = "velo") -> Path:
    """Every trial's efficiency against its ghost rate on the tuning sample, the Pareto front joined,
    the defaults and the best trial marked (with where they land on the held-out sample): all trials
    on the left, the region of the marked points on the right."""
    figure, (overview, detail) = plt.subplots(1, 2, figsize=(13.0, 5.2))
    _panel(overview, result, category)
    overview.set_title("all trials", fontsize="medium")
    points = _panel(detail, result, category)
    _zoom_to_marked(detail, result, category)
    detail.set_title("around the defaults and the best trial", fontsize="medium")
    detail.legend(fontsize="small", loc="best")
    figure.colorbar(points, ax=detail, label="trial number (order of the search)")
    figure.suptitle(f"{class_name}: {len(result.trials)} trials on {result.tuning.describe()}; held out: "
                    f"{result.holdout.describe()}\nobjective {objective} (points: tuning sample)", fontsize="medium")
    figure.tight_layout()
    figure.savefig(path, dpi=DPI)
    plt.close(figure)
    return path
