"""Hit and Module: construction, attributes, reprs and copy semantics."""
import math

import pytest

from corvane import DetectorEvent

Hit, Module, Track = DetectorEvent.Hit, DetectorEvent.Module, DetectorEvent.Track

DIAGNOSTIC_4 = "Hit { id: 4, x: 1.0, y: 2.0, z: 3.0, t: 0.0, module_number: -1, with_t: false }"


def fields(hit):
    return (hit.id, hit.x, hit.y, hit.z, hit.t, hit.module_number, hit.with_t)


@pytest.mark.parametrize(
    "args, expected_fields, expected_repr",
    [
        ((1, 2, 3, 4), (4, 1.0, 2.0, 3.0, 0.0, -1, False), "#4 module -1 {1, 2, 3}"),
        ((0.5, -0.0, 1e-7, 0, 2, 12.5), (0, 0.5, -0.0, 1e-7, 12.5, 2, False), "#0 module 2 {0.5, -0, 0.0000001}"),
        ((0.5, 0.0, 1.0, 0, 2, None, True), (0, 0.5, 0.0, 1.0, 0.0, 2, True), "#0 module 2 {0.5, 0, 1, 0}"),
        ((1.5, -2, 100, 7, 3, 0.25, True), (7, 1.5, -2.0, 100.0, 0.25, 3, True), "#7 module 3 {1.5, -2, 100, 0.25}"),
        ((1, 2, 3, -5, None, None, None), (-5, 1.0, 2.0, 3.0, 0.0, -1, False), "#-5 module -1 {1, 2, 3}"),
        ((1, 2, 3, 2**31 - 1, -(2**31)), (2**31 - 1, 1.0, 2.0, 3.0, 0.0, -(2**31), False), None),
    ],
)
def test_hit_construction(args, expected_fields, expected_repr):
    hit = Hit(*args)
    assert fields(hit) == expected_fields
    assert math.copysign(1, hit.y) == math.copysign(1, expected_fields[2])
    if expected_repr is not None:
        assert repr(hit) == str(hit) == expected_repr


def test_hit_accepts_non_finite_values():
    hit = Hit(float("nan"), float("inf"), float("-inf"), 1)
    assert math.isnan(hit.x) and hit.y == math.inf and hit.z == -math.inf
    assert repr(hit) == "#1 module -1 {NaN, inf, -inf}"


def test_hit_types():
    hit = Hit(1, 2, 3, 4)
    assert [type(v) for v in fields(hit)] == [int, float, float, float, float, int, bool]


def module_repr(number, z, hits_text, count):
    return f"module {number}:\n At z: {z}\n Number of hits: {count}\n Hits: {hits_text}"


def test_module_repr_example():
    module = Module(3, 100, 0, 1, [Hit(1, 2, 3, 4)])
    assert repr(module) == str(module) == module_repr(3, "100.0", f"[{DIAGNOSTIC_4}]", 1)


def test_module_repr_lists_only_its_range():
    hits = [Hit(i, 0, 0, i) for i in range(4)]
    text = repr(Module(0, 1.5, 1, 3, hits))
    assert text.count("Hit {") == 2 and "id: 1," in text and "id: 2," in text
    assert text.endswith("with_t: false }]") and "Number of hits: 2" in text


@pytest.mark.parametrize(
    "start, end, length, valid",
    [
        (0, 0, 0, True),
        (2, 2, 3, True),
        (0, 3, 3, True),
        (0, 4, 3, False),
        (5, 4, 10, False),
        (3, 3, 3, True),
        (4, 4, 3, False),
    ],
)
def test_module_range_check(start, end, length, valid):
    hits = [Hit(i, 0, 0, i) for i in range(length)]
    if valid:
        module = Module(1, 0, start, end, hits)
        assert [h.id for h in module.hits()] == list(range(start, end))
        if start == end:
            assert repr(module).endswith("\n Hits: []")
    else:
        with pytest.raises(ValueError) as info:
            Module(1, 0, start, end, hits)
        assert str(info.value) == (
            "Invalid hit indices: hit_end_index must be >= hit_start_index and within bounds of global_hits"
        )


def test_module_copies_its_hits():
    hits = [Hit(0, 0, 0, 0), Hit(1, 1, 1, 1)]
    module = Module(2, 0, 0, 2, hits)
    hits.clear()
    returned = module.hits()
    returned.append(Hit(9, 9, 9, 9))
    assert [h.id for h in module.hits()] == [0, 1]
    assert module.hits()[0] is not module.hits()[0]
    assert module.module_number == 2


def test_module_has_no_other_attributes():
    module = Module(2, 0, 0, 0, [])
    for name in ("z", "hit_start_index", "hit_end_index", "global_hits"):
        assert not hasattr(module, name)


def test_module_number_limits():
    assert Module(2**32 - 1, 0, 0, 0, []).module_number == 2**32 - 1
    with pytest.raises(OverflowError, match="out of range integral type conversion attempted"):
        Module(2**32, 0, 0, 0, [])
