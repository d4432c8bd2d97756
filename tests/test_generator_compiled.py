"""The generator's compiled part gives exactly what the array code it stands in for gives: the same crossings,
hence the same events, bit for bit."""
import json

import numpy as np
import pytest

from corvane_tools import compiled_generator
from corvane_tools.conditions import with_values
from corvane_tools.detector import INNER_RADIUS, OUTER_HALF_WIDTH
from corvane_tools.generator import _collisions, generate_events
from corvane_tools.montecarlo_record import montecarlo_rows
from corvane_tools.particles import MINIMUM_BIAS, _cumulative_table, perpendicular_basis
from corvane_tools.particles import Particles
from corvane_tools.propagation import Setup, candidate_window, fly, line_arrays

pytestmark = pytest.mark.skipif(compiled_generator.module is None, reason="module built without corvane._generator")

EARLIER = with_values(spectrum="wide_gaussian", noise_per_module=2.2, hit_efficiency=0.98, foil_material=0,
                      overlap_shape="strip", conversions=False, delta_rays=False)


@pytest.fixture
def array_code(monkeypatch):
    """Runs a function with the array code in place of the compiled part."""
    def run(function, *args):
        with monkeypatch.context() as patch:
            patch.setattr(compiled_generator, "module", None)
            return function(*args)
    return run


def particles_on_lines(origins, directions, p=800.0):
    origin = np.array(origins, float).reshape(-1, 3)
    direction = np.array(directions, float).reshape(-1, 3)
    direction /= np.linalg.norm(direction, axis=1)[:, None]
    count = len(origin)
    none = np.zeros(count, bool)
    return Particles(origin, direction, np.full(count, p), np.full(count, 139.57), np.full(count, 211),
                     np.ones(count, np.int64), none, none.copy(), none.copy(), np.zeros(count, np.int64))


EDGE = OUTER_HALF_WIDTH
LINES = {
    "no particles": ([], []),
    # along the beam: the transverse slope is floored, so every module ahead is a candidate; on the beam line
    # itself only the foil is crossed
    "along the beam": ([(0, 0, 0), (0, 0, 0), (10.0, 7.0, -300), (-12.0, 3.0, 400)],
                       [(0, 0, 1), (0, 0, -1), (0, 0, 1), (0, 0, -1)]),
    # on the bounds of the sensitive area at every module: the outer edge, the hole, and the overlap's edge
    "at a module edge": ([(EDGE, 0, -400), (0, EDGE, -400), (INNER_RADIUS, 0, -400), (0, -INNER_RADIUS, -400),
                          (-2.0, 10.0, -400), (2.0, -10.0, -400), (-2.0 - INNER_RADIUS, INNER_RADIUS + 14.08, -400)],
                         [(0, 0, 1)] * 7),
    "inside the foil, both ways": ([(0.5, 0.2, 10), (0.5, 0.2, 10), (1.0, -1.0, -50)],
                                   [(0.1, 0.05, 1), (0.1, 0.05, -1), (-0.02, 0.3, -1)]),
}


def collision_particles(conditions):
    return _collisions(np.random.default_rng([5, 2]), conditions, 10).particles


@pytest.mark.parametrize("shape", ["sensors", "strip"])
@pytest.mark.parametrize("foil", [0.0, 0.0028])
@pytest.mark.parametrize("lines", [*LINES, "collisions"])
def test_flight_matches_the_array_code(array_code, lines, foil, shape):
    setup = Setup.of(with_values(foil_material=foil, overlap_shape=shape))
    made = collision_particles(setup.conditions) if lines == "collisions" else particles_on_lines(*LINES[lines])
    compiled = fly(np.random.default_rng(9), setup, made)
    expected = array_code(fly, np.random.default_rng(9), setup, made)
    for part in ("landed", "hits"):
        for name, got in vars(getattr(compiled, part)).items():
            want = getattr(getattr(expected, part), name)
            assert got.dtype == want.dtype and got.tobytes() == want.tobytes(), (part, name)
    window = candidate_window(setup.geometry.module_z, made)
    assert all(a.tobytes() == b.tobytes()
               for a, b in zip(window, array_code(candidate_window, setup.geometry.module_z, made)))
    if lines == "collisions":
        assert compiled.hits.owner.size > 1000   # the comparison saw real crossings


