import numpy as np
import pytest

import corvane
from corvane_tools.event_layouts import LAYOUTS, REORDERINGS, arranged, reordered, sized_event
from corvane_tools.generator import iter_events


def module_hits(data):
    """Per module, the sorted (x, y, z) triples."""
    prefix = data["module_prefix_sum"]
    return [sorted(zip(*(data[k][prefix[m]:prefix[m + 1]] for k in "xyz"))) for m in range(52)]


@pytest.mark.parametrize("hit_count", [52, 53, 700, 9000])
def test_sized_events_have_the_count_and_every_module(hit_count):
    data = sized_event(hit_count, seed=3)
    event = corvane.DetectorEvent.Event(data)
    assert event.number_of_hits == len(data["x"]) == hit_count
    assert data == sized_event(hit_count, seed=3)


@pytest.mark.parametrize("layout", LAYOUTS)
def test_layouts_keep_modules_and_planes(layout):
    data = sized_event(3000, seed=1)
    moved = arranged(data, layout, seed=2)
    assert moved["module_prefix_sum"] == data["module_prefix_sum"]
    planes = [sorted(set(h[2] for h in hits)) for hits in module_hits(data)]
    if layout == "uniform":
        assert all(set(h[2] for h in hits) <= set(p) for hits, p in zip(module_hits(moved), planes))
    else:
        assert module_hits(moved) == module_hits(data)
    if layout == "interleaved":
        prefix, z = moved["module_prefix_sum"], np.asarray(moved["z"])
        for m in range(52):
            zs = z[prefix[m]:prefix[m + 1]]
            # Neighbours share a plane only once the other planes have run out.
            repeats = np.flatnonzero(zs[1:] == zs[:-1])
            assert all(len(set(zs[r:])) == 1 for r in repeats)


def test_unknown_layout_and_too_few_hits_are_refused():
    with pytest.raises(ValueError, match="unknown layout"):
        arranged(sized_event(100), "sorted")
    with pytest.raises(ValueError, match="at least 52 hits"):
        sized_event(51)


@pytest.mark.parametrize("layout", REORDERINGS)
def test_reordered_events_keep_every_particles_hits(layout):
    data = next(iter_events(1, 4, 0))
    data["t"] = np.arange(len(data["x"]) + 3, dtype=np.float64)  # with times, and entries beyond the hits
    moved = reordered(data, layout, seed=5)
    assert moved["module_prefix_sum"] == data["module_prefix_sum"]
    assert module_hits(moved) == module_hits(data)
    assert list(moved["t"][-3:]) == list(data["t"][-3:])
    assert not np.array_equal(moved["x"], data["x"])

    def particle_hits(event):
        hits = event["montecarlo"]["description"].index("hits")
        return [[tuple(event[k][h] for k in "xyzt") for h in row[hits]] for row in event["montecarlo"]["particles"]]

    assert particle_hits(moved) == particle_hits(data)
    assert moved["montecarlo"]["description"] == data["montecarlo"]["description"]
    corvane.DetectorEvent.Event(moved)
