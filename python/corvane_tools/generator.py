"""Seeded simulation of events in the 52-module detector.

`generate_event(seed, index, conditions)` returns one event dictionary in exactly the
format that `corvane.DetectorEvent.Event` and the validation functions read:
hit coordinates grouped by module, the module boundaries, a description and
the Monte Carlo record. Positions are in millimetres, momenta in MeV.

Each event is a pure function of (seed, index, conditions): the first ten
events of a sample of a hundred are the events of a sample of ten. Events are simulated
in blocks of twenty (ten under crowded conditions, see `events_per_block`), seeded by (seed, block), so
that NumPy works on long arrays and the calls around it are few. A block is
simulated into columns (`block_columns.BlockColumns`): Parquet chunks are built straight from them
(`parquet_layout.block_table`), event dictionaries with `block_events`.

The simulation (each part set by `conditions.Conditions`, see
docs/generator.md): several proton-proton collisions per event spread along
the beam, or a particle gun in their place; charged pions, kaons, protons,
electrons and muons with the measured pseudorapidity density and a falling
transverse-momentum spectrum; displaced daughters of K0S, Lambda, D and B
decays; electron pairs of decay photons converting in the material; delta
rays; straight-line flight with multiple scattering in the foil and every
module crossed (Highland formula); hits smeared by the sensor resolution,
lost with a small inefficiency; noise hits and hits left over from the
previous crossing on top.
"""
import functools
from collections.abc import Iterator
from dataclasses import dataclass
from typing import Final

import numpy as np

from .block_columns import BlockColumns
from .collector import collector_paused
from .conditions import STATION_PITCH_MIN, Conditions
from .detector import MODULE_COUNT, OUTER_HALF_WIDTH, FloatArray, Geometry, IntArray, sensor_plane_offset
from .gun import gun_origins, gun_particles
from .interactions import (PAIR_PER_X0, SENSOR_PATH_LIMIT, SILICON_X0, conversion_points, delta_rays, foil_crossing,
                           pairs, sensor_material)
from .montecarlo_record import MC_COLUMNS, montecarlo_columns, montecarlo_rows_of, stable_order
from .particles import (MEAN_MULTIPLICITY, MINIMUM_BIAS, PHOTONS_PER_CHARGED, Particles, Spectrum, at_azimuth_zero,
                        collision_vertices, concatenate, decay_products, photon_sources, photons, prompt_particles)
from .propagation import Crossings, Hits, Setup, candidate_window, fly, line_crossings
from .event_dict import EventDict

BLOCK_EVENTS: Final = 20           # events simulated together; event i belongs to block i // 20
CROWDED_BLOCK_EVENTS: Final = 10   # the same under crowded conditions; it divides BLOCK_EVENTS
CROWDED: Final = 2000.0            # particles and noise hits per event expected above which a block is crowded
BEAUTY_SHARE: Final = 0.25         # share of collisions with a B decay (enriched for validation)
CHARM_SHARE: Final = 0.3


@functools.lru_cache(maxsize=16)
def _sensor_share(overlap: float, sensor_shapes: bool) -> float:
    """The share of a module's square outline that its sensors cover (both halves alike), on a fine grid."""
    centres = (np.arange(800) + 0.5) / 800 * 2.0 * OUTER_HALF_WIDTH - OUTER_HALF_WIDTH
    x, y = np.meshgrid(centres, centres)
    geometry = Geometry.of(0.5 * STATION_PITCH_MIN, overlap, "sensors" if sensor_shapes else "strip")
    return float(np.mean(geometry.in_sensitive_area(np.zeros(1, np.int64), x, y)))


@functools.lru_cache(maxsize=16)
def events_per_block(conditions: Conditions | None) -> int:
    """Events per block under the given conditions: BLOCK_EVENTS, or CROWDED_BLOCK_EVENTS when an event is
    expected to hold so many particles and noise hits that a block's arrays would take too much memory
    (each block size divides BLOCK_EVENTS, so runs of whole blocks stay whole)."""
    conditions = conditions or Conditions()
    if conditions.gun:
        particles = conditions.gun_particles[1]
    else:
        spectrum = _spectrum(conditions)
        per_collision = MEAN_MULTIPLICITY if spectrum is None else spectrum.charged_per_collision
        particles = conditions.collisions * per_collision * (1.0 + PHOTONS_PER_CHARGED)
    crowded = particles + conditions.noise_per_module * MODULE_COUNT > CROWDED
    return CROWDED_BLOCK_EVENTS if crowded else BLOCK_EVENTS


