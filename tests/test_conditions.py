"""Generator conditions: how they are read and refused, and what each one does to the events."""
import math
from pathlib import Path

import numpy as np
import pytest
from click.testing import CliRunner

from corvane_tools.cli import main
from corvane_tools.conditions import COMMAND_LINE, DEFAULT, FILE, ConditionError, Conditions, resolve, with_values
from corvane_tools.detector import OUTER_HALF_WIDTH, Geometry, sensor_plane_offset
from corvane_tools.generator import generate_event, generate_range


def truth(event):
    columns = event["montecarlo"]["description"]
    return [dict(zip(columns, row)) for row in event["montecarlo"]["particles"]]


def modules_of(event):
    prefix = event["module_prefix_sum"]
    return np.repeat(np.arange(52), np.diff(prefix[:53]))


def ownerless_hits(event):
    owned = {h for particle in truth(event) for h in particle["hits"]}
    return [h for h in range(event["module_prefix_sum"][52]) if h not in owned]


@pytest.mark.parametrize("table, assignments, expected, sources", [
    ({}, [], {}, {}),
    ({"noise_per_module": 1}, ["hit_efficiency=1"], {"noise_per_module": 1.0, "hit_efficiency": 1.0},
     {"noise_per_module": FILE, "hit_efficiency": COMMAND_LINE}),
    ({"collisions": 3}, ["collisions=4", "fixed-collisions=yes"], {"collisions": 4.0, "fixed_collisions": True},
     {"collisions": COMMAND_LINE, "fixed_collisions": COMMAND_LINE}),
    ({"gun_p": [1000, 5000]}, ["gun=Pion", "gun_p=500MeV-2GeV", "gun_eta=-5--2", "gun_origin=random"],
     {"gun": "pion", "gun_p": (500.0, 2000.0), "gun_eta": (-5.0, -2.0), "gun_origin": "random"},
     {"gun": COMMAND_LINE, "gun_p": COMMAND_LINE, "gun_eta": COMMAND_LINE, "gun_origin": COMMAND_LINE}),
    ({"gun_particles": 30, "gun_origin": [0, 0.5, 10]}, ["gun_p=3TeV"],
     {"gun_particles": (30.0, 30.0), "gun_origin": "0,0.5,10", "gun_p": (3e6, 3e6)},
     {"gun_particles": FILE, "gun_origin": FILE, "gun_p": COMMAND_LINE}),
    ({"fixed_collisions": True, "collisions": 2}, [], {"fixed_collisions": True, "collisions": 2.0},
     {"fixed_collisions": FILE, "collisions": FILE}),
])
def test_values_and_their_sources(table, assignments, expected, sources):
    conditions, found = resolve(table, assignments)
    assert conditions.changed() == expected
    assert {name: source for name, source in found.items() if source != DEFAULT} == sources


@pytest.mark.parametrize("table, assignments, message", [
    ({}, ["hit_efficiency=1.01"], "'hit_efficiency' = 1.01 is outside [0, 1]"),
    ({}, ["noise_per_module=-1"], "'noise_per_module' = -1 is outside"),
    ({}, ["resolution=nan"], "'resolution' = nan is outside"),
    ({}, ["station_gap=25"], "'station_gap' = 25 is outside (0, 25)"),
    ({}, ["colisions=3"], "unknown condition 'colisions'"),
    ({}, ["collisions"], "name=value"),
    ({}, ["collisions=many"], "takes a number"),
    ({"fixed_collisions": 1}, [], "is a switch"),
    ({"overlap": [1, 2]}, [], "takes a number"),
    ({}, ["fixed_collisions=true", "collisions=2.5"], "whole number of at least 1"),
    ({}, ["gun_p=2-20"], "needs a unit"),
    ({}, ["gun_p=2-20eV"], "unknown unit 'eV'"),
    ({}, ["gun_eta=5-2"], "must run upwards"),
    ({}, ["gun_eta=2GeV"], "unknown unit"),
    ({}, ["gun_particles=1.5"], "whole numbers"),
    ({}, ["gun_particles=0-3"], "must run upwards within [1, 100000]"),
    ({}, ["gun_origin=1,2"], "not a point"),
    ({}, ["gun=photon"], "one of (none), pion"),
    ({}, ["gun=pion", "gun_p=0-1GeV"], "momenta must be above 0"),
])
def test_nonsense_is_refused_in_one_line(table, assignments, message):
    with pytest.raises(ConditionError) as raised:
        resolve(table, assignments)
    assert message in str(raised.value) and "\n" not in str(raised.value)


def test_defaults_and_conditions_give_different_pure_samples():
    noisy = with_values(noise_per_module=30.0)
    assert generate_event(4, 11) == generate_event(4, 11, Conditions())
    assert generate_event(4, 11, noisy) == generate_range(4, 10, 3, noisy)[1]
    assert len(generate_event(4, 11, noisy)["x"]) > len(generate_event(4, 11)["x"]) + 52 * 15


