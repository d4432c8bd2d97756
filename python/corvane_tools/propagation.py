"""Flight of particles through the detector: the sensors each straight line crosses, multiple scattering in
the modules and the foil (Highland formula), and the hits left behind.

Units: millimetres, MeV, radiation lengths.
"""
from dataclasses import dataclass

import numpy as np

from . import compiled_generator, portable_math
from .conditions import Conditions
from .detector import INNER_RADIUS, OUTER_HALF_WIDTH, BoolArray, FloatArray, Geometry, IntArray, sensor_plane_offset
from .interactions import foil_crossing, sensor_material
from .particles import Particles


def line_arrays(particles: Particles) -> tuple[FloatArray, ...]:
    """The particles' lines as the compiled code reads them: (origin as x, y, z triples, tx, ty, sign, slope, r0)."""
    lines = particles.lines
    return (np.ascontiguousarray(particles.origin, np.float64).reshape(-1), lines.tx, lines.ty, lines.sign,
            lines.slope, lines.r0)


def _ints(data: bytearray) -> IntArray:
    return np.frombuffer(data, np.int64)


def _floats(data: bytearray) -> FloatArray:
    return np.frombuffer(data, np.float64)


@dataclass(frozen=True, eq=False)
class Setup:
    """The conditions of a sample and the detector they make."""
    conditions: Conditions
    geometry: Geometry

    @classmethod
    def of(cls, conditions: Conditions) -> "Setup":
        return cls(conditions, Geometry.of(conditions.station_gap, conditions.overlap, conditions.overlap_shape))


@dataclass
class Crossings:
    """Where particles cross sensors: grouped by particle (`row`), in module order within one."""
    row: IntArray
    module: IntArray
    x: FloatArray
    y: FloatArray


@dataclass
class Hits:
    """Hits of particles: the particle (`owner`) and module of each, and its position."""
    owner: IntArray
    module: IntArray
    x: FloatArray
    y: FloatArray
    z: FloatArray


@dataclass
class Flight:
    """Where scattered particles land on sensors, and the hits they leave there."""
    landed: Crossings
    hits: Hits


def highland(p: FloatArray, mass: FloatArray, path_x0: FloatArray) -> FloatArray:
    """RMS projected scattering angle (rad) of a unit-charge particle; none without material."""
    beta = p / np.sqrt(p * p + mass * mass)
    path = np.maximum(path_x0, 1e-300)
    angle: FloatArray = np.where(path_x0 > 0.0, 13.6 / (beta * p) * np.sqrt(path)
                                 * (1.0 + 0.038 * portable_math.log(path / (beta * beta))), 0.0)
    return angle


def _scatter(z: FloatArray, kicks: FloatArray, row: IntArray, forward: BoolArray) -> FloatArray:
    """x and y displacements at each crossing (row, z) from the slope kicks (2, crossings) of the crossings
    before it.

    Crossings come grouped by row (particle), in z order within a row.
    With a slope kick k_j at crossing j, the displacement at crossing k is the
    sum of k_j * (z_k - z_j) over the crossings j before k in flight order:
    lower z first when flying towards +z, higher z first towards -z. Each sum
    is z_k * sum(k_j) - sum(k_j * z_j), from running sums within the row.
    """
    starts = np.flatnonzero(np.r_[True, row[1:] != row[:-1]])
    lengths = np.diff(np.r_[starts, row.size])
    group_start = np.repeat(starts, lengths)
    # rows: kick x, kick y, moment x, moment y; column j holds the sum of the elements before j
    running = np.zeros((4, row.size + 1))
    np.cumsum(np.concatenate([kicks, kicks * z]), axis=-1, out=running[:, 1:])
    # The kicks before crossing j in flight order are running[j] - running[group start] towards +z and
    # running[group end] - running[j + 1] towards -z.
    at = np.arange(row.size)
    ahead = forward[row]
    sums = (running[:, np.where(ahead, at, group_start + np.repeat(lengths, lengths))]
            - running[:, np.where(ahead, group_start, at + 1)])
    shift: FloatArray = z * sums[:2] - sums[2:]
    return shift


def candidate_window(module_z: FloatArray, particles: Particles) -> tuple[IntArray, IntArray]:
    """The first module and the number of consecutive modules, per particle, whose sensors it may cross.

    A line from an origin at radius r0 with slope t is between t*|dz| - r0 and
    t*|dz| + r0 from the beam, so only the modules ahead within a window of z
    can see it; the window is generous and the exact test comes later.
    """
    compiled = compiled_generator.module
    if compiled is not None:
        first_module, count = compiled.candidate_window(line_arrays(particles), module_z)
        return _ints(first_module), _ints(count)
    oz = particles.origin[:, 2]
    lines = particles.lines
    slope, r0 = lines.slope, lines.r0
    near = np.maximum(INNER_RADIUS - r0 - 1.0, 0.0) / slope
    far = (OUTER_HALF_WIDTH * np.sqrt(2.0) + r0 + 1.0) / slope
    forward = lines.sign > 0.0
    # Forward: modules in (oz + near, oz + far]; backward: [oz - far, oz - near). A right-sided search for v
    # finds what a left-sided one finds for the next float above v, so one search serves both directions.
    first = np.searchsorted(module_z, np.where(forward, np.nextafter(oz + near, np.inf), oz - far))
    stop = np.searchsorted(module_z, np.where(forward, np.nextafter(oz + far, np.inf), oz - near))
    return first, np.maximum(stop - first, 0)


def candidate_crossings(module_z: FloatArray, particles: Particles) -> tuple[IntArray, IntArray]:
    """(particle, module) pairs of `candidate_window`, grouped by particle in module order."""
    first, counts = candidate_window(module_z, particles)
    row = np.repeat(np.arange(len(particles)), counts)
    step = np.arange(row.size) - np.repeat(np.cumsum(counts) - counts, counts)
    return row, first[row] + step