@pytest.mark.parametrize("z", ["on a module", "one float off a module", "zero of either sign", "not finite"])
def test_candidate_window_edges_match_the_array_code(array_code, z):
    # Origins 4.5 mm from the beam: a window's near end (oz, or oz - far backwards) falls right at the origin.
    module_z = Setup.of(with_values()).geometry.module_z
    oz = {"on a module": module_z, "one float off a module": np.r_[np.nextafter(module_z, np.inf),
                                                                  np.nextafter(module_z, -np.inf)],
          "zero of either sign": np.array([0.0, -0.0]), "not finite": np.array([np.inf, -np.inf, np.nan])}[z]
    origins = [(4.5, 0.0, value) for value in oz] * 2
    made = particles_on_lines(origins, [(0.3, 0.0, 1.0)] * oz.size + [(0.3, 0.0, -1.0)] * oz.size)
    for geometry_z in (module_z, np.r_[module_z[:3], 0.0, module_z[3:]] if z == "zero of either sign" else module_z):
        window = candidate_window(np.sort(geometry_z), made)
        expected = array_code(candidate_window, np.sort(geometry_z), made)
        assert all(a.tobytes() == b.tobytes() for a, b in zip(window, expected))


@pytest.mark.parametrize("conditions", [with_values(), EARLIER,
                                        with_values(collisions=12, spill_over=0.3, noise_per_module=2.5),
                                        with_values(gun="pion", gun_particles="100")],
                         ids=["defaults", "earlier settings", "busy", "gun"])
def test_events_match_the_array_code(array_code, monkeypatch, conditions):
    def text(events):
        return [json.dumps(event, sort_keys=True) for event in events]
    events = text(generate_events(10, 4, conditions))
    assert events == text(array_code(generate_events, 10, 4, conditions))
    monkeypatch.setattr(compiled_generator, "flight", None)   # a module built before the one-pass flight
    assert events == text(generate_events(10, 4, conditions))


DIRECTIONS = {
    # along the beam both ways, on the 0.99 switch between the two kinds of basis, across the beam, and none
    "edges": [(0, 0, 1), (0, 0, -1), (0.1410673597966588, 0, 0.99), (0, -0.1410673597966588, -0.99),
              (np.nextafter(0.99, 1), 0, 0.99), (1, 0, 0), (0, -1, 0), (0.6, 0.8, 0), (0, 0, 0), (-0.0, 0.0, 1)],
    "random": np.random.default_rng(6).normal(size=(2000, 3)),
}


@pytest.mark.parametrize("directions", DIRECTIONS)
def test_perpendicular_basis_matches_the_array_code(array_code, directions):
    direction = np.array(DIRECTIONS[directions], float)
    with np.errstate(invalid="ignore"):
        expected = array_code(perpendicular_basis, direction)
    got = perpendicular_basis(direction)
    assert all(a.shape == b.shape and a.tobytes() == b.tobytes() for a, b in zip(got, expected))


def spectrum_table():
    grid, cumulative = _cumulative_table(MINIMUM_BIAS)
    shares = np.random.default_rng(3).random(100_000) * cumulative[-1]
    return np.concatenate([shares, cumulative, np.nextafter(cumulative, np.inf), np.nextafter(cumulative, -np.inf),
                           [-1.0, 2 * cumulative[-1]]]), cumulative, grid


TABLES = {
    "the pseudorapidity spectrum": spectrum_table(),
    # a step (a repeated point), an infinite value and an infinite point
    "steps and infinities": (np.array([-1, 0, 0.5, 1.0, 1.5, 2.0, 3.0, 1e308, np.inf, -np.inf, np.nan, -0.0]),
                             np.array([0.0, 1.0, 1.0, 2.0, np.inf]), np.array([0.0, 5.0, 6.0, np.inf, 1.0])),
    "one point": (np.array([-1.0, 0.0, 1.0]), np.array([0.0]), np.array([4.0])),
    "many steps": (np.linspace(-0.1, 1.1, 5001), np.repeat(np.linspace(0.0, 1.0, 100), 2),
                   np.random.default_rng(4).random(200)),
}


@pytest.mark.parametrize("table", TABLES)
def test_interpolation_matches_numpy(table):
    x, xp, fp = TABLES[table]
    got = np.frombuffer(compiled_generator.module.interpolate(x, xp, fp), np.float64)
    assert got.tobytes() == np.interp(x, xp, fp).tobytes()


