"""Particle guns and the physics switches of the generator: each does what it says, and only that."""
import math

import numpy as np
import pytest

from corvane_tools.conditions import Conditions, with_values
from corvane_tools.generator import generate_range
from corvane_tools.interactions import (DELTA_RAY_CONSTANT, DELTA_RAY_MAX_ENERGY, DELTA_RAY_MIN_ENERGY, ELECTRON_MASS,
                                        SENSOR_PATH_LIMIT_X0, delta_rays, foil_crossing, largest_transfer,
                                        sensor_material)
from corvane_tools.particles import Particles, at_azimuth_zero, direction_from
from corvane_tools.propagation import Setup, candidate_window

# hits exactly where the particles cross, and of those particles alone
EXACT = dict(resolution=0, noise_per_module=0, hit_efficiency=1, foil_material=0, delta_rays=False)


def truth(event):
    columns = event["montecarlo"]["description"]
    return [dict(zip(columns, row)) for row in event["montecarlo"]["particles"]]


def modules_of(event):
    return np.repeat(np.arange(52), np.diff(event["module_prefix_sum"][:53]))


def owned(event):
    return {h for particle in truth(event) for h in particle["hits"]}


@pytest.mark.parametrize("gun, p, eta, phi, particles, code", [
    ("pion", "2-20GeV", "2-5", "-3.2-3.2", "1-300", 211),
    ("muon", "500MeV-1GeV", "-5--2", "0-1", "7", 13),
    ("proton", "50GeV", "3-3.5", "-1-0", "20-25", 2212),
])
def test_gun_gives_the_requested_species_and_ranges(gun, p, eta, phi, particles, code):
    conditions = with_values(gun=gun, gun_p=p, gun_eta=eta, gun_phi=phi, gun_particles=particles, delta_rays=False)
    low, high = conditions.gun_particles
    for event in generate_range(2, 0, 10, conditions):
        made = int(event["description"].split("gun, ")[1].split()[0])
        assert low <= made <= high
        rows = truth(event)
        assert len(rows) <= made
        for row in rows:
            assert abs(row["pid"]) == code and row["charge"] in (-1, 1)
            assert conditions.gun_p[0] - 1e-6 <= row["p"] <= conditions.gun_p[1] + 1e-6
            assert conditions.gun_eta[0] - 1e-9 <= row["eta"] <= conditions.gun_eta[1] + 1e-9
            assert conditions.gun_phi[0] - 1e-9 <= row["phi"] <= conditions.gun_phi[1] + 1e-9


@pytest.mark.parametrize("origin", ["0,0,0", "1,-2,150"])
def test_gun_particles_come_from_the_fixed_origin(origin):
    conditions = with_values(gun="pion", gun_particles="40", gun_origin=origin, module_material=0, **EXACT)
    x0, y0, z0 = (float(v) for v in origin.split(","))
    rows = [(event, row) for event in generate_range(1, 0, 3, conditions) for row in truth(event)]
    assert len(rows) > 60
    for event, row in rows:
        hits = row["hits"]
        if len(hits) >= 2:
            x, y, z = (np.asarray(event[axis])[hits] for axis in "xyz")
            # back along the line through two of its hits to the origin's z
            at = (z0 - z[0]) / (z[1] - z[0])
            assert math.isclose(x[0] + at * (x[1] - x[0]), x0, abs_tol=1e-6)
            assert math.isclose(y[0] + at * (y[1] - y[0]), y0, abs_tol=1e-6)


def test_random_gun_origins_differ_between_events():
    events = generate_range(1, 0, 4, with_values(gun="kaon", gun_origin="random", gun_particles="5"))
    assert len({tuple(e["z"][:3]) for e in events}) == 4


def electrons(events):
    return [row for event in events for row in truth(event) if abs(row["pid"]) == 11]


