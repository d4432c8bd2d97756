"""The trade-off a tuning explored: efficiency against ghost rate of every trial, as a PNG."""
from pathlib import Path
from typing import Final

import matplotlib

matplotlib.use("Agg")  # files only, no display needed

import matplotlib.pyplot as plt  # noqa: E402  (after choosing the backend)

from .tuning import TuningResult, pareto_front  # noqa: E402

DPI: Final = 110


def draw_tradeoff(result: TuningResult, class_name: str, objective: str, path: Path,
                  category: str = "velo") -> Path:
    """Every trial's efficiency against its ghost rate on the tuning sample, the Pareto front joined,
    the defaults and the best trial marked (with where they land on the held-out sample)."""
    figure, axes = plt.subplots(figsize=(7.5, 5.0))
    trials = result.trials
    points = axes.scatter([t.measured.ghost_rate for t in trials],
                          [t.measured.efficiency.get(category, 0.0) for t in trials],
                          s=14, c=[t.number for t in trials], cmap="viridis", alpha=0.8, label="trial")
    figure.colorbar(points, ax=axes, label="trial number (order of the search)")
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
    axes.set_title(f"{class_name}: {len(trials)} trials on {result.tuning.describe()}\n"
                   f"held out: {result.holdout.describe()}; objective {objective}", fontsize="medium")
    axes.grid(alpha=0.3)
    axes.legend(fontsize="small", loc="lower right")
    figure.tight_layout()
    path.parent.mkdir(parents=True, exist_ok=True)
    figure.savefig(path, dpi=DPI)
    plt.close(figure)
    return path
