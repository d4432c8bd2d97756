"""Seeded simulation of events in the 52-module detector.

`generate_event(seed, index, conditions)` returns one event dictionary in exactly the
format that `corvane.DetectorEvent.Event` and the validation functions read:
hit coordinates grouped by module, the module boundaries, a description and
the Monte Carlo record. Positions are in millimetres, momenta in MeV.

Each event is a pure function of (seed, index, conditions): the first ten
events of a sample of a hundred are the events of a sample of ten. Events are simulated
in blocks of ten, seeded by (seed, block), so that NumPy works on long arrays.

The simulation: several proton-proton collisions per event spread along the
beam; charged pions, kaons, protons, electrons and muons with a broad
pseudorapidity spread and a falling transverse-momentum spectrum; displaced
daughters of K0S, Lambda, D and B decays; straight-line flight with multiple
scattering in every module crossed (Highland formula); hits smeared by the
sensor resolution, lost with a small inefficiency, and noise hits on top.
"""
from collections.abc import Iterator
from dataclasses import dataclass
from typing import Any, Final

import numpy as np

from .collector import collector_paused
from .conditions import Conditions
from .detector import (INNER_RADIUS, MODULE_COUNT, OUTER_HALF_WIDTH, BoolArray, FloatArray, Geometry, IntArray,
                       sensor_plane_offset)
from .particles import Particles, collision_vertices, concatenate, decay_products, prompt_particles

BLOCK_EVENTS: Final = 10           # events simulated together; event i belongs to block i // 10
BEAUTY_SHARE: Final = 0.25         # share of collisions with a B decay (enriched for validation)
CHARM_SHARE: Final = 0.3

MC_COLUMNS: Final = ("key", "pid", "p", "pt", "eta", "phi", "charge", "hits", "isLong", "isDown", "hasVelo",
                     "hasUT", "hasScifi", "fromBeautyDecay", "fromCharmDecay", "fromStrangeDecay")



def _highland(p: FloatArray, mass: FloatArray, path_x0: FloatArray) -> FloatArray:
    """RMS projected scattering angle (rad) of a unit-charge particle."""
    beta = p / np.sqrt(p * p + mass * mass)
    return 13.6 / (beta * p) * np.sqrt(path_x0) * (1.0 + 0.038 * np.log(path_x0 / (beta * beta)))


def _slopes(direction: FloatArray) -> tuple[FloatArray, FloatArray, FloatArray]:
    """dx/dz, dy/dz and the sign of the flight along z."""
    dz = np.where(np.abs(direction[:, 2]) < 1e-9, 1e-9, direction[:, 2])
    return direction[:, 0] / dz, direction[:, 1] / dz, np.sign(dz)


def _scatter(rng: np.random.Generator, module_z: FloatArray, theta: FloatArray, row: IntArray, module: IntArray,
             forward: BoolArray) -> FloatArray:
    """x and y displacements at each crossing (row, module) from the kicks of the crossings before it.

    Crossings come grouped by row (particle), in module order within a row.
    With a slope kick k_j at crossing j, the displacement at crossing k is the
    sum of k_j * (z_k - z_j) over the crossings j before k in flight order:
    lower modules when flying towards +z, higher ones towards -z. Each sum is
    z_k * sum(k_j) - sum(k_j * z_j), from running sums within the row.
    """
    z = module_z[module]
    kicks = rng.normal(0.0, 1.0, (2, row.size)) * theta[row]
    starts = np.flatnonzero(np.r_[True, row[1:] != row[:-1]])
    lengths = np.diff(np.r_[starts, row.size])
    group_start = np.repeat(starts, lengths)
    group_end = group_start + np.repeat(lengths, lengths)
    # rows: kick x, kick y, moment x, moment y; column j holds the sum of the elements before j
    running = np.zeros((4, row.size + 1))
    np.cumsum(np.concatenate([kicks, kicks * z]), axis=-1, out=running[:, 1:])
    before = running[:, :-1] - running[:, group_start]
    after = running[:, group_end] - running[:, 1:]
    shift: FloatArray = np.where(forward[row], z * before[:2] - before[2:], z * after[:2] - after[2:])
    return shift


