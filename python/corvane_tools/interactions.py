"""What particles do in the detector's material besides scattering: photons convert into electron pairs,
charged particles knock out energetic electrons (delta rays).

Units: millimetres, MeV, radiation lengths. Every function draws from the
NumPy generator it is given.
"""
from collections.abc import Callable
from typing import Final

import numpy as np

from .detector import FOIL_RADIUS, OUTER_HALF_WIDTH, FloatArray, IntArray
from .particles import Particles, perpendicular_basis

ELECTRON_MASS: Final = 0.511
ELECTRON: Final = 11                 # PDG code of the electron (the positron is -11)
PAIR_PER_X0: Final = 7.0 / 9.0       # pair production: interactions per radiation length at high energy
FOIL_PATH_LIMIT: Final = 10.0        # the foil's corrugations follow the modules: a forward track crosses at
                                     # most this many thicknesses of it
# Delta rays: electrons from DELTA_RAY_MIN_ENERGY (enough to leave the sensor and reach the next module) to
# DELTA_RAY_MAX_ENERGY kinetic energy, (K/2)(Z/A)rho = 0.0178 MeV per mm of silicon per 1/T,
# spread as 1/T^2 in energy T.
DELTA_RAY_MIN_ENERGY: Final = 1.0
DELTA_RAY_MAX_ENERGY: Final = 50.0
DELTA_RAY_CONSTANT: Final = 0.0178
SILICON_X0: Final = 93.7             # mm
# A line crosses at most a sensor plane's diagonal of material, however close to it it runs: without this
# bound one grazing crossing would carry an unbounded number of delta rays and an unbounded scattering angle.
SENSOR_PATH_LIMIT: Final = 2.0 * np.sqrt(2.0) * OUTER_HALF_WIDTH                    # mm
SENSOR_PATH_LIMIT_X0: Final = SENSOR_PATH_LIMIT / SILICON_X0                        # radiation lengths


def sensor_material(module_material: float, t2: FloatArray) -> FloatArray:
    """Radiation lengths of a module crossed along lines of squared slopes t2 = tx^2 + ty^2."""
    path: FloatArray = np.minimum(module_material * np.sqrt(1.0 + t2), SENSOR_PATH_LIMIT_X0)
    return path


def foil_crossing(particles: Particles, foil_material: float) -> tuple[IntArray, FloatArray, FloatArray]:
    """Particles made inside the foil cross it once on their way out: (particle, z of the crossing,
    material crossed in radiation lengths). None when the foil has no material."""
    if foil_material <= 0.0 or len(particles) == 0:
        return np.zeros(0, np.int64), np.zeros(0), np.zeros(0)
    lines = particles.lines
    sign, slope, r0 = lines.sign, lines.slope, lines.r0
    row = np.flatnonzero(r0 < FOIL_RADIUS)
    z = particles.origin[row, 2] + sign[row] * (FOIL_RADIUS - r0[row]) / slope[row]
    # path through a wall parallel to the beam: the thickness over the sine of the crossing angle
    path = np.minimum(np.sqrt(1.0 + slope[row] ** 2) / slope[row], FOIL_PATH_LIMIT)
    return row, z, foil_material * path


def _turned(direction: FloatArray, angle: FloatArray, turn: FloatArray) -> FloatArray:
    """`direction` turned by `angle` about itself, towards azimuth `turn` around it."""
    u, v = perpendicular_basis(direction)
    turned: FloatArray = (np.cos(angle)[:, None] * direction
                          + np.sin(angle)[:, None] * (np.cos(turn)[:, None] * u + np.sin(turn)[:, None] * v))
    return turned


def _electrons(origin: FloatArray, direction: FloatArray, p: FloatArray, charge: IntArray,
               collision: IntArray) -> Particles:
    count = p.size
    none = np.zeros(count, bool)
    return Particles(origin, direction, p, np.full(count, ELECTRON_MASS), -ELECTRON * charge, charge,
                     none, none.copy(), none.copy(), collision)


def conversion_points(depth: FloatArray, row: IntArray, material: FloatArray) -> tuple[IntArray, IntArray]:
    """Where photons convert. Layers come grouped by photon (`row`), in flight order within one; each
    photon converts in the first layer where its running material, times 7/9, passes its `depth` (a unit
    exponential draw). Returns (photon, layer index) of each conversion."""
    running = np.cumsum(PAIR_PER_X0 * material)
    starts = np.flatnonzero(np.r_[True, row[1:] != row[:-1]]) if row.size else np.zeros(0, np.int64)
    before = np.repeat(running[starts] - PAIR_PER_X0 * material[starts], np.diff(np.r_[starts, row.size]))
    through = running - before
    passed = through > depth[row]
    first = passed & np.r_[True, (row[1:] != row[:-1]) | ~passed[:-1]] if row.size else passed
    layer = np.flatnonzero(first)
    return row[layer], layer


