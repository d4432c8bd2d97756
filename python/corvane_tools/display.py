"""Event display: hits, reconstructed tracks and missed particles of one event in the x-z, y-z and
x-y projections.

- tracks matched to a particle: solid lines, one colour per particle (a
  palette without greys and reds); a clone (a further track of a particle
  already found) keeps its particle's colour, dash-dotted with open markers;
- ghosts (tracks matched to no particle): red dashed lines with crosses,
  a style no other track has;
- particles with at least three hits that no track found: faint grey lines;
- hits on no track: grey plus signs; hits on tracks: small dots.
"""
from collections import Counter
from collections.abc import Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Final

import corvane
import matplotlib

matplotlib.use("Agg")  # files only, no display needed

import matplotlib.pyplot as plt  # noqa: E402  (after choosing the backend)
import numpy as np  # noqa: E402
from matplotlib.axes import Axes  # noqa: E402
from matplotlib.lines import Line2D  # noqa: E402

from .detector import MODULE_COUNT  # noqa: E402
from .event_dict import EventDict  # noqa: E402
from .job import validation_input  # noqa: E402

GHOST_COLOUR: Final = "red"
MISSED_COLOUR: Final = "0.6"
# Colours for matched tracks: no greys (missed particles, unused hits) and no reds (ghosts).
TRACK_COLOURS: Final = ("tab:blue", "tab:orange", "tab:green", "tab:purple", "tab:brown", "tab:pink", "tab:olive",
                        "tab:cyan", "navy", "darkgoldenrod", "teal", "indigo")
MATCH_THRESHOLD: Final = 0.7  # the validator's: more than 70% of a track's hits from one particle
MIN_MISSED_HITS: Final = 3


def ghost_flags(event: EventDict, tracks: Sequence[Any]) -> list[bool]:
    """Whether each track is a ghost, as the validator counts ghosts (tracks alone, one at a time)."""
    validated = validation_input([event])
    if validated[0].get("montecarlo") is None:
        return [False] * len(tracks)
    return [corvane.Validator.export_validation_to_json(validated, [[track]], False)["total_ghosts"] > 0
            for track in tracks]


@dataclass(frozen=True)
class TrackRole:
    particle: int | None   # row of the matched particle in the Monte Carlo record; None for a ghost
    clone: bool            # a further track of a particle another track already represents


def _particle_hits(event: EventDict) -> list[list[int]]:
    record = event.get("montecarlo")
    if record is None or "hits" not in record["description"]:
        return []
    column = len(record["description"]) - 1 - record["description"][::-1].index("hits")  # the last one counts
    return [list(row[column]) if column < len(row) else [] for row in record["particles"]]


def track_roles(event: EventDict, tracks: Sequence[Any]) -> list[TrackRole]:
    """Each track's particle and whether it is a clone. Ghosts are those the validator counts; a
    matched track's particle is the one most of its hits come from (the first on a tie), and of a
    particle's tracks the one with the largest share of its hits is the original, the others clones."""
    ghosts = ghost_flags(event, tracks)
    owners: dict[int, list[int]] = {}
    for particle, hits in enumerate(_particle_hits(event)):
        for hit in set(hits):
            owners.setdefault(hit, []).append(particle)
    matched: list[tuple[int, float] | None] = []
    for track, ghost in zip(tracks, ghosts):
        ids = [hit.id for hit in track.hits]
        shares = Counter(particle for hit in ids for particle in owners.get(hit, ()))
        best = max(shares.items(), key=lambda item: (item[1], -item[0]), default=None)
        matched.append(None if ghost or best is None else (best[0], best[1] / len(ids)))
    original: dict[int, tuple[float, int]] = {}  # particle -> (share, track) of its best track
    for number, match in enumerate(matched):
        if match is not None and (match[0] not in original or match[1] > original[match[0]][0]):
            original[match[0]] = (match[1], number)
    return [TrackRole(None, False) if match is None else TrackRole(match[0], original[match[0]][1] != number)
            for number, match in enumerate(matched)]


def _hit_arrays(event: EventDict) -> tuple[np.ndarray[Any, Any], ...]:
    prefix = np.asarray(event["module_prefix_sum"][:MODULE_COUNT + 1])
    count = int(prefix[-1])
    return tuple(np.asarray(event[key], dtype=np.float64)[:count] for key in ("x", "y", "z"))


@dataclass(frozen=True)
class View:
    """Which ranges to show: z between the two values (None: all), and the transverse axes
    magnified `zoom` times around the beam line."""
    z_range: tuple[float, float] | None = None
    zoom: float = 1.0


def _through(ids: Sequence[int], x: np.ndarray[Any, Any], y: np.ndarray[Any, Any],
             z: np.ndarray[Any, Any]) -> tuple[np.ndarray[Any, Any], ...]:
    order = np.argsort(z[list(ids)], kind="stable")
    chosen = np.asarray(ids)[order]
    return x[chosen], y[chosen], z[chosen]