@pytest.mark.parametrize("efficiency", [0.0, 1.0])
def test_hit_efficiency_without_noise(efficiency):
    """Without noise, the ownerless hits are the fillers that keep a module from being empty; with full
    efficiency a particle on a straight line leaves a hit on every sensor its line crosses."""
    conditions = with_values(noise_per_module=0, hit_efficiency=efficiency, module_material=0, foil_material=0,
                             resolution=0, delta_rays=False, conversions=False)
    geometry = Geometry.of(conditions.station_gap, conditions.overlap, conditions.overlap_shape)
    for event in generate_range(3, 0, 3, conditions):
        modules = modules_of(event)
        counts = np.bincount(modules, minlength=52)
        assert all(counts[modules[h]] == 1 for h in ownerless_hits(event))
        particles = truth(event)
        if efficiency == 0.0:
            assert not any(p["hits"] for p in particles)
            continue
        tracked = [particle for particle in particles if len(particle["hits"]) >= 2]
        assert len(tracked) > 100
        for particle in tracked:
            assert missed_crossings(event, particle, geometry) == []


def missed_crossings(event, particle, geometry):
    """Modules between the particle's first and last hit that its line crosses well inside a sensor,
    yet that hold none of its hits."""
    hits = particle["hits"]
    x, y, z = (np.asarray(event[axis])[hits] for axis in "xyz")
    modules = modules_of(event)[hits]
    slope = 1.0 / math.sinh(particle["eta"])
    tx, ty = slope * math.cos(particle["phi"]), slope * math.sin(particle["phi"])
    missed = []
    for module in range(modules.min() + 1, modules.max()):
        if module in modules:
            continue
        mz = geometry.module_z[module]
        px, py = x[0] + tx * (mz - z[0]), y[0] + ty * (mz - z[0])
        plane = float(sensor_plane_offset(np.array([py]))[0])
        px, py = px + tx * plane, py + ty * plane
        margin = 0.05
        inside = [geometry.in_sensitive_area(np.array([module]), np.array([px + dx]), np.array([py + dy]))[0]
                  for dx in (-margin, margin) for dy in (-margin, margin)]
        if all(inside) and abs(abs(py) - OUTER_HALF_WIDTH / 2) > margin and abs(py) > margin:
            missed.append(module)
    return missed


@pytest.mark.parametrize("shape", ["strip", "sensors"])
def test_noise_per_module_is_the_mean_number_of_noise_hits(shape):
    conditions = with_values(noise_per_module=20, overlap_shape=shape, collisions=1, fixed_collisions=True)
    events = generate_range(8, 0, 20, conditions)
    noise = sum(len(ownerless_hits(event)) for event in events)
    assert noise / (20 * 52) == pytest.approx(20.0, rel=0.03)   # 20800 expected: 0.7% statistical


@pytest.mark.parametrize("collisions", [1, 5])
def test_fixed_collisions(collisions):
    conditions = with_values(collisions=collisions, fixed_collisions=True)
    for event in generate_range(2, 0, 12, conditions):
        assert event["description"].endswith(f": {collisions} collisions")


@pytest.mark.parametrize("gap", [1.0, 12.5])
def test_station_gap_moves_the_odd_modules(gap):
    event = generate_event(5, 0, with_values(station_gap=gap))
    z = np.asarray(event["z"])
    modules = modules_of(event)
    centre = [np.median(z[modules == m]) for m in range(52)]
    for station in range(26):
        assert abs(centre[2 * station + 1] - centre[2 * station] - gap) < 0.91  # hits sit on planes within 0.9 mm


def test_command_line_and_file(tmp_path: Path):
    config = tmp_path / "settings.toml"
    config.write_text("[generator]\nnoise_per_module = 0\nhit_efficiency = 1.0\n[track_following]\n")
    runner = CliRunner()
    out = tmp_path / "sample.json"
    done = runner.invoke(main, ["generate", "-n", "1", "--config", str(config), "-C", "collisions=2",
                                "-C", "fixed_collisions=true", "-o", str(out)])
    assert done.exit_code == 0, done.output
    assert "collisions=2, fixed_collisions=true, hit_efficiency=1)" in done.output
    refused = runner.invoke(main, ["run", str(out), "-C", "collisions=2"])
    assert refused.exit_code == 1 and "do not apply to input files" in refused.output
    config.write_text("[generator]\nhit_efficiency = 2\n")
    refused = runner.invoke(main, ["run", "-n", "1", "--config", str(config)])
    assert refused.exit_code == 1 and "'hit_efficiency' = 2 is outside" in refused.output


@pytest.mark.parametrize("suffix", [".parquet", ""])
def test_a_written_sample_records_its_seed_and_conditions(tmp_path, suffix):
    """From what the file records, the same events can be made again."""
    import json

    import pyarrow.parquet as pq

    from corvane_tools.event_files import load_events
    from corvane_tools.sample_generation import GENERATOR_METADATA

    out = tmp_path / f"sample{suffix}"
    done = CliRunner().invoke(main, ["generate", "-n", "12", "-s", "3", "--gun", "muon", "--particles", "2-9",
                                     "-C", "noise_per_module=1", "-o", str(out), "-q"])
    assert done.exit_code == 0, done.output
    record = (json.loads(pq.read_schema(out).metadata[GENERATOR_METADATA]) if suffix
              else json.loads((out / "manifest.json").read_text()))
    conditions, _ = resolve(record["conditions"])
    assert conditions.gun == "muon" and conditions.noise_per_module == 1.0
    again = generate_range(record["seed"], 0, 12, conditions)
    for read, made in zip(load_events([out], strict=True).events, again, strict=True):
        assert all(np.array_equal(read[axis], made[axis]) for axis in ("module_prefix_sum", "x", "y", "z"))
        assert [list(row) for row in read["montecarlo"]["particles"]] == made["montecarlo"]["particles"]
