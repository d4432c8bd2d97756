"""Flight of particles through the detector: the sensors each straight line crosses, multiple scattering in
the modules and the foil (Highland formula), and the hits left behind.

Units: millimetres, MeV, radiation lengths.
"""
from dataclasses import dataclass

import numpy as np

from . import compiled_generator
from .conditions import Conditions
from .detector import INNER_RADIUS, OUTER_HALF_WIDTH, BoolArray, FloatArray, Geometry, IntArray, sensor_plane_offset
from .interactions import foil_crossing
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
    """Where particles cross modules: grouped by particle (`row`), in module order within one."""
    row: IntArray
    module: IntArray
    x: FloatArray
    y: FloatArray
    plane: FloatArray        # z offset of the sensor plane from the module's z
    on_sensor: BoolArray     # whether the scattered particle lands on a sensor


@dataclass
class Hits:
    """Hits of particles: the particle (`owner`) and module of each, and its position."""
    owner: IntArray
    module: IntArray
    x: FloatArray
    y: FloatArray
    z: FloatArray


def highland(p: FloatArray, mass: FloatArray, path_x0: FloatArray) -> FloatArray:
    """RMS projected scattering angle (rad) of a unit-charge particle; none without material."""
    beta = p / np.sqrt(p * p + mass * mass)
    path = np.maximum(path_x0, 1e-300)
    angle: FloatArray = np.where(path_x0 > 0.0,
                                 13.6 / (beta * p) * np.sqrt(path) * (1.0 + 0.038 * np.log(path / (beta * beta))), 0.0)
    return angle


def _scatter(rng: np.random.Generator, z: FloatArray, theta: FloatArray, row: IntArray,
             forward: BoolArray) -> FloatArray:
    """x and y displacements at each crossing (row, z) from the kicks (RMS `theta`) of the crossings before it.

    Crossings come grouped by row (particle), in z order within a row.
    With a slope kick k_j at crossing j, the displacement at crossing k is the
    sum of k_j * (z_k - z_j) over the crossings j before k in flight order:
    lower z first when flying towards +z, higher z first towards -z. Each sum
    is z_k * sum(k_j) - sum(k_j * z_j), from running sums within the row.
    """
    kicks = rng.normal(0.0, 1.0, (2, row.size)) * theta
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


def crossings(rng: np.random.Generator, setup: Setup, particles: Particles) -> Crossings:
    """Where the particles cross the modules whose sensors their undisturbed lines cross, after scattering
    in the foil and in every module crossed before."""
    tx, ty, sign = particles.lines.tx, particles.lines.ty, particles.lines.sign
    module_z = setup.geometry.module_z
    row, module, x, y = line_crossings(setup, particles)
    t2 = tx * tx + ty * ty
    theta = highland(particles.p, particles.mass, setup.conditions.module_material * np.sqrt(1.0 + t2)) * (1.0 + t2)
    foil_row, foil_z, foil_x0 = foil_crossing(particles, setup.conditions.foil_material)
    if compiled_generator.module is not None:
        return _compiled_crossings(rng, setup, particles, (row, module, x, y), (theta, t2), (foil_row, foil_z, foil_x0))
    if foil_row.size == 0:
        shift = _scatter(rng, module_z[module], theta[row], row, sign > 0.0)
    else:
        # The foil comes first in flight order: before a particle's modules when it flies towards +z, after
        # them (in z order) when it flies towards -z.
        forward = sign[foil_row] > 0.0
        at = np.where(forward, np.searchsorted(row, foil_row, side="left"),
                      np.searchsorted(row, foil_row, side="right")) + np.arange(foil_row.size)
        on_module = np.ones(row.size + foil_row.size, bool)
        on_module[at] = False
        every_row = np.empty(on_module.size, np.int64)
        every_z, every_theta = np.empty(on_module.size), np.empty(on_module.size)
        every_row[on_module], every_row[at] = row, foil_row
        every_z[on_module], every_z[at] = module_z[module], foil_z
        every_theta[on_module] = theta[row]
        every_theta[at] = highland(particles.p[foil_row], particles.mass[foil_row], foil_x0) * (1.0 + t2[foil_row])
        shift = _scatter(rng, every_z, every_theta, every_row, sign > 0.0)[:, on_module]
    x += shift[0]
    y += shift[1]
    plane = sensor_plane_offset(y)
    x += tx[row] * plane
    y += ty[row] * plane
    return Crossings(row, module, x, y, plane, setup.geometry.in_sensitive_area(module, x, y))


def _compiled_crossings(rng: np.random.Generator, setup: Setup, particles: Particles,
                        crossed: tuple[IntArray, IntArray, FloatArray, FloatArray],
                        angles: tuple[FloatArray, FloatArray], foil: tuple[IntArray, FloatArray, FloatArray]) -> Crossings:
    """`crossings` by the compiled code: the same draws, the same arithmetic."""
    compiled = compiled_generator.module
    assert compiled is not None
    row, module, x, y = crossed
    theta, t2 = angles     # per particle: RMS kick at a module, and the squared transverse slope
    foil_row, foil_z, foil_x0 = foil
    foil_theta = highland(particles.p[foil_row], particles.mass[foil_row], foil_x0) * (1.0 + t2[foil_row])
    normals = rng.normal(0.0, 1.0, (2, row.size + foil_row.size))
    geometry = setup.geometry
    x, y, plane, on_sensor = compiled.scatter(line_arrays(particles), geometry.module_z, geometry.overlap,
                                              geometry.sensor_shapes, row, module, x, y, theta, foil_row, foil_z,
                                              foil_theta, normals.reshape(-1))
    return Crossings(row, module, _floats(x), _floats(y), _floats(plane), np.frombuffer(on_sensor, np.bool_))


def hits(rng: np.random.Generator, setup: Setup, crossed: Crossings) -> Hits:
    """The hits of the crossings on a sensor: each lost with the inefficiency, the rest smeared."""
    seen = crossed.on_sensor & (rng.random(crossed.row.size) < setup.conditions.hit_efficiency)
    count = int(np.count_nonzero(seen))
    resolution = setup.conditions.resolution
    module = crossed.module[seen]
    return Hits(crossed.row[seen], module, crossed.x[seen] + rng.normal(0.0, resolution, count),
                crossed.y[seen] + rng.normal(0.0, resolution, count),
                setup.geometry.module_z[module] + crossed.plane[seen])
