import array
import gc
import math
import random
import mmap
import struct
import time
import weakref

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import corvane
from corvane import DetectorEvent

Event, Hit = DetectorEvent.Event, DetectorEvent.Hit
InternalFailure = corvane.InternalFailure
BAD_RANGE = "Invalid hit indices: hit_end_index must be >= hit_start_index and within bounds of global_hits"


def one_hit_per_module(extra=0, **changes):
    """52 modules of one hit each; `extra` coordinates beyond the hits."""
    n = 52 + extra
    d = {
        "description": "one hit per module",
        "montecarlo": None,
        "module_prefix_sum": list(range(53)),
        "x": [0.5 * i for i in range(n)],
        "y": [-0.25 * i for i in range(n)],
        "z": [10.0 * i for i in range(n)],
    }
    d.update(changes)
    return d


def bits(value):
    return struct.pack("<d", value)


def snapshot(event):
    """Everything an event shows, floats compared bit for bit."""
    def hit(h):
        return (h.id, bits(h.x), bits(h.y), bits(h.z), bits(h.t), h.module_number, h.with_t)

    return (
        event.description,
        event.module_prefix_sum,
        event.number_of_hits,
        [[bits(z) for z in zs] for zs in event.module_zs],
        [hit(h) for h in event.hits],
        [(m.module_number, [hit(h) for h in m.hits()]) for m in event.modules],
    )


def outcome(build):
    try:
        return ("ok", snapshot(build()))
    except BaseException as error:  # InternalFailure derives from BaseException
        return (type(error), str(error))


@pytest.mark.parametrize("with_t", [False, True])
def test_one_hit_per_module(with_t):
    times = [100.0 + i for i in range(52)]
    d = one_hit_per_module(**({"t": times} if with_t else {}))
    event = Event(d)
    assert event.number_of_hits == 52
    assert event.description == "one hit per module"
    hits = event.hits
    assert [h.id for h in hits] == list(range(52))
    assert [h.module_number for h in hits] == list(range(52))
    assert all(h.with_t is with_t for h in hits)
    assert [h.t for h in hits] == (times if with_t else [0.0] * 52)
    assert event.module_zs == [[10.0 * i] for i in range(52)]
    modules = event.modules
    assert [m.module_number for m in modules] == list(range(52))
    assert [[h.id for h in m.hits()] for m in modules] == [[i] for i in range(52)]


def test_extra_coordinates_and_prefix_entries_are_kept_but_not_hits():
    prefix = list(range(53)) + [70, 80, 90, 100, 110, 120, 130]
    event = Event(one_hit_per_module(extra=8, module_prefix_sum=prefix))
    assert event.module_prefix_sum == prefix
    assert event.number_of_hits == len(event.hits) == 52


@pytest.mark.parametrize(
    "zs, expected, module_z",
    [
        ([10.0, 10.0], [10.0], "10.0"),
        ([0.0, -0.0], [0.0], "0.0"),
        ([-0.0, 0.0], [-0.0], "-0.0"),
        ([math.nan, 1.0, math.nan], [math.nan, 1.0], "NaN"),
        ([3.0, 1.0, 3.0, 2.0, 1.0], [3.0, 1.0, 2.0], "3.0"),
        ([math.inf, -math.inf, math.inf], [math.inf, -math.inf], "inf"),
        ([2.0, -0.0, 1.0, 0.0, 2.0, -0.0], [2.0, -0.0, 1.0], "2.0"),
        ([struct.unpack("<d", struct.pack("<Q", 0x7FF8000000000123))[0], 1.0, -math.nan, math.nan, 1.0],
         [struct.unpack("<d", struct.pack("<Q", 0x7FF8000000000123))[0], 1.0], "NaN"),
    ],
)
def test_module_zs_first_seen_distinct(zs, expected, module_z):
    n = len(zs)
    prefix = [0] + [n + i for i in range(52)]
    z = zs + [1000.0 + i for i in range(51)]
    d = one_hit_per_module(module_prefix_sum=prefix, x=[0.0] * len(z), y=[0.0] * len(z), z=z)
    event = Event(d)
    assert [bits(v) for v in event.module_zs[0]] == [bits(v) for v in expected]
    assert repr(event.modules[0]).splitlines()[1] == " At z: " + module_z