def _noise_hits(rng: np.random.Generator, setup: Setup, slots: int) -> tuple[IntArray, FloatArray, FloatArray]:
    """Noise hits spread evenly over the sensors, `noise_per_module` per module on average: (slot, x, y), a slot
    being event * MODULE_COUNT + module. Drawn over the modules' square outline and kept on the sensors."""
    share = _sensor_share(setup.geometry.overlap, setup.geometry.sensor_shapes)
    drawn = rng.poisson(setup.conditions.noise_per_module / share, slots)
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


@dataclass
class _Sources:
    """What an event block's particles come from: collisions or a gun."""
    particles: Particles
    vertices: FloatArray
    vertex_event: IntArray      # the event of each collision (or gun origin)
    prompt: int                 # the first `prompt` particles are made directly in the collisions
    labels: list[str]           # per event, what it holds


def _collisions(rng: np.random.Generator, conditions: Conditions, events: int) -> _Sources:
    vertices, vertex_event = collision_vertices(rng, conditions.collisions, conditions.fixed_collisions,
                                                conditions.origin_z_spread, events)
    prompt = prompt_particles(rng, vertices, _spectrum(conditions))
    particles = concatenate([prompt, decay_products(rng, vertices, BEAUTY_SHARE, CHARM_SHARE)])
    counts = np.bincount(vertex_event, minlength=events).tolist()
    return _Sources(particles, vertices, vertex_event, len(prompt), [f"{n} collisions" for n in counts])


def _gun(rng: np.random.Generator, conditions: Conditions, events: int) -> _Sources:
    origins = gun_origins(rng, conditions, events)
    particles, per_event = gun_particles(rng, conditions, origins)
    return _Sources(particles, origins, np.arange(events), 0,
                    [f"particle gun, {n} {conditions.gun}{'s' if n != 1 else ''}" for n in per_event.tolist()])


def _spectrum(conditions: Conditions) -> Spectrum | None:
    return MINIMUM_BIAS if conditions.spectrum == "minimum_bias" else None


def _conversion_pairs(rng: np.random.Generator, setup: Setup, sources: _Sources) -> Particles:
    """Electron pairs of the collisions' photons that convert in the foil or in a module.

    Most photons cross far too little material to convert. The most material a photon's candidate modules and
    the foil could hold depends on its angle to the beam and its origin alone, so that comes first (with its
    conversion depth); the rest of a photon (momentum, azimuth) is drawn, and the sensors it crosses looked up,
    only where the depth lies within that most material: the others cannot convert."""
    vertices, conditions = sources.vertices, setup.conditions
    made_in, eta = photon_sources(rng, len(vertices), sources.particles.collision[:sources.prompt],
                                  _spectrum(conditions) or MINIMUM_BIAS)
    depth = rng.exponential(1.0, eta.size)
    outline = at_azimuth_zero(vertices, made_in, eta)
    candidates = candidate_window(setup.geometry.module_z, outline)[1]
    foil_row, _, foil_x0 = foil_crossing(outline, conditions.foil_material)
    most = candidates * sensor_material(conditions.module_material, outline.lines.slope ** 2)
    most[foil_row] += foil_x0                    # a particle crosses the foil at most once
    reachable = np.flatnonzero(PAIR_PER_X0 * most * (1.0 + 1e-9) >= depth)
    made = photons(rng, vertices, made_in[reachable], eta[reachable])
    depth = depth[reachable]
    tx, ty, sign = made.lines.tx, made.lines.ty, made.lines.sign
    material = sensor_material(conditions.module_material, tx ** 2 + ty ** 2)
    row, module, _, _ = line_crossings(setup, made)
    foil_row, foil_z, foil_x0 = foil_crossing(made, conditions.foil_material)
    every_row = np.concatenate([row, foil_row])
    every_z = np.concatenate([setup.geometry.module_z[module], foil_z])
    order = np.lexsort((every_z * sign[every_row], every_row))   # in flight order within each photon
    photon, layer = conversion_points(depth, every_row[order],
                                      np.concatenate([material[row], foil_x0])[order])
    z = every_z[order][layer]
    along = (z - made.origin[photon, 2]) / made.direction[photon, 2]
    point = made.origin[photon] + along[:, None] * made.direction[photon]
    point[:, 2] = z
    return pairs(rng, made, photon, point)


