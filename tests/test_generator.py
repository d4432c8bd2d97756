import numpy as np
import pytest

import corvane
from corvane_tools.event_format import check_event
from corvane_tools.conditions import with_values
from corvane_tools.generator import (BLOCK_EVENTS, CROWDED_BLOCK_EVENTS, MC_COLUMNS, events_per_block, generate_event,
                                     generate_events, generate_range)
from corvane_tools.particles import decay_products

SEEDS = [0, 1, 7, 123]


@pytest.fixture(scope="module", params=SEEDS)
def event(request):
    return generate_event(request.param, 3)


def particles(event):
    record = event["montecarlo"]
    assert record["description"] == list(MC_COLUMNS)
    return [dict(zip(record["description"], row)) for row in record["particles"]]


def test_event_is_accepted_everywhere(event):
    built = corvane.DetectorEvent.Event(event)
    assert built.number_of_hits == len(event["x"]) == len(event["y"]) == len(event["z"])
    assert all(b > a for a, b in zip(event["module_prefix_sum"], event["module_prefix_sum"][1:]))
    check_event(event)
    result = corvane.Validator.export_validation_to_json([event], [[]], False)
    assert {c["label"] for c in result["categories"]} >= {"velo", "long"}


def test_hits_lie_in_their_module(event):
    prefix = event["module_prefix_sum"]
    z = np.asarray(event["z"])
    x = np.asarray(event["x"])
    y = np.asarray(event["y"])
    module_z = [z[prefix[m]:prefix[m + 1]] for m in range(52)]
    # each module's hits sit on a few planes within a millimetre, modules in z order
    assert all(0 < len(np.unique(zs)) <= 4 and np.ptp(zs) < 1.0 for zs in module_z)
    assert all(module_z[m].max() < module_z[m + 1].min() for m in range(51))
    radius = np.hypot(x, y)
    assert radius.min() > 5.0 and np.abs(x).max() < 40.0 and np.abs(y).max() < 40.0


def test_monte_carlo_hits_are_valid_and_unshared(event):
    owned = np.concatenate([p["hits"] for p in particles(event)])
    assert owned.min() >= 0 and owned.max() < len(event["x"])
    assert len(np.unique(owned)) == len(owned)  # one particle per hit; the rest is noise
    assert len(owned) <= len(event["x"])
    keys = [p["key"] for p in particles(event)]
    assert len(set(keys)) == len(keys)


def test_flags_follow_acceptance_and_decays(event):
    for p in particles(event):
        assert p["hasVelo"] == (len(p["hits"]) >= 3)
        assert p["isLong"] == (p["hasVelo"] and p["hasScifi"])
        assert not (p["isDown"] and p["hasVelo"])
        assert p["charge"] in (-1, 1) and abs(p["pid"]) in (11, 13, 211, 321, 2212)
        lepton = abs(p["pid"]) in (11, 13)
        assert (p["pid"] > 0) == ((p["charge"] > 0) != lepton)   # e- and mu- have positive codes
        assert not (p["fromStrangeDecay"] and (p["fromBeautyDecay"] or p["fromCharmDecay"]))
        assert p["pt"] <= p["p"] and (p["hasScifi"] == 0 or p["eta"] > 0)
        if p["fromBeautyDecay"] or p["fromCharmDecay"] or p["fromStrangeDecay"]:
            assert abs(p["pid"]) in (211, 321, 2212)  # decays here give hadrons only


def test_decays_are_present_across_a_sample():
    rows = [p for e in generate_events(6, 5) for p in particles(e)]
    for flag in ("fromBeautyDecay", "fromCharmDecay", "fromStrangeDecay"):
        assert any(p[flag] for p in rows), flag
    assert any(p["fromBeautyDecay"] and p["fromCharmDecay"] for p in rows)  # B -> D -> hadrons


@pytest.mark.parametrize("seed, conditions", [(0, None), (42, None), (5, with_values(collisions=30))],
                         ids=["seed 0", "seed 42", "crowded"])
def test_seed_determinism(seed, conditions):
    size = events_per_block(conditions)
    assert size == (BLOCK_EVENTS if conditions is None else CROWDED_BLOCK_EVENTS) and BLOCK_EVENTS % size == 0
    last = size + 2                 # an event of the second block

    def events(count):
        return generate_events(count, seed, conditions)

    def event(index, seed=seed):
        return generate_event(seed, index, conditions)
    assert event(2) == event(2)
    # an event does not depend on the sample size
    assert events(3)[2] == event(2) == events(last + 1)[2]
    assert events(last + 1)[last] == event(last)
    assert generate_range(seed, size - 2, 5, conditions) == events(size + 3)[size - 2:]
    assert generate_range(seed, size - 2, 5, conditions) == [event(i) for i in range(size - 2, size + 3)]
    assert event(2)["x"] != event(2, seed + 1)["x"]
    assert event(2)["x"] != event(3)["x"]


def test_sample_sizes_are_realistic():
    counts = [e["module_prefix_sum"][52] for e in generate_events(20, 1)]
    assert 2000 <= np.median(counts) <= 6000


@pytest.mark.parametrize("seed", [3, 8])
def test_each_b_decay_is_followed_by_its_d0_decay(seed):
    # Only beauty among the heavy flavours: the B+ -> D0bar pi+ decays' pions, then their D0s' kaon-pion pairs
    # in the same order, then the same for B+ -> D0bar 3 pi.
    made = decay_products(np.random.default_rng(seed), np.zeros((300, 3)), 1.0, 0.0)
    beauty = np.flatnonzero(made.from_beauty)
    assert not made.from_strange[beauty].any()
    charm = made.from_charm[beauty]
    runs = np.split(beauty, np.flatnonzero(np.diff(charm)) + 1)
    assert len(runs) == 4 and [bool(made.from_charm[run[0]]) for run in runs] == [False, True, False, True]
    for pions, pairs, per_b in ((runs[0], runs[1], 1), (runs[2], runs[3], 3)):
        bs, kaons, d_pions = pions.reshape(-1, per_b), pairs[0::2], pairs[1::2]
        assert len(bs) == len(kaons) == len(d_pions) > 10
        assert (np.abs(made.pid[kaons]) == 321).all() and (np.abs(made.pid[d_pions]) == 211).all()
        # the D0bar of a B+ gives K+ pi-: the kaon's charge is the B's, the pion's the opposite
        assert (made.charge[kaons] == made.charge[bs[:, 0]]).all()
        assert (made.charge[d_pions] == -made.charge[kaons]).all()
        assert (made.collision[kaons] == made.collision[bs[:, 0]]).all()
        assert (made.origin[kaons] == made.origin[d_pions]).all()
        assert (made.origin[kaons] != made.origin[bs[:, 0]]).any()   # the D0 flew
        assert (made.origin[bs] == made.origin[bs[:, :1]]).all()