def pairs(rng: np.random.Generator, photons: Particles, photon: IntArray, point: FloatArray) -> Particles:
    """The electron and positron of each converted photon, made at `point`: the photon's energy shared
    uniformly, each leaving at an angle of about m/E to the photon's line."""
    share = rng.random(photon.size)
    energy = photons.p[photon]
    p = np.concatenate([share * energy, (1.0 - share) * energy])
    p = np.maximum(p, 1e-3)
    direction = np.concatenate([photons.direction[photon]] * 2)
    angle = np.minimum(ELECTRON_MASS / p, 1.0) * np.abs(rng.normal(0.0, 1.0, p.size))
    turned = _turned(direction, angle, rng.uniform(-np.pi, np.pi, p.size))
    charge = np.repeat(np.array([-1, 1]), photon.size)
    return _electrons(np.concatenate([point, point]), turned, p, charge,
                      np.concatenate([photons.collision[photon]] * 2))


def largest_transfer(p: FloatArray, mass: FloatArray) -> FloatArray:
    """The most kinetic energy (MeV) a particle of momentum p and mass M can give an electron at rest:
    2 m (p/M)^2 / (1 + 2 gamma m/M + (m/M)^2)."""
    ratio = ELECTRON_MASS / mass
    gamma = np.sqrt(1.0 + (p / mass) ** 2)
    transfer: FloatArray = 2.0 * ELECTRON_MASS * (p / mass) ** 2 / (1.0 + 2.0 * gamma * ratio + ratio * ratio)
    return transfer


def _inverse_energy_span(p: FloatArray, mass: FloatArray) -> FloatArray:
    """1/T_min - 1/T_max of each parent's delta rays, where T_max is DELTA_RAY_MAX_ENERGY or the parent's
    largest transfer if lower; 0 for a parent too slow to give an electron DELTA_RAY_MIN_ENERGY (without that
    bound the 1/beta^2 of a nearly stopped particle made thousands of electrons in one crossing)."""
    upper = np.minimum(largest_transfer(p, mass), DELTA_RAY_MAX_ENERGY)
    span: FloatArray = np.where(upper > DELTA_RAY_MIN_ENERGY, 1.0 / DELTA_RAY_MIN_ENERGY - 1.0 / upper, 0.0)
    return span


def delta_rays(rng: np.random.Generator, parents: Particles, row: IntArray, silicon: FloatArray,
               points: Callable[[IntArray], FloatArray]) -> Particles:
    """Energetic knock-on electrons of charged particles crossing sensors (one entry per crossing, of parent
    `row`, grouped by parent); `silicon` is the sensor's thickness (mm) along each parent's line and `points(crossing)` where
    given crossings are. An electron of kinetic energy T leaves at cos(angle) = sqrt(T / (T + 2m)) to its
    parent's line."""
    beta2 = parents.p ** 2 / (parents.p ** 2 + parents.mass ** 2)
    span = _inverse_energy_span(parents.p, parents.mass)
    # Every crossing of a parent has the same mean, so one Poisson number per parent for all its crossings,
    # each electron then at one of them chosen uniformly, is the same as one Poisson number per crossing.
    starts = np.flatnonzero(np.r_[True, row[1:] != row[:-1]]) if row.size else np.zeros(0, np.int64)
    crossings = np.diff(np.r_[starts, row.size])
    made = rng.poisson((DELTA_RAY_CONSTANT * silicon / beta2 * span)[row[starts]] * crossings)
    group = np.repeat(np.arange(starts.size), made)
    step = np.minimum((rng.random(group.size) * crossings[group]).astype(np.int64), crossings[group] - 1)
    source = np.sort(starts[group] + step)
    parent = row[source]
    inverse = 1.0 / DELTA_RAY_MIN_ENERGY - rng.random(source.size) * span[parent]
    energy = 1.0 / inverse
    p = np.sqrt(energy * (energy + 2.0 * ELECTRON_MASS))
    angle = np.arccos(np.sqrt(energy / (energy + 2.0 * ELECTRON_MASS)))
    turned = _turned(parents.direction[parent], angle, rng.uniform(-np.pi, np.pi, source.size))
    return _electrons(points(source), turned, p, np.full(source.size, -1), parents.collision[parent])