@pytest.mark.parametrize("delta_rays", [False, True])
def test_delta_rays_are_electrons_knocked_out_by_a_muon_beam(delta_rays):
    events = generate_range(3, 0, 10, with_values(gun="muon", gun_particles="100", delta_rays=delta_rays,
                                                   noise_per_module=0))
    knocked = electrons(events)
    if not delta_rays:
        assert knocked == []
        return
    assert len(knocked) > 20 and all(row["pid"] == 11 and row["charge"] == -1 for row in knocked)
    assert all(1.0 < row["p"] < 51.0 for row in knocked)   # 1 to 50 MeV kinetic energy


@pytest.mark.parametrize("foil, module", [(0.0, 0.0), (0.05, 0.0), (0.0, 0.02)])
def test_photons_convert_in_the_material(foil, module):
    base = dict(noise_per_module=0, collisions=5, fixed_collisions=True, delta_rays=False)
    events = {switch: generate_range(4, 0, 10, with_values(conversions=switch, foil_material=foil,
                                                            module_material=module, **base))
              for switch in (False, True)}
    prompt = len(electrons(events[False]))
    converted = len(electrons(events[True])) - prompt
    if foil == module == 0.0:
        assert abs(converted) <= 0.3 * prompt + 5    # no material, no pairs: the prompt electrons alone
    else:
        assert converted > 2 * prompt


def test_spill_over_adds_hits_without_truth():
    base = dict(noise_per_module=0, collisions=6, fixed_collisions=True)
    for spill, least in ((0.0, 0), (0.5, 400)):
        for event in generate_range(5, 0, 3, with_values(spill_over=spill, **base)):
            modules = modules_of(event)
            counts = np.bincount(modules, minlength=52)
            stray = [h for h in range(len(modules)) if h not in owned(event) and counts[modules[h]] > 1]
            assert len(stray) >= least and (least or not stray)


@pytest.mark.parametrize("shape", ["strip", "sensors"])
def test_the_halves_overlap_where_the_shape_says(shape):
    conditions = with_values(overlap_shape=shape, overlap=2, collisions=8, **EXACT)
    for event in generate_range(6, 0, 3, conditions):
        modules = modules_of(event)
        side = np.where(modules % 2 == 0, 1.0, -1.0)
        u, v = side * np.asarray(event["x"]), side * np.asarray(event["y"])   # in the even half's frame
        past = u < 0.0
        if shape == "strip":
            assert u.min() > -2.0 and np.hypot(u, v).min() > 5.1
        else:
            assert not np.any((np.abs(u) < 5.1) & (np.abs(v) < 5.1))       # square hole
            assert np.all(v[past] > 5.1)
            assert np.all((u[past] > -5.1) | ((u[past] > -7.1) & (v[past] < 5.1 + 14.08)))


def _parents(p, mass):
    n = len(p)
    return Particles(np.zeros((n, 3)), np.tile([0.0, 0.6, 0.8], (n, 1)), np.array(p, float), np.array(mass, float),
                     np.full(n, 211), np.ones(n, np.int64), *(np.zeros(n, bool),) * 3, np.zeros(n, np.int64))


@pytest.mark.parametrize("p, mass", [(0.64, 938.27), (30.0, 139.57), (400.0, 139.57), (5e4, 139.57), (3.0, 0.511)])
def test_delta_rays_stay_within_what_the_parent_can_transfer(p, mass):
    # many crossings of 0.3 mm each by one parent: each electron's kinetic energy lies between the least that
    # leaves the sensor and the most the parent can give; a parent that cannot give the least gives none
    parents = _parents([p], [mass])
    electrons = delta_rays(np.random.default_rng(1), parents, np.zeros(20000, np.int64), np.full(1, 0.3),
                           lambda at: np.zeros((at.size, 3)))
    energy = np.sqrt(electrons.p ** 2 + ELECTRON_MASS ** 2) - ELECTRON_MASS
    most = min(float(largest_transfer(np.array([p]), np.array([mass]))[0]), DELTA_RAY_MAX_ENERGY)
    if most <= DELTA_RAY_MIN_ENERGY:
        assert len(electrons) == 0
    else:
        assert len(electrons) > 0
        assert energy.min() >= DELTA_RAY_MIN_ENERGY * (1 - 1e-12) and energy.max() <= most * (1 + 1e-12)