def _candidate_crossings(module_z: FloatArray, particles: Particles, tx: FloatArray, ty: FloatArray,
                         sign: FloatArray) -> tuple[IntArray, IntArray]:
    """(particle, module) pairs, grouped by particle in module order, that may lie on a sensor.

    A line from an origin at radius r0 with slope t is between t*|dz| - r0 and
    t*|dz| + r0 from the beam, so only the modules ahead within a window of z
    can see it; the window is generous and the exact test comes later.
    """
    ox, oy, oz = particles.origin.T
    slope = np.maximum(np.hypot(tx, ty), 1e-12)
    r0 = np.hypot(ox, oy)
    near = np.maximum(INNER_RADIUS - r0 - 1.0, 0.0) / slope
    far = (OUTER_HALF_WIDTH * np.sqrt(2.0) + r0 + 1.0) / slope
    forward = sign > 0.0
    first = np.where(forward, np.searchsorted(module_z, oz + near, side="right"),
                     np.searchsorted(module_z, oz - far, side="left"))
    stop = np.where(forward, np.searchsorted(module_z, oz + far, side="right"),
                    np.searchsorted(module_z, oz - near, side="left"))
    counts = np.maximum(stop - first, 0)
    row = np.repeat(np.arange(len(particles)), counts)
    step = np.arange(row.size) - np.repeat(np.cumsum(counts) - counts, counts)
    return row, first[row] + step


def _track_hits(rng: np.random.Generator, setup: "_Setup",
                particles: Particles) -> tuple[IntArray, IntArray, FloatArray, FloatArray, FloatArray]:
    """Hits of every particle: (particle, module, x, y, z).

    A particle scatters in the sensors its undisturbed line crosses, and can
    leave a hit only there.
    """
    tx, ty, sign = _slopes(particles.direction)
    module_z = setup.geometry.module_z
    row, module = _candidate_crossings(module_z, particles, tx, ty, sign)
    dz = module_z[module] - particles.origin[row, 2]
    x = particles.origin[row, 0] + tx[row] * dz
    y = particles.origin[row, 1] + ty[row] * dz
    crossed = setup.geometry.in_sensitive_area(module, x, y)
    row, module, x, y = row[crossed], module[crossed], x[crossed], y[crossed]
    t2 = tx * tx + ty * ty
    theta = _highland(particles.p, particles.mass, setup.conditions.module_material * np.sqrt(1.0 + t2)) * (1.0 + t2)
    shift = _scatter(rng, module_z, theta, row, module, sign > 0.0)
    x += shift[0]
    y += shift[1]
    plane = sensor_plane_offset(y)
    x += tx[row] * plane
    y += ty[row] * plane
    seen = setup.geometry.in_sensitive_area(module, x, y) & (rng.random(row.size) < setup.conditions.hit_efficiency)
    count = int(np.count_nonzero(seen))
    resolution = setup.conditions.resolution
    return (row[seen], module[seen], x[seen] + rng.normal(0.0, resolution, count),
            y[seen] + rng.normal(0.0, resolution, count), module_z[module[seen]] + plane[seen])


def _noise_hits(rng: np.random.Generator, setup: "_Setup", slots: int) -> tuple[IntArray, FloatArray, FloatArray]:
    """Uniform noise hits: (slot, x, y), a slot being event * MODULE_COUNT + module."""
    drawn = rng.poisson(setup.conditions.noise_per_module * 1.4, slots)  # 1.4: some draws fall outside the sensors
    slot = np.repeat(np.arange(slots), drawn)
    x = rng.uniform(-OUTER_HALF_WIDTH, OUTER_HALF_WIDTH, slot.size)
    y = rng.uniform(-OUTER_HALF_WIDTH, OUTER_HALF_WIDTH, slot.size)
    keep = setup.geometry.in_sensitive_area(slot % MODULE_COUNT, x, y)
    return slot[keep], x[keep], y[keep]


def _fill_empty_slots(rng: np.random.Generator, slot: IntArray, slots: int) -> tuple[IntArray, FloatArray,
                                                                                      FloatArray]:
    """One noise hit on every module of every event that would otherwise stay empty."""
    empty = np.flatnonzero(np.bincount(slot, minlength=slots) == 0)
    side = 1.0 - 2.0 * (empty % 2)
    return empty, side * rng.uniform(10.0, 35.0, empty.size), rng.uniform(-35.0, 35.0, empty.size)