def first_seen_distinct(zs):
    """Reference: each value once, in first-seen order; 0.0 and -0.0 are one
    value, all NaNs are one value."""
    kept = []
    for z in zs:
        if not any(k == z or (math.isnan(k) and math.isnan(z)) for k in kept):
            kept.append(z)
    return kept


SIGNALLING_NAN = struct.unpack("<d", struct.pack("<Q", 0x7FF0000000000001))[0]


@pytest.mark.parametrize("distinct", [1, 4, 15, 16, 17, 40])
@pytest.mark.parametrize("seed", range(3))
def test_module_zs_in_any_order_match_first_seen_distinct(distinct, seed):
    # Few values in shuffled order, with zeros of both signs and NaNs among
    # them, just below and above the count that one pass keeps apart.
    rng = random.Random(seed)
    pool = [0.0, -0.0, math.nan, SIGNALLING_NAN, math.inf] + [rng.uniform(-500, 500) for _ in range(distinct)]
    values = pool[:distinct] if seed else pool[-distinct:]
    zs = [rng.choice(values) for _ in range(300)]
    d = crafted_z_event(zs)
    assert [bits(v) for v in Event(d).module_zs[0]] == [bits(v) for v in first_seen_distinct(zs)]


def crafted_z_event(zs):
    """Module 0 holds one hit per z value, the other modules one hit each."""
    n = len(zs)
    total = n + 51
    return one_hit_per_module(module_prefix_sum=[0] + [n + m for m in range(52)], x=[0.0] * total,
                              y=[0.0] * total, z=list(zs) + [float(m) for m in range(51)])


def test_distinct_z_values_take_no_longer_for_crafted_values():
    # Bit patterns that are all multiples of a hash table's bucket count would
    # put every value into one bucket of a table keyed by them.
    count = 100_000
    crafted = [struct.unpack("<d", struct.pack("<Q", k * 172933))[0] for k in range(1, count + 1)]
    timings = []
    for zs in ([float(k) for k in range(1, count + 1)], crafted):
        d = crafted_z_event(zs)
        start = time.perf_counter()
        event = Event(d)
        timings.append(time.perf_counter() - start)
        assert event.module_zs[0] == zs
    ordinary, crafted_time = timings
    assert crafted_time < 10 * ordinary + 0.5


def test_module_zs_docstring():
    assert Event.module_zs.__doc__ == "For each module, a vector of unique z values."


def without(key):
    d = one_hit_per_module()
    del d[key]
    return d


def with_prefix(prefix, n):
    return one_hit_per_module(extra=n - 52, module_prefix_sum=prefix)


