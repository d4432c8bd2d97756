"""Realistic-looking events for benchmarks and tests.

Straight tracks leave a few vertices near the origin and cross 52 planes at
increasing z; each crossing inside the sensitive area gives a smeared hit with
some inefficiency, and uniform noise hits are added. The result is an event
dictionary as `Event` accepts it (hits grouped by module, shuffled within a
module, every module holding at least one hit).
"""
import numpy as np

MODULE_COUNT = 52
MODULE_Z = -300.0 + 20.0 * np.arange(MODULE_COUNT)  # mm
HALF_WIDTH = 40.0     # sensitive area |x|, |y| below this (mm)
INNER_RADIUS = 5.0    # beam hole (mm)
RESOLUTION = 0.01     # hit smearing (mm)
EFFICIENCY = 0.96
NOISE_FRACTION = 0.05


def _track_hits(rng, vertex, count):
    """Hits (module, x, y, z) of `count` tracks from `vertex`."""
    eta = rng.uniform(1.8, 5.0, count)
    theta = 2.0 * np.arctan(np.exp(-eta))
    phi = rng.uniform(-np.pi, np.pi, count)
    forward = np.where(rng.random(count) < 0.8, 1.0, -1.0)
    tx = np.tan(theta) * np.cos(phi) * forward
    ty = np.tan(theta) * np.sin(phi) * forward
    dz = MODULE_Z[None, :] - vertex[2]
    x = vertex[0] + tx[:, None] * dz
    y = vertex[1] + ty[:, None] * dz
    inside = ((np.abs(x) < HALF_WIDTH) & (np.abs(y) < HALF_WIDTH) & (np.hypot(x, y) > INNER_RADIUS)
              & (dz * forward[:, None] > 0) & (rng.random(x.shape) < EFFICIENCY))
    _, modules = np.nonzero(inside)
    x = x[inside] + rng.normal(0.0, RESOLUTION, modules.size)
    y = y[inside] + rng.normal(0.0, RESOLUTION, modules.size)
    return modules, x, y


def generate_event(hit_count=5000, seed=0, vertices=4, description="generated"):
    """An event dictionary with about `hit_count` hits."""
    rng = np.random.default_rng(seed)
    track_target = int(hit_count * (1.0 - NOISE_FRACTION))
    parts = []
    made = 0
    while made < track_target:
        vertex = np.array([rng.normal(0, 0.1), rng.normal(0, 0.1), rng.normal(0, 40.0)])
        modules, x, y = _track_hits(rng, vertex, max(1, (track_target - made) // (12 * vertices)))
        parts.append((modules, x, y))
        made += modules.size
    noise = max(hit_count - made, MODULE_COUNT)
    parts.append((rng.integers(0, MODULE_COUNT, noise),
                  rng.uniform(-HALF_WIDTH, HALF_WIDTH, noise), rng.uniform(-HALF_WIDTH, HALF_WIDTH, noise)))
    parts.append((np.arange(MODULE_COUNT), rng.uniform(-HALF_WIDTH, HALF_WIDTH, MODULE_COUNT),
                  rng.uniform(-HALF_WIDTH, HALF_WIDTH, MODULE_COUNT)))  # no module left empty
    modules = np.concatenate([p[0] for p in parts])
    x = np.concatenate([p[1] for p in parts])
    y = np.concatenate([p[2] for p in parts])
    order = np.lexsort((rng.random(modules.size), modules))  # by module, shuffled within
    modules, x, y = modules[order], x[order], y[order]
    prefix = np.concatenate([[0], np.cumsum(np.bincount(modules, minlength=MODULE_COUNT))])
    return {
        "description": description,
        "montecarlo": None,
        "module_prefix_sum": [int(v) for v in prefix],
        "x": x.tolist(),
        "y": y.tolist(),
        "z": MODULE_Z[modules].tolist(),
    }