def line_crossings(setup: Setup, particles: Particles) -> tuple[IntArray, IntArray, FloatArray, FloatArray]:
    """The sensors the undisturbed lines cross: (particle, module, x, y), grouped by particle in module order."""
    compiled = compiled_generator.module
    if compiled is not None:
        geometry = setup.geometry
        row, module, x, y = compiled.line_crossings(line_arrays(particles), geometry.module_z, geometry.overlap,
                                                    geometry.sensor_shapes)
        return _ints(row), _ints(module), _floats(x), _floats(y)
    tx, ty = particles.lines.tx, particles.lines.ty
    module_z = setup.geometry.module_z
    row, module = candidate_crossings(module_z, particles)
    dz = module_z[module] - particles.origin[row, 2]
    x = particles.origin[row, 0] + tx[row] * dz
    y = particles.origin[row, 1] + ty[row] * dz
    crossed = setup.geometry.in_sensitive_area(module, x, y)
    return row[crossed], module[crossed], x[crossed], y[crossed]


def fly(rng: np.random.Generator, setup: Setup, particles: Particles) -> Flight:
    """Where the particles cross the sensors their undisturbed lines cross, after scattering in the foil and in
    every module crossed before, and the hits they leave: each crossing lost with the inefficiency, the rest
    smeared by the resolution.

    Draws, in one go: four unit normals per line crossing (kicks in x, in y; smearing in x, in y) and two per
    particle (kicks in the foil), then one uniform per line crossing."""
    row, module, x, y = line_crossings(setup, particles)
    normals = rng.standard_normal(4 * row.size + 2 * len(particles))
    uniforms = rng.random(row.size)
    compiled = compiled_generator.flight if compiled_generator.module is not None else None
    if compiled is None:
        return _fly_arrays(setup, particles, (row, module, x, y), normals, uniforms)
    geometry, conditions = setup.geometry, setup.conditions
    columns = compiled.fly(line_arrays(particles), geometry.module_z, geometry.overlap, geometry.sensor_shapes,
                           np.ascontiguousarray(particles.p, np.float64),
                           np.ascontiguousarray(particles.mass, np.float64), conditions.module_material,
                           conditions.foil_material, conditions.hit_efficiency, conditions.resolution, row, module,
                           x, y, normals, uniforms)
    ints, floats = (_ints(columns[i]) for i in (0, 1, 4, 5)), (_floats(columns[i]) for i in (2, 3, 6, 7, 8))
    landed_row, landed_module, owner, hit_module = ints
    landed_x, landed_y, hit_x, hit_y, hit_z = floats
    return Flight(Crossings(landed_row, landed_module, landed_x, landed_y),
                  Hits(owner, hit_module, hit_x, hit_y, hit_z))


def _fly_arrays(setup: Setup, particles: Particles, crossed: tuple[IntArray, IntArray, FloatArray, FloatArray],
                normals: FloatArray, uniforms: FloatArray) -> Flight:
    """`fly` without the compiled part: the same draws, the same arithmetic."""
    row, module, x, y = crossed
    n, m = row.size, len(particles)
    tx, ty, sign = particles.lines.tx, particles.lines.ty, particles.lines.sign
    module_z = setup.geometry.module_z
    conditions = setup.conditions
    t2 = tx * tx + ty * ty
    theta = highland(particles.p, particles.mass, sensor_material(conditions.module_material, t2)) * (1.0 + t2)
    kicks = np.stack([normals[:n], normals[n:2 * n]]) * theta[row]
    foil_row, foil_z, foil_x0 = foil_crossing(particles, conditions.foil_material)
    crossing = np.isin(foil_row, row)            # a particle that crosses no sensor leaves no kicks behind
    foil_row, foil_z, foil_x0 = foil_row[crossing], foil_z[crossing], foil_x0[crossing]
    if foil_row.size == 0:
        shift = _scatter(module_z[module], kicks, row, sign > 0.0)
    else:
        # The foil comes first in flight order: before a particle's modules when it flies towards +z, after
        # them (in z order) when it flies towards -z.
        forward = sign[foil_row] > 0.0
        at = np.where(forward, np.searchsorted(row, foil_row, side="left"),
                      np.searchsorted(row, foil_row, side="right")) + np.arange(foil_row.size)
        on_module = np.ones(n + foil_row.size, bool)
        on_module[at] = False
        every_row = np.empty(on_module.size, np.int64)
        every_z, every_kick = np.empty(on_module.size), np.empty((2, on_module.size))
        every_row[on_module], every_row[at] = row, foil_row
        every_z[on_module], every_z[at] = module_z[module], foil_z
        foil_theta = highland(particles.p[foil_row], particles.mass[foil_row], foil_x0) * (1.0 + t2[foil_row])
        every_kick[:, on_module] = kicks
        every_kick[:, at] = np.stack([normals[2 * n + foil_row], normals[2 * n + m + foil_row]]) * foil_theta
        shift = _scatter(every_z, every_kick, every_row, sign > 0.0)[:, on_module]
    x = x + shift[0]
    y = y + shift[1]
    plane = sensor_plane_offset(y)
    x = x + tx[row] * plane
    y = y + ty[row] * plane
    on = setup.geometry.in_sensitive_area(module, x, y)
    seen = on & (uniforms < conditions.hit_efficiency)
    smear = normals[2 * n + 2 * m:].reshape(2, n)[:, seen] * conditions.resolution
    return Flight(Crossings(row[on], module[on], x[on], y[on]),
                  Hits(row[seen], module[seen], x[seen] + smear[0], y[seen] + smear[1],
                       module_z[module[seen]] + plane[seen]))