@pytest.mark.parametrize(
    "json_data, error, message",
    [
        ([], TypeError, "'list' object cannot be converted to 'PyDict'"),
        (None, TypeError, "'NoneType' object cannot be converted to 'PyDict'"),
        *[(without(k), InternalFailure, None) for k in ("description", "montecarlo", "module_prefix_sum", "x", "y", "z")],
        (one_hit_per_module(description=5), TypeError, "'int' object cannot be converted to 'PyString'"),
        (one_hit_per_module(module_prefix_sum="0123"), TypeError, "Can't extract `str` to `Vec`"),
        (one_hit_per_module(module_prefix_sum=[0, 1.0] + list(range(2, 53))), TypeError,
         "'float' object cannot be interpreted as an integer"),
        (one_hit_per_module(module_prefix_sum=[-1] + list(range(1, 53))), OverflowError, None),
        (one_hit_per_module(module_prefix_sum=list(range(52)) + [2**64]), OverflowError, None),
        (one_hit_per_module(module_prefix_sum=list(range(52))), InternalFailure, None),
        (with_prefix(list(range(1, 54)), 60), ValueError, BAD_RANGE),
        (with_prefix([0, 1, 1] + list(range(2, 52)), 60), InternalFailure, None),  # empty module
        (with_prefix([0, 5, 3] + list(range(6, 56)), 60), InternalFailure, None),  # backwards range
        # A range ending beyond the hits made is met before a later empty module.
        (with_prefix([500, 501, 0] + list(range(1, 51)), 501), ValueError, BAD_RANGE),
        (with_prefix(list(range(52)) + [2**63], 52), InternalFailure, None),
        (with_prefix(list(range(52)) + [2**64 - 1], 52), InternalFailure, None),
        (one_hit_per_module(y=[0.0] * 51), InternalFailure, None),
        (one_hit_per_module(t=[0.0] * 51), InternalFailure, None),
        (one_hit_per_module(t=None), TypeError, "'NoneType' object cannot be converted to 'Sequence'"),
        (one_hit_per_module(x="abc"), TypeError, "Can't extract `str` to `Vec`"),
        (one_hit_per_module(z=5), TypeError, "'int' object cannot be converted to 'Sequence'"),
        (one_hit_per_module(y=[0.0, "a"] + [0.0] * 50), TypeError, "must be real number, not str"),
        # The steps run in order: the first failure wins.
        ({"description": 1}, TypeError, "'int' object cannot be converted to 'PyString'"),
        ({"description": "", "montecarlo": 0, "module_prefix_sum": "x"}, TypeError, "Can't extract `str` to `Vec`"),
        (one_hit_per_module(module_prefix_sum=[0] * 52, x=None), InternalFailure, None),
        (one_hit_per_module(x=[0.0] * 10, y=None), TypeError, "'NoneType' object cannot be converted to 'Sequence'"),
        (one_hit_per_module(x=[0.0] * 10, t=None), TypeError, "'NoneType' object cannot be converted to 'Sequence'"),
    ],
)
def test_construction_failures(json_data, error, message):
    with pytest.raises(error) as caught:
        Event(json_data)
    assert type(caught.value) is error
    if message is not None:
        assert str(caught.value) == message


@pytest.mark.parametrize("value", [0, 1, 2**30 - 1, 2**30, 2**31, 2**60, 2**64 - 1, True, -1, -(2**30) + 1, -(2**30)])
def test_prefix_entries_on_integer_digit_boundaries(value):
    # Small ints are read from their digits, larger ones by the interpreter:
    # both give the same values and the same errors.
    d = one_hit_per_module(module_prefix_sum=list(range(53)) + [value])
    if value < 0:
        with pytest.raises(OverflowError, match="^can't convert negative int to unsigned$"):
            Event(d)
    else:
        assert Event(d).module_prefix_sum[53] == value


def test_event_keyword_and_count_errors():
    assert Event(json_data=one_hit_per_module()).number_of_hits == 52
    with pytest.raises(TypeError, match=r"^Event.__new__\(\) missing 1 required positional argument: 'json_data'$"):
        Event()


@pytest.mark.parametrize("montecarlo", [None, {"particles": []}, object()])
def test_montecarlo_is_the_stored_object(montecarlo):
    event = Event(one_hit_per_module(montecarlo=montecarlo))
    assert event.montecarlo is montecarlo
    assert event.montecarlo is event.montecarlo


def test_montecarlo_changes_are_shared():
    mc = {"particles": []}
    event = Event(one_hit_per_module(montecarlo=mc))
    event.montecarlo["particles"].append(1)
    assert mc["particles"] == [1]


def test_cycle_through_montecarlo_is_collected():
    class Marker:
        pass

    mc = [Marker()]
    mc.append(Event(one_hit_per_module(montecarlo=mc)))
    marker = weakref.ref(mc[0])
    del mc
    gc.collect()
    assert marker() is None


class Stubborn(dict):
    def __getitem__(self, key):
        return [0.0] * 52

    def __missing__(self, key):
        return [0.0] * 52

    def __contains__(self, key):
        return True


def test_dict_subclass_is_read_through_its_storage():
    d = Stubborn(one_hit_per_module())
    event = Event(d)  # __contains__ claims "t"; the storage has none
    assert event.hits[3].with_t is False and event.hits[3].z == 30.0
    del d["y"]
    with pytest.raises(InternalFailure):
        Event(d)