def _knock_ons(rng: np.random.Generator, setup: Setup, particles: Particles, landed: Crossings) -> Particles:
    """Delta rays of the particles' crossings of a sensor, made at the crossing."""
    tx, ty = particles.lines.tx, particles.lines.ty
    silicon = np.minimum(setup.conditions.module_material * SILICON_X0 * np.sqrt(1.0 + tx ** 2 + ty ** 2),
                         SENSOR_PATH_LIMIT)

    def points(at: IntArray) -> FloatArray:
        point: FloatArray = np.stack([landed.x[at], landed.y[at], setup.geometry.module_z[landed.module[at]]],
                                     axis=1)
        return point
    return delta_rays(rng, particles, landed.row, silicon, points)


def _spill_over(rng: np.random.Generator, setup: Setup, events: int) -> tuple[IntArray, FloatArray, FloatArray,
                                                                                 FloatArray]:
    """Hits of the previous bunch crossing's collisions that still register: (slot, x, y, z)."""
    conditions = setup.conditions
    vertices, vertex_event = collision_vertices(rng, conditions.collisions, conditions.fixed_collisions,
                                                conditions.origin_z_spread, events)
    earlier = prompt_particles(rng, vertices, _spectrum(conditions))
    left = fly(rng, setup, earlier).hits
    keep = rng.random(left.owner.size) < conditions.spill_over
    slot = vertex_event[earlier.collision[left.owner[keep]]] * MODULE_COUNT + left.module[keep]
    return slot, left.x[keep], left.y[keep], left.z[keep]


def _particle_hits(rng: np.random.Generator, setup: Setup, sources: _Sources) -> tuple[Particles, Hits]:
    """Every particle of the block, secondaries included, and their hits."""
    particles = sources.particles
    flight = fly(rng, setup, particles)
    found = flight.hits
    secondaries = []
    if setup.conditions.conversions and sources.prompt:
        secondaries.append(_conversion_pairs(rng, setup, sources))
    if setup.conditions.delta_rays:
        secondaries.append(_knock_ons(rng, setup, particles, flight.landed))
    if not secondaries:
        return particles, found
    more = concatenate(secondaries)
    more_hits = fly(rng, setup, more).hits
    return concatenate([particles, more]), Hits(
        *(np.concatenate([a, b]) for a, b in zip(
            (found.owner, found.module, found.x, found.y, found.z),
            (more_hits.owner + len(particles), more_hits.module, more_hits.x, more_hits.y, more_hits.z))))


def _simulate_block(seed: int, block: int, setup: Setup) -> BlockColumns:
    """Events block * n to (block + 1) * n - 1, simulated together, n being the conditions' `events_per_block`."""
    rng = np.random.default_rng([seed, block])
    conditions = setup.conditions
    events = events_per_block(conditions)
    sources = (_gun if conditions.gun else _collisions)(rng, conditions, events)
    particles, found = _particle_hits(rng, setup, sources)
    particle_event = sources.vertex_event[particles.collision]
    slots = events * MODULE_COUNT
    noise_slot, noise_x, noise_y = _noise_hits(rng, setup, slots)
    noise_z = setup.geometry.module_z[noise_slot % MODULE_COUNT] + sensor_plane_offset(noise_y)
    if conditions.spill_over > 0.0:
        spilled = _spill_over(rng, setup, events)
        noise_slot, noise_x, noise_y, noise_z = (np.concatenate([a, b]) for a, b in zip(
            (noise_slot, noise_x, noise_y, noise_z), spilled))
    slot = np.concatenate([particle_event[found.owner] * MODULE_COUNT + found.module, noise_slot])
    fill_slot, fill_x, fill_y = _fill_empty_slots(rng, slot, slots)
    slot = np.concatenate([slot, fill_slot])
    x = np.concatenate([found.x, noise_x, fill_x])
    y = np.concatenate([found.y, noise_y, fill_y])
    z = np.concatenate([found.z, noise_z,
                        setup.geometry.module_z[fill_slot % MODULE_COUNT] + sensor_plane_offset(fill_y)])
    owner = np.concatenate([found.owner, np.full(noise_slot.size + fill_slot.size, -1)])
    shuffled = rng.permutation(slot.size)
    order = shuffled[stable_order(slot[shuffled])]  # by event and module, in no particular order within one
    per_module = np.bincount(slot, minlength=slots).reshape(events, MODULE_COUNT)
    per_event = per_module.sum(axis=1)
    event_start = np.repeat(np.cumsum(per_event) - per_event, per_event)
    truth = montecarlo_columns(particles, particle_event, owner[order], np.arange(slot.size) - event_start,
                               events)
    first = block * events
    return BlockColumns(first, [f"generated event {first + e} of seed {seed}: {sources.labels[e]}"
                                for e in range(events)],
                        per_module, x[order], y[order], z[order], truth)