def _truth_flags(particles: Particles, hit_count: IntArray) -> dict[str, BoolArray]:
    """Reconstructibility flags. Downstream acceptance is modelled by pseudorapidity and momentum."""
    eta = _pseudorapidity(particles.direction)
    downstream = (eta > 2.0) & (eta < 4.9)
    oz = particles.origin[:, 2]
    has_velo = hit_count >= 3
    has_ut = downstream & (particles.p > 600.0) & (oz < 2300.0)
    has_scifi = downstream & (particles.p > 1500.0) & (oz < 7500.0)
    return {"isLong": has_velo & has_scifi, "isDown": has_ut & has_scifi & ~has_velo, "hasVelo": has_velo,
            "hasUT": has_ut, "hasScifi": has_scifi}


def _pseudorapidity(direction: FloatArray) -> FloatArray:
    eta: FloatArray = np.arctanh(np.clip(direction[:, 2], -1.0 + 1e-15, 1.0 - 1e-15))
    return eta


def _stable_order(values: IntArray) -> IntArray:
    """Indices that sort small integers stably (16-bit keys sort in linear time)."""
    if values.size and -2 ** 15 <= values.min() and values.max() < 2 ** 15:
        values = values.astype(np.int16)
    order: IntArray = np.argsort(values, kind="stable")
    return order


def _runs(counts: IntArray) -> list[slice]:
    """Consecutive slices of the given lengths."""
    ends = np.cumsum(counts).tolist()
    return [slice(end - count, end) for end, count in zip(ends, counts.tolist())]


def _montecarlo_rows(particles: Particles, particle_event: IntArray, owner: IntArray, hit_id: IntArray,
                     events: int) -> list[list[list[Any]]]:
    """Monte Carlo rows of every event: particles with hits (or downstream tracks), numbered per event.

    `owner` is the particle of each hit (-1 for noise), `hit_id` its id within its event.
    """
    by_particle = _stable_order(owner)[np.count_nonzero(owner < 0):]
    hit_ids = hit_id[by_particle].tolist()
    counts = np.bincount(owner[owner >= 0], minlength=len(particles))
    hit_runs = _runs(counts)
    flags = _truth_flags(particles, counts)
    kept = np.flatnonzero((counts > 0) | flags["isDown"])
    kept = kept[_stable_order(particle_event[kept])]  # by event, in production order within one
    per_event = np.bincount(particle_event[kept], minlength=events)
    d = particles.direction[kept]
    p = particles.p[kept]
    columns: list[list[Any]] = [
        (np.arange(kept.size) - np.repeat(np.cumsum(per_event) - per_event, per_event)).tolist(),
        particles.pid[kept].tolist(), p.tolist(), (p * np.hypot(d[:, 0], d[:, 1])).tolist(),
        _pseudorapidity(d).tolist(), np.arctan2(d[:, 1], d[:, 0]).tolist(), particles.charge[kept].tolist(),
        [hit_ids[hit_runs[i]] for i in kept.tolist()],
        *(flags[name][kept].astype(int).tolist() for name in ("isLong", "isDown", "hasVelo", "hasUT", "hasScifi")),
        *(getattr(particles, name)[kept].astype(int).tolist()
          for name in ("from_beauty", "from_charm", "from_strange")),
    ]
    rows = list(map(list, zip(*columns)))
    return [rows[run] for run in _runs(per_event)]


@dataclass(frozen=True, eq=False)
class _Setup:
    """The conditions of a sample and the detector they make."""
    conditions: Conditions
    geometry: Geometry

    @classmethod
    def of(cls, conditions: Conditions) -> "_Setup":
        return cls(conditions, Geometry.of(conditions.station_gap, conditions.overlap))


