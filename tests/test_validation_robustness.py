"""Inputs that change under the reader's feet, and other object kinds."""
import numpy as np

from corvane import Validator
from validation_builders import event, particle, track


class Sneaky:
    """An integer whose conversion empties the containers it came from."""

    def __init__(self, value, *victims):
        self.value, self.victims = value, victims

    def __index__(self):
        for victim in self.victims:
            victim.clear()
        return self.value


class ShrinkingFloat(float):
    def __new__(cls, value, victim):
        made = super().__new__(cls, value)
        made.victim = victim
        return made

    def __float__(self):
        self.victim.clear()
        return 1.0


def test_rows_emptied_while_read_are_read_as_given():
    data = event(4)
    rows = []
    montecarlo = {"description": ["key", "hits", "pid"], "particles": rows}
    hits = [0, 1]
    rows.append([Sneaky(5, rows, hits, montecarlo), hits, 13])
    rows.append([6, [2, 3], 13])
    data["montecarlo"] = montecarlo
    result = Validator.export_validation_to_json([data], [[track(0, 1), track(2, 3)]], False)
    # The rows were taken before any value was read; the hit list, read after
    # the key, was emptied by then.
    assert result["categories"][0]["n_particles"] == 2 and result["total_ghosts"] == 1


def test_event_emptied_while_its_coordinates_convert():
    data = event(3, [particle(1, [0, 1])])
    data["x"] = [ShrinkingFloat(0.0, data), 1.0, 2.0]
    result = Validator.export_validation_to_json([data], [[track(0, 1)]], False)
    assert result["total_tracks"] == 1  # the dict was read before it was emptied


def test_numpy_columns_and_hit_arrays():
    data = event(4, [particle(np.uint64(9), np.array([0, 1, 2], dtype=np.int64), p=np.float64(6000.0))])
    for axis in "xyz":
        data[axis] = np.array(data[axis], dtype=np.float64)
    assert Validator.compute_tracking_efficiency([data], [[track(0, 1, 2)]], "long>5GeV") == 1.0


def test_dict_subclasses_are_read_from_their_storage():
    class Loud(dict):
        def __getitem__(self, key):
            raise AssertionError("looked up through __getitem__")

    data = Loud(event(3))
    data["montecarlo"] = Loud(description=["key", "hits"], particles=[[1, [0, 1]]])
    assert Validator.compute_tracking_efficiency([data], [[track(0, 1)]], "velo") == 1.0