def test_reads_build_new_objects():
    d = one_hit_per_module()
    event = Event(d)
    assert event.hits[0] is not event.hits[0] and event.hits[0] != event.hits[0]
    assert event.hits is not event.hits
    assert event.modules[0] is not event.modules[0]
    for read in ("hits", "modules", "module_zs", "module_prefix_sum"):
        value = getattr(event, read)
        value.clear()
        assert len(getattr(event, read)) > 0
    event.module_zs[0].append(1.0)
    assert event.module_zs[0] == [0.0]
    d["x"][0] = 99.0
    d["module_prefix_sum"][52] = 0
    assert event.hits[0].x == 0.0 and event.number_of_hits == 52


def test_dictionary_changed_during_conversion():
    # A conversion that drops the list being read must not leave it dangling.
    d = one_hit_per_module()

    class Dropper:
        def __float__(self):
            d["x"] = None
            d.pop("module_prefix_sum", None)
            gc.collect()
            return 7.0

    d["x"] = [Dropper()] + [float(i) for i in range(1, 52)]
    assert Event(d).hits[0].x == 7.0


class Resizing:
    """A number whose conversion lengthens or shortens the list it sits in."""

    def __init__(self, change):
        self.change = change
        self.values = None

    def __float__(self):
        self.change(self.values)
        return 0.5


@pytest.mark.parametrize("change, length", [
    (lambda xs: xs.extend(float(i) for i in range(100, 400)), 21),   # moves the items: read where they now are
    (lambda xs: xs.__delitem__(slice(30, None)), 60),                # too short now for 52 hits
    (lambda xs: xs.__delitem__(slice(5, None)), 60),                 # ends before the number converted
])
def test_coordinate_list_resized_while_read(change, length):
    resizing = Resizing(change)
    x = [float(i) for i in range(length)]
    x[10] = resizing
    resizing.values = x
    d = one_hit_per_module(extra=length - 52 if length > 52 else 0, x=x)
    built = outcome(lambda: Event(d))
    # What reading the list item by item, as it changes, gives.
    read = [0.5 if v is resizing else v for v in x]
    if len(read) < 52:
        assert built[0] is InternalFailure
    else:
        assert built[0] == "ok" and [h[1] for h in built[1][4]] == [bits(v) for v in read[:52]]


def test_sequence_with_a_lying_length():
    class Lying:
        def __len__(self):
            return 2**60

        def __getitem__(self, i):
            if i >= 52:
                raise IndexError(i)
            return float(i)

    assert Event(one_hit_per_module(x=Lying())).hits[51].x == 51.0


def test_hit_count_beyond_32_bit_ids():
    # 2**31 zero doubles, mapped but never touched.
    try:
        mapping = mmap.mmap(-1, 8 * 2**31, flags=mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS | 0x4000)
    except OSError:
        pytest.skip("no room for the mapping")
    column = memoryview(mapping).cast("d")
    try:
        d = one_hit_per_module(module_prefix_sum=list(range(52)) + [2**31], x=column, y=column, z=column)
        with pytest.raises(InternalFailure, match="2147483647"):
            Event(d)
    finally:
        column.release()
        mapping.close()


# ---- NumPy and other buffers give what iterating them gives --------------

SPECIAL = [math.nan, -0.0, 0.0, math.inf, -math.inf, 1e-310, -1.5, 5e300]