ROWS = {  # particles (origin, direction), the event of each, the owner of each hit (-1: noise), events
    "no particles": ([], [], [], [-1, -1, -1], 2),
    # a downstream particle is listed without hits; one without hits or downstream reach is not
    "particles without hits": ([(0, 0, 0)] * 2, [(0.05, 0.02, 1), (1, 0, 0.1)], [0, 1], [-1], 2),
    "hits of several events": ([(0, 0, 0)] * 4, [(0.1, 0.2, 1), (-0.3, 0.1, -1), (0.02, 0.01, 1), (0, 0.2, 1)],
                               [0, 0, 2, 2], [3, -1, 0, 0, 2, 1, 3, -1, 0], 3),
}


@pytest.mark.parametrize("case", ROWS)
def test_montecarlo_rows_match_the_array_code(array_code, case):
    origins, directions, particle_event, owner, events = ROWS[case]
    made = particles_on_lines(origins, directions, p=2000.0)
    arguments = (made, np.array(particle_event, np.int64), np.array(owner, np.int64),
                 np.arange(len(owner), dtype=np.int64), events)
    rows = montecarlo_rows(*arguments)
    assert len(rows) == events and json.dumps(rows) == json.dumps(array_code(montecarlo_rows, *arguments))


def test_an_older_compiled_part_is_left_unused(monkeypatch):
    import corvane
    older = type(compiled_generator.module)("_generator")
    for name in compiled_generator.FUNCTIONS[:-1]:
        setattr(older, name, getattr(compiled_generator.module, name))
    monkeypatch.setattr(corvane, "_generator", older)
    assert compiled_generator._load() is None
    setattr(older, compiled_generator.FUNCTIONS[-1], None)
    assert compiled_generator._load() is older


def test_inconsistent_columns_are_refused():
    setup = Setup.of(with_values())
    made = particles_on_lines(*LINES["inside the foil, both ways"])
    lines, module_z = line_arrays(made), setup.geometry.module_z
    one = np.zeros(1, np.int64)
    good = dict(p=np.ones(3), mass=np.ones(3), module_material=0.005, foil_material=0.003, hit_efficiency=0.99,
                resolution=0.01, row=one, module=one, x=np.zeros(1), y=np.zeros(1), normals=np.zeros(10),
                uniforms=np.zeros(1))
    broken = [dict(row=np.array([3])), dict(module=np.array([52])), dict(module=np.array([-1])),
              dict(p=np.zeros(2)), dict(mass=np.zeros(4)), dict(normals=np.zeros(9)), dict(uniforms=np.zeros(2)),
              dict(x=np.zeros(2)), dict(row=np.array([1, 0]), module=np.zeros(2, np.int64), x=np.zeros(2),
                                        y=np.zeros(2), normals=np.zeros(14), uniforms=np.zeros(2))]
    compiled = compiled_generator.module
    compiled.fly(lines, module_z, 2.0, True, **good)
    for change in broken:
        with pytest.raises(ValueError):
            compiled.fly(lines, module_z, 2.0, True, **{**good, **change})
    with pytest.raises(ValueError):
        compiled.line_crossings(lines[:5], module_z, 2.0, True)
    with pytest.raises(ValueError):
        compiled.line_crossings((lines[0][:-1], *lines[1:]), module_z, 2.0, True)
    with pytest.raises(TypeError):
        compiled.fly(lines, module_z, 2.0, True, **{**good, "row": [0]})
    with pytest.raises(ValueError):
        compiled.perpendicular_basis(np.zeros(4))
    for table in [(np.zeros(0), np.zeros(0)), (np.zeros(2), np.zeros(1))]:
        with pytest.raises(ValueError):
            compiled.interpolate(np.zeros(1), *table)
    rows = dict(integers=np.zeros(11, np.int64), reals=np.zeros(5), hit_ids=np.zeros(2, np.int64),
                hit_start=np.zeros(1, np.int64), hit_end=np.full(1, 2), per_event=np.ones(1, np.int64))
    assert compiled.montecarlo_rows(**rows) == [[[0, 0, 0.0, 0.0, 0.0, 0.0, 0, [0, 0], *[0] * 8, 0.0]]]
    for change in [dict(hit_end=np.full(1, 3)), dict(hit_start=np.full(1, 3)), dict(per_event=np.full(1, 2)),
                   dict(per_event=np.array([2, -1])), dict(reals=np.zeros(4)), dict(integers=np.zeros(12, np.int64))]:
        with pytest.raises(ValueError):
            compiled.montecarlo_rows(**{**rows, **change})
