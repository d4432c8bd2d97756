"""What a tuning trial measures, and the score the tuner maximises."""
import math
from dataclasses import asdict, dataclass
from typing import Any, Final

from .binned import CATEGORIES

GHOSTS: Final = "ghosts"
CLONES: Final = "clones"
DEFAULT_OBJECTIVE: Final = "velo=1,long=1,ghosts=5,clones=1"
OBJECTIVE_HELP: Final = (
    "Score to maximise, as TERM=WEIGHT pairs: weight x efficiency (%) of each named particle category "
    f"({', '.join(CATEGORIES)}), minus weight x ghost rate (% of tracks) for 'ghosts' and minus weight x "
    "clone rate (% of matched velo tracks that are clones) for 'clones'. The default rewards velo and long "
    "efficiency and penalises ghosts five times and clones once.")


@dataclass(frozen=True)
class Measurement:
    """One algorithm's results on one sample, in percent."""
    efficiency: dict[str, float]   # per category: reconstructed / reconstructible particles
    ghost_rate: float              # ghost tracks / all tracks
    clone_rate: float              # clones / tracks matched to velo particles
    tracks: int

    @classmethod
    def from_export(cls, export: dict[str, Any]) -> "Measurement":
        """From the validation export of the compiled validator (its counts, not its rounded text)."""
        categories = {c["label"]: c for c in export["categories"]}
        efficiency = {label: 100.0 * c["n_recon_particles"] / c["n_particles"] if c["n_particles"] else 0.0
                      for label, c in categories.items()}
        velo = categories.get("velo")
        matched = (velo["n_recon_particles"] + velo["n_clones"]) if velo else 0
        clone_rate = 100.0 * velo["n_clones"] / matched if velo and matched else 0.0
        tracks = int(export["total_tracks"])
        ghost_rate = 100.0 * export["total_ghosts"] / tracks if tracks else 0.0
        return cls(efficiency, ghost_rate, clone_rate, tracks)

    def as_dict(self) -> dict[str, Any]:
        return asdict(self)


class ObjectiveError(ValueError):
    """An objective that cannot be read; the message is one line."""


def parse_objective(text: str) -> dict[str, float]:
    """TERM=WEIGHT pairs, comma-separated, into {term: weight}."""
    weights: dict[str, float] = {}
    for part in text.split(","):
        term, equals, number = part.strip().partition("=")
        term = term.strip()
        if not equals or not term:
            raise ObjectiveError(f"objective term '{part.strip()}' is not TERM=WEIGHT")
        if term not in (*CATEGORIES, GHOSTS, CLONES):
            raise ObjectiveError(f"unknown objective term '{term}'; choose from "
                                 f"{', '.join((*CATEGORIES, GHOSTS, CLONES))}")
        if term in weights:
            raise ObjectiveError(f"objective term '{term}' is given twice")
        try:
            weight = float(number)
        except ValueError:
            raise ObjectiveError(f"objective weight '{number.strip()}' of '{term}' is not a number") from None
        if not math.isfinite(weight) or weight < 0.0:
            raise ObjectiveError(f"objective weight of '{term}' must be a finite number of at least 0, "
                                 f"not {number.strip()}")
        weights[term] = weight
    if not any(weights.get(term, 0.0) > 0.0 for term in CATEGORIES):
        raise ObjectiveError("the objective must reward at least one efficiency with a positive weight")
    return weights


def score(weights: dict[str, float], measured: Measurement) -> float:
    """The objective's value: weighted efficiencies minus weighted ghost and clone rates."""
    total = 0.0
    for term, weight in weights.items():
        if term == GHOSTS:
            total -= weight * measured.ghost_rate
        elif term == CLONES:
            total -= weight * measured.clone_rate
        else:
            total += weight * measured.efficiency.get(term, 0.0)
    return total
