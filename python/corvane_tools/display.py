"""Event display: hits and reconstructed tracks of one event in the x-z and y-z projections.

Hits are coloured by module; each track is drawn through its hits in its own
colour; ghost tracks (matched to no Monte Carlo particle) are drawn as red
dashed lines with crosses.
"""
from collections.abc import Sequence
from pathlib import Path
from typing import Any, Final

import corvane
import matplotlib

matplotlib.use("Agg")  # files only, no display needed

import matplotlib.pyplot as plt  # noqa: E402  (after choosing the backend)
import numpy as np  # noqa: E402

from .detector import MODULE_COUNT  # noqa: E402
from .job import validation_input  # noqa: E402

GHOST_COLOUR: Final = "red"


def ghost_flags(event: dict[str, Any], tracks: Sequence[Any]) -> list[bool]:
    """Whether each track is a ghost, as the validator counts ghosts (tracks alone, one at a time)."""
    validated = validation_input([event])
    if validated[0].get("montecarlo") is None:
        return [False] * len(tracks)
    return [corvane.Validator.export_validation_to_json(validated, [[track]], False)["total_ghosts"] > 0
            for track in tracks]


def _hit_arrays(event: dict[str, Any]) -> tuple[np.ndarray[Any, Any], ...]:
    prefix = np.asarray(event["module_prefix_sum"][:MODULE_COUNT + 1])
    count = int(prefix[-1])
    module = np.repeat(np.arange(MODULE_COUNT), np.diff(prefix))
    return tuple(np.asarray(event[key], dtype=np.float64)[:count] for key in ("x", "y", "z")) + (module,)


def draw_event(event: dict[str, Any], tracks: Sequence[Any], title: str, path: Path) -> tuple[int, int]:
    """Draws the event to `path`; returns (tracks, ghosts)."""
    x, y, z, module = _hit_arrays(event)
    ghosts = ghost_flags(event, tracks)
    figure, panels = plt.subplots(2, 1, figsize=(12.0, 8.0), sharex=True)
    palette = plt.get_cmap("tab10")
    for axes, across, name in ((panels[0], x, "x"), (panels[1], y, "y")):
        points = axes.scatter(z, across, c=module, cmap="viridis", s=2, vmin=0, vmax=MODULE_COUNT - 1,
                              linewidths=0)
        for number, (track, ghost) in enumerate(zip(tracks, ghosts)):
            ids = [hit.id for hit in track.hits]
            order = np.argsort(z[ids])
            track_z, track_across = z[ids][order], across[ids][order]
            if ghost:
                axes.plot(track_z, track_across, "--x", color=GHOST_COLOUR, linewidth=0.8, markersize=4)
            else:
                axes.plot(track_z, track_across, "-", color=palette(number % 10), linewidth=0.7)
        axes.set_ylabel(f"{name} (mm)")
        axes.grid(alpha=0.2)
    panels[1].set_xlabel("z (mm)")
    figure.colorbar(points, ax=panels, label="module", fraction=0.03)
    panels[0].plot([], [], "-", color=palette(0), label="track")
    panels[0].plot([], [], "--x", color=GHOST_COLOUR, label="ghost")
    panels[0].legend(loc="upper left", fontsize="small")
    panels[0].set_title(f"{title}: {len(x)} hits, {len(tracks)} tracks, {sum(ghosts)} ghosts")
    figure.savefig(path, dpi=110)
    plt.close(figure)
    return len(tracks), sum(ghosts)