def columns(n):
    values = np.array([SPECIAL[i % len(SPECIAL)] * (1 + i) for i in range(n)])
    return {"x": values, "y": values[::-1].copy(), "z": np.repeat(np.arange(n // 2, dtype=float), 2)[:n]}


CONVERSIONS = {
    "float64": lambda a: a,
    "float32": lambda a: a.astype(np.float32),
    "big-endian": lambda a: a.astype(">f8"),
    "strided": lambda a: np.repeat(a, 2)[::2],
    "2-d column": lambda a: a.reshape(-1, 1),
    "2-d": lambda a: a.reshape(2, -1),
    "int64": lambda a: np.nan_to_num(a).astype(np.int64),
    "array.array": lambda a: array.array("d", a.tolist()),
    "memoryview": lambda a: memoryview(a),
    "too short": lambda a: a[:-1],
}


@pytest.mark.filterwarnings("ignore::DeprecationWarning", "ignore::RuntimeWarning")
@pytest.mark.parametrize("key", ["x", "y", "z", "t"])
@pytest.mark.parametrize("conversion", CONVERSIONS)
def test_buffers_match_iteration(key, conversion):
    n = 104
    d = one_hit_per_module(module_prefix_sum=list(range(0, 105, 2)), t=np.linspace(-1, 1, n), **columns(n))
    d[key] = CONVERSIONS[conversion](d[key])
    as_items = dict(d, **{key: list(d[key])})
    as_floats = dict(d, **{key: [float(v) for v in d[key]]}) if getattr(d[key], "ndim", 1) == 1 else as_items
    results = [outcome(lambda: Event(variant)) for variant in (d, as_items, as_floats)]  # noqa: B023 (called at once)
    assert results[0] == results[1] == results[2]
    if conversion in ("float64", "memoryview", "big-endian", "strided"):
        assert results[0][0] == "ok"


def test_numpy_and_lists_give_identical_events():
    d = one_hit_per_module(module_prefix_sum=list(range(0, 105, 2)), t=np.linspace(-1, 1, 104), **columns(104))
    as_lists = {k: (v.tolist() if isinstance(v, np.ndarray) else v) for k, v in d.items()}
    assert snapshot(Event(d)) == snapshot(Event(as_lists))


# ---- invariants over random events -----------------------------------------

Z_POOL = [0.0, -0.0, math.nan, 1.0, 2.5, -7.0]


@st.composite
def event_dicts(draw):
    counts = draw(st.lists(st.integers(1, 4), min_size=52, max_size=52))
    prefix = [0]
    for c in counts:
        prefix.append(prefix[-1] + c)
    n = prefix[-1]
    extra = draw(st.integers(0, 3))
    floats = st.floats(allow_nan=True, allow_infinity=True, width=64)
    d = {
        "description": draw(st.text(max_size=5)),
        "montecarlo": draw(st.sampled_from([None, {}, [1]])),
        "module_prefix_sum": prefix + draw(st.lists(st.integers(0, 2**64 - 1), max_size=3)),
        "x": draw(st.lists(floats, min_size=n + extra, max_size=n + extra)),
        "y": draw(st.lists(floats, min_size=n + extra, max_size=n + extra)),
        "z": draw(st.lists(st.sampled_from(Z_POOL), min_size=n + extra, max_size=n + extra)),
    }
    if draw(st.booleans()):
        d["t"] = draw(st.lists(floats, min_size=n + extra, max_size=n + extra))
    if draw(st.booleans()):
        d.update({k: np.array(d[k], dtype=float) for k in ("x", "y", "z", "t") if k in d})
    return d


def distinct_first_seen(values):
    kept = []
    for v in values:
        if not any(v == k or (math.isnan(v) and math.isnan(k)) for k in kept):
            kept.append(v)
    return kept


@settings(max_examples=60, deadline=None)
@given(event_dicts())
def test_event_invariants(d):
    event = Event(d)
    prefix = list(d["module_prefix_sum"])
    n = prefix[52]
    has_t = "t" in d
    assert event.module_prefix_sum == prefix and event.number_of_hits == n
    assert event.montecarlo is d["montecarlo"]
    hits = event.hits
    assert len(hits) == n
    for i, h in enumerate(hits):
        assert h.id == i and prefix[h.module_number] <= i < prefix[h.module_number + 1]
        assert (bits(h.x), bits(h.y), bits(h.z)) == (bits(d["x"][i]), bits(d["y"][i]), bits(d["z"][i]))
        assert h.with_t is has_t and bits(h.t) == bits(d["t"][i] if has_t else 0.0)
    for m, module in enumerate(event.modules):
        assert module.module_number == m
        assert [h.id for h in module.hits()] == list(range(prefix[m], prefix[m + 1]))
        expected = distinct_first_seen([float(z) for z in d["z"][prefix[m]:prefix[m + 1]]])
        assert [bits(z) for z in event.module_zs[m]] == [bits(z) for z in expected]
        assert f"Number of hits: {prefix[m + 1] - prefix[m]}" in repr(module)
    assert snapshot(Event(d)) == snapshot(event)