def test_a_grazing_crossing_holds_at_most_a_sensor_diagonal_of_material():
    t2 = np.array([0.0, 0.5, 1e6, 1e30])
    material = sensor_material(0.003, t2)
    assert np.array_equal(material[:2], 0.003 * np.sqrt(1.0 + t2[:2]))     # unchanged where it is physical
    assert np.all(material[2:] == SENSOR_PATH_LIMIT_X0) and SENSOR_PATH_LIMIT_X0 < 1.3


def test_a_nearly_stopped_particle_no_longer_floods_its_event():
    # event 310,491 of seed 1 held a 0.64 MeV/c proton whose delta rays made 42,937 hits
    assert len(generate_range(1, 310491, 1)[0]["x"]) < 10000


def test_each_crossing_makes_delta_rays_at_its_own_poisson_rate():
    # three parents of different speeds, their crossings grouped: every electron starts at a crossing of its own
    # parent, and each parent's crossings make the Poisson number its mean per crossing gives, spread evenly
    p, counts = np.array([300.0, 1000.0, 5e4]), np.array([30000, 1, 20000])
    parents = _parents(p, [139.57] * 3)
    parents.collision = np.arange(3)
    row = np.repeat(np.arange(3), counts)
    silicon = np.full(3, 0.3)
    electrons = delta_rays(np.random.default_rng(2), parents, row, silicon,
                           lambda at: np.stack([at, at, at], axis=1).astype(float))
    crossing = electrons.origin[:, 0].astype(np.int64)
    assert np.array_equal(row[crossing], electrons.collision)
    beta2 = p ** 2 / (p ** 2 + 139.57 ** 2)
    span = 1.0 / DELTA_RAY_MIN_ENERGY - 1.0 / np.minimum(largest_transfer(p, np.full(3, 139.57)), DELTA_RAY_MAX_ENERGY)
    expected = DELTA_RAY_CONSTANT * 0.3 / beta2 * span * counts
    made = np.bincount(electrons.collision, minlength=3)
    assert np.all(np.abs(made - expected) < 5 * np.sqrt(expected) + 1)
    for parent in (0, 2):       # uniform over the parent's crossings: the first and second half alike
        mine = crossing[electrons.collision == parent] - np.flatnonzero(row == parent)[0]
        halves = np.bincount(mine * 2 // counts[parent], minlength=2)
        assert abs(halves[0] - halves[1]) < 5 * np.sqrt(made[parent]) + 1


def test_the_material_photons_could_cross_does_not_depend_on_their_azimuth():
    # the conversion bound is taken at azimuth 0; lines of any azimuth have the same candidate modules and foil
    rng = np.random.default_rng(4)
    count = 4000
    vertices = np.stack([rng.normal(0, 0.04, 8), rng.normal(0, 0.04, 8), rng.normal(0, 45, 8)], axis=1)
    made_in, eta = rng.integers(0, 8, count), rng.normal(0, 4, count)
    outline = at_azimuth_zero(vertices, made_in, eta)
    turned = Particles(vertices[made_in], direction_from(eta, rng.uniform(-np.pi, np.pi, count)),
                       *(getattr(outline, name) for name in ("p", "mass", "pid", "charge", "from_beauty",
                                                             "from_charm", "from_strange", "collision")))
    module_z = Setup.of(Conditions()).geometry.module_z
    assert np.array_equal(candidate_window(module_z, outline)[1], candidate_window(module_z, turned)[1])
    assert np.array_equal(foil_crossing(outline, 0.003)[0], foil_crossing(turned, 0.003)[0])
    assert np.allclose(foil_crossing(outline, 0.003)[2], foil_crossing(turned, 0.003)[2], rtol=1e-12)
