"""Particle guns: events of chosen particles in chosen ranges, in place of the collisions."""
import numpy as np

from .conditions import RANDOM_ORIGIN, Conditions
from .detector import FloatArray, IntArray
from .particles import PV_SPREAD_XY, Particles, direction_from
from .ranges import GUN_SPECIES, parse_origin


def gun_origins(rng: np.random.Generator, conditions: Conditions, events: int) -> FloatArray:
    """One origin per event: the fixed point, or drawn like a collision's."""
    if conditions.gun_origin == RANDOM_ORIGIN:
        origins: FloatArray = np.stack([rng.normal(0.0, PV_SPREAD_XY, events), rng.normal(0.0, PV_SPREAD_XY, events),
                                        rng.normal(0.0, conditions.origin_z_spread, events)], axis=1)
        return origins
    return np.tile(np.array(parse_origin(conditions.gun_origin)), (events, 1))


def gun_particles(rng: np.random.Generator, conditions: Conditions, origins: FloatArray) -> tuple[Particles, IntArray]:
    """The gun's particles of every event (one origin each), uniform in momentum, pseudorapidity and azimuth
    within the conditions' ranges, of either charge; and how many each event has."""
    low, high = (int(v) for v in conditions.gun_particles)
    per_event = rng.integers(low, high + 1, len(origins))
    count = int(per_event.sum())
    code, mass = GUN_SPECIES[conditions.gun]
    charge = 2 * rng.integers(0, 2, count) - 1
    p = rng.uniform(*conditions.gun_p, count)
    eta = rng.uniform(*conditions.gun_eta, count)
    phi = rng.uniform(*conditions.gun_phi, count)
    none = np.zeros(count, bool)
    event = np.repeat(np.arange(len(origins)), per_event)
    return Particles(origins[event], direction_from(eta, phi), p, np.full(count, mass), code * charge, charge,
                     none, none.copy(), none.copy(), collision=event), per_event
