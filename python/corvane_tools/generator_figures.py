"""Figures of generated samples that can be set beside published ones: charged-particle density per
collision, hits and reconstructible particles per event, hits per particle, the share of particles seen by
both halves of a station, the hit efficiency, the share of hits made by electrons.

    PYTHONPATH=python python3 -m corvane_tools.generator_figures [EVENTS] [SEED]

prints them for the default conditions (docs/generator.md lists them with the publications).
"""
import sys
from typing import Any, Final

import numpy as np

from .conditions import Conditions, with_values
from .generator import generate_range
from .particles import MINIMUM_BIAS, prompt_particles
from .event_dict import EventDict

# Pseudorapidity windows of the density figures: name -> (low, high), taken on both sides (the collisions
# are symmetric), so the density is the count over twice the width per collision.
DENSITY_WINDOWS: Final = {"dndeta_central": (0.0, 0.5), "dndeta_5.375": (5.3, 5.45), "dndeta_6.375": (6.3, 6.45)}
DENSITY_COLLISIONS: Final = 20000


def charged_density(seed: int, collisions: int = DENSITY_COLLISIONS) -> dict[str, float]:
    """Prompt charged particles per collision and unit of pseudorapidity in each window."""
    particles = prompt_particles(np.random.default_rng([seed, 0xD0]), np.zeros((collisions, 3)), MINIMUM_BIAS)
    eta = np.abs(np.arctanh(particles.direction[:, 2]))
    return {name: float(np.count_nonzero((eta >= low) & (eta < high))) / (2.0 * (high - low) * collisions)
            for name, (low, high) in DENSITY_WINDOWS.items()}


def _rows(event: EventDict) -> list[dict[str, Any]]:
    columns = event["montecarlo"]["description"]
    return [dict(zip(columns, row)) for row in event["montecarlo"]["particles"]]


def sample_figures(count: int, seed: int, conditions: Conditions | None = None) -> dict[str, float]:
    """Per-event figures of a generated sample."""
    hits = reconstructible = particle_hits = both = electron_hits = 0
    for event in generate_range(seed, 0, count, conditions):
        prefix = np.asarray(event["module_prefix_sum"][:53])
        hits += int(prefix[-1])
        for row in _rows(event):
            if abs(row["pid"]) == 11:
                electron_hits += len(row["hits"])
                continue
            if not row["hasVelo"]:
                continue
            reconstructible += 1
            particle_hits += len(row["hits"])
            modules = np.searchsorted(prefix, row["hits"], side="right") - 1
            stations = [set((modules[modules % 2 == side] // 2).tolist()) for side in (0, 1)]
            both += bool(stations[0] & stations[1])
    return {"hits_per_event": hits / count, "reconstructible_per_event": reconstructible / count,
            "hits_per_particle": particle_hits / reconstructible, "both_halves": both / reconstructible,
            "electron_hit_share": electron_hits / hits}


def hit_efficiency(seed: int, conditions: Conditions | None = None) -> float:
    """Hits of a muon beam under the conditions over its hits with every crossing seen: the same crossings,
    since the efficiency draws come after them."""
    beam = dict(gun="muon", gun_particles="200", gun_p="10GeV", delta_rays=False)
    counted = [sum(len(row["hits"]) for event in generate_range(seed, 0, 20, with_values(conditions, **beam, **extra))
                   for row in _rows(event)) for extra in ({}, {"hit_efficiency": 1})]
    return counted[0] / counted[1]


def figures(count: int = 100, seed: int = 1, conditions: Conditions | None = None) -> dict[str, float]:
    """Every figure, by its key in docs/generator.md."""
    return {**charged_density(seed), **sample_figures(count, seed, conditions),
            "hit_efficiency": hit_efficiency(seed, conditions)}


if __name__ == "__main__":
    given = [int(argument) for argument in sys.argv[1:3]]
    count, seed = (given + [100, 1][len(given):])[:2]
    measured = figures(count, seed)
    for key, value in measured.items():
        print(f"{key:28} {value:.4g}")