def _draw(panels: Sequence[Axes], points: tuple[np.ndarray[Any, Any], ...], **style: Any) -> None:
    x, y, z = points
    for axes, (horizontal, vertical) in zip(panels, ((z, x), (z, y), (x, y))):
        axes.plot(horizontal, vertical, **style)


def draw_event(event: EventDict, tracks: Sequence[Any], title: str, path: Path,
               view: View = View()) -> tuple[int, int]:
    """Draws the event to `path`; returns (tracks, ghosts)."""
    x, y, z = _hit_arrays(event)
    roles = track_roles(event, tracks)
    figure = plt.figure(figsize=(17.0, 9.5))
    grid = figure.add_gridspec(2, 2, width_ratios=(2.1, 1.0))
    panels = [figure.add_subplot(grid[0, 0]), figure.add_subplot(grid[1, 0]), figure.add_subplot(grid[:, 1])]
    used = np.zeros(len(x), dtype=bool)
    for track in tracks:
        used[[hit.id for hit in track.hits if 0 <= hit.id < len(x)]] = True
    found = {role.particle for role in roles if role.particle is not None}
    for particle, hits in enumerate(_particle_hits(event)):
        hits = [hit for hit in hits if 0 <= hit < len(x)]
        if particle not in found and len(set(hits)) >= MIN_MISSED_HITS:
            _draw(panels, _through(hits, x, y, z), color=MISSED_COLOUR, linewidth=0.6, alpha=0.5, zorder=1)
    for axes, (horizontal, vertical) in zip(panels, ((z, x), (z, y), (x, y))):
        axes.scatter(horizontal[used], vertical[used], s=3, c="0.15", linewidths=0, zorder=2)
        axes.scatter(horizontal[~used], vertical[~used], s=10, c="0.55", marker="+", linewidths=0.6, zorder=2)
    for track, role in zip(tracks, roles):
        points = _through([hit.id for hit in track.hits], x, y, z)
        if role.particle is None:
            _draw(panels, points, color=GHOST_COLOUR, linestyle="--", marker="x", markersize=4, linewidth=0.9,
                  zorder=4)
        else:
            colour = TRACK_COLOURS[role.particle % len(TRACK_COLOURS)]
            _draw(panels, points, color=colour, linestyle="-." if role.clone else "-",
                  marker="o" if role.clone else None, markersize=3.5, markerfacecolor="none", linewidth=0.9,
                  zorder=3)
    _frame(panels, x, y, view)
    ghosts = sum(role.particle is None for role in roles)
    clones = sum(role.clone for role in roles)
    missed = "" if event.get("montecarlo") is not None else " (no Monte Carlo truth: nothing marked as ghost)"
    figure.suptitle(f"{title}\n{len(x):,} hits ({int((~used).sum()):,} on no track), {len(tracks)} tracks: "
                    f"{ghosts} ghosts, {clones} clones{missed}", fontsize="medium")
    figure.legend(handles=_legend_entries(), loc="lower center", ncol=6, fontsize="small", frameon=False)
    figure.tight_layout(rect=(0.0, 0.04, 1.0, 0.95))
    figure.savefig(path, dpi=100)
    plt.close(figure)
    return len(tracks), ghosts


def _frame(panels: Sequence[Axes], x: np.ndarray[Any, Any], y: np.ndarray[Any, Any], view: View) -> None:
    reach = max(float(np.abs(x).max(initial=1.0)), float(np.abs(y).max(initial=1.0))) * 1.05 / view.zoom
    for axes, (horizontal, vertical) in zip(panels, (("z", "x"), ("z", "y"), ("x", "y"))):
        axes.set_xlabel(f"{horizontal} (mm)")
        axes.set_ylabel(f"{vertical} (mm)")
        axes.grid(alpha=0.2)
        axes.set_ylim(-reach, reach)
        if horizontal == "z" and view.z_range is not None:
            axes.set_xlim(*view.z_range)
    panels[2].set_xlim(-reach, reach)
    panels[2].set_aspect("equal")
    panels[0].set_title("x-z view", fontsize="small")
    panels[1].set_title("y-z view", fontsize="small")
    panels[2].set_title("x-y view (along the beam)", fontsize="small")


def _legend_entries() -> list[Line2D]:
    return [Line2D([], [], color=TRACK_COLOURS[0], label="track (colour: its particle)"),
            Line2D([], [], color=TRACK_COLOURS[0], linestyle="-.", marker="o", markerfacecolor="none",
                   label="clone: a further track of that particle"),
            Line2D([], [], color=GHOST_COLOUR, linestyle="--", marker="x", label="ghost: matched to no particle"),
            Line2D([], [], color=MISSED_COLOUR, alpha=0.5, label="particle no track found (3+ hits)"),
            Line2D([], [], color="0.15", marker=".", linestyle="none", label="hit on a track"),
            Line2D([], [], color="0.55", marker="+", linestyle="none", label="hit on no track")]