def block_events(block: BlockColumns) -> list[EventDict]:
    """The block's events as event dictionaries."""
    rows = montecarlo_rows_of(block.montecarlo)
    coordinates = [axis.tolist() for axis in (block.x, block.y, block.z)]
    prefix_sums = block.prefix_sums.tolist()
    bounds = block.hit_offsets.tolist()
    return [{
        "description": block.descriptions[e],
        "montecarlo": {"description": list(MC_COLUMNS), "particles": rows[e]},
        "module_prefix_sum": prefix_sums[e],
        "x": coordinates[0][bounds[e]:bounds[e + 1]],
        "y": coordinates[1][bounds[e]:bounds[e + 1]],
        "z": coordinates[2][bounds[e]:bounds[e + 1]],
    } for e in range(len(block))]


@functools.lru_cache(maxsize=16)
def _setup(conditions: Conditions) -> Setup:
    """The conditions' detector, made once for all their blocks (nobody may change it)."""
    setup = Setup.of(conditions)
    setup.geometry.module_z.flags.writeable = False
    return setup


@functools.lru_cache(maxsize=2)
def simulated_block(seed: int, block: int, conditions: Conditions | None) -> BlockColumns:
    """Block `block` of the sample with the given seed, as columns (the last two made are kept: ranges that do
    not start at a block's first event read blocks twice)."""
    return _simulate_block(seed, block, _setup(conditions or Conditions()))


def iter_blocks(first: int, count: int, seed: int,
                conditions: Conditions | None) -> Iterator[tuple[BlockColumns, int, int]]:
    """(block, lo, hi) for each block holding events first to first + count - 1: they are its events lo to hi - 1."""
    stop = first + count
    size = events_per_block(conditions)
    for block in range(first // size, (stop + size - 1) // size):
        start = block * size
        yield simulated_block(seed, block, conditions), max(first - start, 0), min(stop - start, size)


def _block(seed: int, block: int, conditions: Conditions | None) -> list[EventDict]:
    with collector_paused():
        return block_events(simulated_block(seed, block, conditions))


def iter_events(count: int, seed: int = 0, first: int = 0,
                conditions: Conditions | None = None) -> Iterator[EventDict]:
    """Events first to first + count - 1 of the sample with the given seed (and conditions, default when
    None), one at a time.

    Each block is simulated once, so prefer this (or generate_range) to
    calling generate_event for every index.
    """
    stop = first + count
    size = events_per_block(conditions)
    for block in range(first // size, (stop + size - 1) // size):
        start = block * size
        yield from _block(seed, block, conditions)[max(first - start, 0):stop - start]


def generate_range(seed: int, first: int, count: int, conditions: Conditions | None = None) -> list[EventDict]:
    """Events first to first + count - 1 of the sample with the given seed."""
    return list(iter_events(count, seed, first, conditions))


def generate_events(count: int, seed: int = 0, conditions: Conditions | None = None) -> list[EventDict]:
    """Events 0 to count - 1 of the sample with the given seed."""
    return generate_range(seed, 0, count, conditions)


def generate_event(seed: int = 0, index: int = 0, conditions: Conditions | None = None) -> EventDict:
    """Event `index` of the sample with the given seed, as an event dictionary."""
    size = events_per_block(conditions)
    return _block(seed, index // size, conditions)[index % size]
