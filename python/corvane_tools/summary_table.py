"""The job's own summary of one algorithm's validation: a table per category, from exact counts.

The validator's text (kept byte for byte behind --raw-summary) shows the last
event's purity and hit efficiency beside the totals and counts clones per
reconstructed particle. This table shows, per category:

- reconstructible and reconstructed particles, and the efficiency between
  them with its 68% Wilson interval;
- clones as a share of the matched tracks (reconstructed + clones);
- purity (share of a matched track's hits that come from its particle) and
  hit efficiency (share of the particle's hits found by the track), both
  averaged over every matched track of the sample;

and above them the ghost rate: tracks matched to no particle over all tracks.
Everything is computed from the integer counts and sums of the validation
export, not from rounded percentages.
"""
from dataclasses import asdict, dataclass
from typing import Any, Final

from .intervals import wilson

LEGEND: Final = ("Legend: efficiency = reconstructed / reconstructible particles, [68% Wilson interval]; "
                 "clones = extra tracks of a reconstructed particle / matched tracks; purity = hits of the "
                 "matched particle / track hits, and hit eff. = particle hits found / particle hits, both "
                 "averaged over all matched tracks; ghost rate = tracks matched to no particle / all tracks.")


@dataclass(frozen=True)
class CategoryRow:
    label: str
    reconstructible: int
    reconstructed: int
    efficiency: float                 # fraction
    efficiency_interval: tuple[float, float]
    clones: int
    clone_share: float                # of matched tracks
    matched_tracks: int
    purity: float                     # fraction, mean over matched tracks
    hit_efficiency: float             # fraction, mean over matched tracks


@dataclass(frozen=True)
class GhostRow:
    tracks: int
    ghosts: int
    rate: float
    interval: tuple[float, float]


def _ratio(numerator: float, denominator: float) -> float:
    return numerator / denominator if denominator else 0.0


def category_rows(export: dict[str, Any], order: tuple[str, ...]) -> list[CategoryRow]:
    """One row per category of the validation export, in `order` (categories it lacks are left out)."""
    found = {category["label"]: category for category in export["categories"]}
    rows = []
    for label in order:
        if label not in found:
            continue
        stats = found[label]
        particles, reconstructed, clones = stats["n_particles"], stats["n_recon_particles"], stats["n_clones"]
        matched = reconstructed + clones
        rows.append(CategoryRow(label, particles, reconstructed, _ratio(reconstructed, particles),
                                wilson(reconstructed, particles), clones, _ratio(clones, matched), matched,
                                stats["purity"] / 100.0, stats["hit_eff_percentage"] / 100.0))
    return rows


def ghost_row(export: dict[str, Any]) -> GhostRow:
    tracks, ghosts = export["total_tracks"], export["total_ghosts"]
    return GhostRow(tracks, ghosts, _ratio(ghosts, tracks), wilson(ghosts, tracks))


def _percent(fraction: float) -> str:
    return f"{100.0 * fraction:7.2f}%"


def _interval(bounds: tuple[float, float]) -> str:
    return f"[{100.0 * bounds[0]:6.2f}, {100.0 * bounds[1]:6.2f}]"


def format_table(export: dict[str, Any], order: tuple[str, ...]) -> str:
    """The table as text, ending with a newline: the ghost line, a header and one line per category."""
    ghosts = ghost_row(export)
    lines = [f"ghost rate {_percent(ghosts.rate)} {_interval(ghosts.interval)}: {ghosts.ghosts:,} of "
             f"{ghosts.tracks:,} tracks",
             f"{'category':<18} {'reconstructible':>15} {'reconstructed':>13} {'efficiency [68% interval]':>25} "
             f"{'clones':>8} {'purity':>8} {'hit eff.':>8}"]
    for row in category_rows(export, order):
        lines.append(f"{row.label:<18} {row.reconstructible:>15,} {row.reconstructed:>13,} "
                     f"{_percent(row.efficiency)} {_interval(row.efficiency_interval)} "
                     f"{_percent(row.clone_share)} {_percent(row.purity)} {_percent(row.hit_efficiency)}")
    return "\n".join(lines) + "\n"


def table_report(export: dict[str, Any], order: tuple[str, ...]) -> dict[str, Any]:
    """The table for the JSON report: exact counts beside the fractions (not percentages)."""
    return {"ghosts": asdict(ghost_row(export)), "categories": [asdict(row) for row in category_rows(export, order)]}