def _generate_block(seed: int, block: int, setup: _Setup) -> list[dict[str, Any]]:
    """Events block * BLOCK_EVENTS to (block + 1) * BLOCK_EVENTS - 1, simulated together."""
    rng = np.random.default_rng([seed, block])
    conditions = setup.conditions
    vertices, vertex_event = collision_vertices(rng, conditions.collisions, conditions.fixed_collisions,
                                                conditions.origin_z_spread, BLOCK_EVENTS)
    particles = concatenate([prompt_particles(rng, vertices),
                             decay_products(rng, vertices, BEAUTY_SHARE, CHARM_SHARE)])
    particle_event = vertex_event[particles.collision]
    owner, module, x, y, z = _track_hits(rng, setup, particles)
    slots = BLOCK_EVENTS * MODULE_COUNT
    noise_slot, noise_x, noise_y = _noise_hits(rng, setup, slots)
    slot = np.concatenate([particle_event[owner] * MODULE_COUNT + module, noise_slot])
    fill_slot, fill_x, fill_y = _fill_empty_slots(rng, slot, slots)
    extra_slot = np.concatenate([noise_slot, fill_slot])
    extra_y = np.concatenate([noise_y, fill_y])
    slot = np.concatenate([slot, fill_slot])
    x = np.concatenate([x, noise_x, fill_x])
    y = np.concatenate([y, extra_y])
    z = np.concatenate([z, setup.geometry.module_z[extra_slot % MODULE_COUNT] + sensor_plane_offset(extra_y)])
    owner = np.concatenate([owner, np.full(extra_slot.size, -1)])
    shuffled = rng.permutation(slot.size)
    order = shuffled[_stable_order(slot[shuffled])]  # by event and module, in no particular order within one
    per_slot = np.bincount(slot, minlength=slots).reshape(BLOCK_EVENTS, MODULE_COUNT)
    hit_runs = _runs(per_slot.sum(axis=1))
    event_start = np.repeat([run.start for run in hit_runs], per_slot.sum(axis=1))
    rows = _montecarlo_rows(particles, particle_event, owner[order], np.arange(slot.size) - event_start,
                            BLOCK_EVENTS)
    coordinates = [axis[order].tolist() for axis in (x, y, z)]
    collisions = np.bincount(vertex_event, minlength=BLOCK_EVENTS).tolist()
    first = block * BLOCK_EVENTS
    return [{
        "description": f"generated event {first + e} of seed {seed}: {collisions[e]} collisions",
        "montecarlo": {"description": list(MC_COLUMNS), "particles": rows[e]},
        "module_prefix_sum": [0, *np.cumsum(per_slot[e]).tolist()],
        "x": coordinates[0][hit_runs[e]],
        "y": coordinates[1][hit_runs[e]],
        "z": coordinates[2][hit_runs[e]],
    } for e in range(BLOCK_EVENTS)]


def _block(seed: int, block: int, conditions: Conditions | None) -> list[dict[str, Any]]:
    with collector_paused():
        return _generate_block(seed, block, _Setup.of(conditions or Conditions()))


def iter_events(count: int, seed: int = 0, first: int = 0,
                conditions: Conditions | None = None) -> Iterator[dict[str, Any]]:
    """Events first to first + count - 1 of the sample with the given seed (and conditions, default when
    None), one at a time.

    Each block of ten is simulated once, so prefer this (or generate_range) to
    calling generate_event for every index.
    """
    stop = first + count
    for block in range(first // BLOCK_EVENTS, (stop + BLOCK_EVENTS - 1) // BLOCK_EVENTS):
        start = block * BLOCK_EVENTS
        yield from _block(seed, block, conditions)[max(first - start, 0):stop - start]


def generate_range(seed: int, first: int, count: int, conditions: Conditions | None = None) -> list[dict[str, Any]]:
    """Events first to first + count - 1 of the sample with the given seed."""
    return list(iter_events(count, seed, first, conditions))


def generate_events(count: int, seed: int = 0, conditions: Conditions | None = None) -> list[dict[str, Any]]:
    """Events 0 to count - 1 of the sample with the given seed."""
    return generate_range(seed, 0, count, conditions)


def generate_event(seed: int = 0, index: int = 0, conditions: Conditions | None = None) -> dict[str, Any]:
    """Event `index` of the sample with the given seed, as an event dictionary."""
    return _block(seed, index // BLOCK_EVENTS, conditions)[index % BLOCK_EVENTS]
