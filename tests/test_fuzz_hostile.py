"""Hostile objects at every entry point: numbers of every kind, objects whose
conversion hooks raise, lie or empty the containers they came from, dict
subclasses, deep Monte Carlo records and event dictionaries at every
validity boundary. Each call must return or raise; never crash, never leave
an error behind a result. Under tools/sanitize.sh this also checks memory.

CORVANE_FUZZ_EXAMPLES sets the examples per test (default small for CI);
`bash tools/fuzz.sh` runs the long campaign and prints the number of calls
(appended to the file named by CORVANE_FUZZ_REPORT).
"""
import copy
import fractions
import os
import pickle
import random

import numpy as np
import pytest
from hypothesis import HealthCheck, given, seed, settings, strategies as st

import corvane
from corvane import DetectorEvent, ReconstructionAlgorithms, Validator
from corvane_tools import arrays, reports

Hit, Track, Module, Event = DetectorEvent.Hit, DetectorEvent.Track, DetectorEvent.Module, DetectorEvent.Event
TrackFollowing = ReconstructionAlgorithms.TrackFollowing
SearchByTripletTrie, GraphDFS = ReconstructionAlgorithms.SearchByTripletTrie, ReconstructionAlgorithms.GraphDFS

EXAMPLES = int(os.environ.get("CORVANE_FUZZ_EXAMPLES", "40"))
FUZZ = settings(max_examples=EXAMPLES, suppress_health_check=list(HealthCheck), database=None)


class Hostile(Exception):
    pass


class HostileBase(BaseException):
    pass


class HostileMemoryError(MemoryError):
    """Raised by hooks; any other MemoryError means an input asked for a huge allocation."""


ALLOWED = (TypeError, ValueError, OverflowError, KeyError, IndexError, RuntimeError, HostileMemoryError, RecursionError,
           KeyboardInterrupt, Hostile, HostileBase, corvane.InternalFailure)
calls = 0


def call(function, *args, **kwargs):
    """Runs one entry point; anything but an allowed exception fails the test
    (SystemError in particular: a result returned with an error set)."""
    global calls
    calls += 1
    try:
        return function(*args, **kwargs)
    except ALLOWED:
        return None


@pytest.fixture(scope="module", autouse=True)
def report_calls():
    yield
    if os.environ.get("CORVANE_FUZZ_REPORT"):
        with open(os.environ["CORVANE_FUZZ_REPORT"], "a") as report:
            report.write(f"{calls}\n")


# ---- hostile building blocks --------------------------------------------------

# What a conversion hook does before (or instead of) answering.
ACTIONS = ["answer", "answer", "answer", "raise", "raise_base", "interrupt", "memory", "empty_containers",
           "wrong_type"]
RAISED = {"raise": Hostile, "raise_base": HostileBase, "interrupt": KeyboardInterrupt, "memory": HostileMemoryError}


class Victims:
    """The containers of the current example, which hooks may empty."""
    containers = []


def act(action):
    if action in RAISED:
        raise RAISED[action]("hostile")
    if action == "empty_containers":
        for container in Victims.containers:
            container.clear()


class Number:
    """Converts through __float__ and __index__ after its action."""

    def __init__(self, value, action):
        self.value, self.action = value, action

    def __float__(self):
        act(self.action)
        return "no" if self.action == "wrong_type" else float(self.value)

    def __index__(self):
        act(self.action)
        return 1.5 if self.action == "wrong_type" else int(self.value)

    def __repr__(self):
        return f"Number({self.value!r}, {self.action!r})"


class Sequence:
    """A sequence whose __len__ and __getitem__ act first; the length may lie."""

    def __init__(self, items, len_action, item_action, length_lie):
        self.items, self.len_action, self.item_action, self.length_lie = items, len_action, item_action, length_lie

    def __len__(self):
        act(self.len_action)
        return max(0, len(self.items) + self.length_lie)

    def __getitem__(self, index):
        act(self.item_action)
        return self.items[index]

    def __repr__(self):
        return f"Sequence({self.items!r})"


class LoudDict(dict):
    """Item access and defaults that the readers must not use."""

    def __getitem__(self, key):
        raise Hostile("overridden item access")

    def __missing__(self, key):
        return [0.0] * 60

    def get(self, key, default=None):
        raise Hostile("overridden get")


numbers = st.one_of(
    st.integers(min_value=-(2**70), max_value=2**70),
    st.sampled_from([0, 1, -1, 2**31 - 1, 2**31, -(2**31) - 1, 2**32 - 1, 2**32, 2**63 - 1, 2**63, 2**64 - 1, 2**64]),
    st.floats(allow_nan=True, allow_infinity=True),
    st.sampled_from([0.0, -0.0, 5000.0, -5000.5, 1e308, 5e-324]),
    st.booleans(),
    st.builds(np.float32, st.floats(width=32, allow_nan=True)),
    st.builds(np.int64, st.integers(-(2**63), 2**63 - 1)),
    st.builds(np.uint64, st.integers(0, 2**64 - 1)),
    st.builds(fractions.Fraction, st.integers(-10, 10), st.integers(1, 7)),
    st.complex_numbers(max_magnitude=10),
    st.builds(Number, st.integers(-(2**65), 2**65) | st.floats(allow_nan=False, allow_infinity=False),
              st.sampled_from(ACTIONS)),
)


def sequences_of(items):
    plain = st.lists(items, max_size=8)
    return st.one_of(
        plain,
        plain.map(tuple),
        st.builds(Sequence, plain, st.sampled_from(ACTIONS[:6]), st.sampled_from(ACTIONS[:6]),
                  st.sampled_from([0, 0, 1, -1, 10**6])),
        st.builds(lambda xs: np.asarray(xs, dtype=np.float64), st.lists(st.floats(), max_size=8)),
    )


def deep(value, depth):
    for _ in range(depth):
        value = [value]
    return value


anything = st.one_of(
    numbers, st.none(), st.text(max_size=4), st.binary(max_size=3),
    sequences_of(numbers), st.dictionaries(st.text(max_size=2), numbers, max_size=2),
    st.builds(deep, numbers, st.sampled_from([10, 1000, 20000])),
)


# ---- event dictionaries at the validity boundaries ---------------------------

@st.composite
def event_dicts(draw):
    """A valid event dictionary with one or more things pushed over an edge."""
    rng = random.Random(draw(st.integers(0, 2**32)))
    prefix = [0]
    for _ in range(52):
        prefix.append(prefix[-1] + rng.choice([1, 1, 2, 3]))
    n = prefix[-1]
    columns = {axis: [rng.uniform(-50, 50) for _ in range(n)] for axis in "xyz"}
    for _ in range(draw(st.integers(0, 3))):  # a few odd numbers among the coordinates
        columns[draw(st.sampled_from("xyz"))][draw(st.integers(0, n - 1))] = draw(numbers)
    data = {"description": "fuzz", "montecarlo": draw(montecarlos(n)), "module_prefix_sum": prefix, **columns}
    if draw(st.booleans()):
        data["t"] = [rng.uniform(0, 10) for _ in range(n)]
    for _ in range(draw(st.integers(0, 3))):
        edge = draw(st.sampled_from(EDGES))
        edge(data, draw)
    if draw(st.integers(0, 9)) == 0:
        data = LoudDict(data)
    return data


def _prefix(change):
    def edge(data, draw):
        entries = data.get("module_prefix_sum", range(53))
        plain = [v if type(v) is int else i for i, v in enumerate(entries)] if isinstance(entries, list) else []
        data["module_prefix_sum"] = change(plain or list(range(53)), draw)
    return edge


def _column(data, draw):
    axis = draw(st.sampled_from("xyzt"))
    values = next((v for v in (data.get(axis), data.get("x")) if isinstance(v, list)), [])
    cut = draw(st.sampled_from([-1, 1, 0]))
    data[axis] = values[:cut] if cut < 0 else values + [0.0] * cut
    if draw(st.booleans()):
        data[axis] = draw(sequences_of(st.just(1.0)) | anything)


EDGES = [
    _prefix(lambda p, draw: p[:52]),                                     # one boundary short
    _prefix(lambda p, draw: p + [p[-1] + 5] * draw(st.integers(1, 8))),  # extra entries
    _prefix(lambda p, draw: [v + 1 for v in p]),                         # starting at 1
    _prefix(lambda p, draw: p[:10] + [p[9]] + p[11:]),                   # a module without hits
    _prefix(lambda p, draw: p[:52] + [draw(st.sampled_from([p[51], p[51] + 3, 2**31, 2**63, 2**64 - 1]))]),
    _prefix(lambda p, draw: [draw(numbers) if i == 7 else v for i, v in enumerate(p)]),
    _column,
    lambda data, draw: data.pop(draw(st.sampled_from(["description", "montecarlo", "module_prefix_sum", "x", "t"])),
                                None),
    lambda data, draw: data.__setitem__("description", draw(anything)),
    lambda data, draw: data.__setitem__("t", None),
]


def montecarlos(n):
    cell = numbers | st.none() | st.text(max_size=2) | sequences_of(st.integers(-2, n + 2) | numbers)
    rows = st.lists(sequences_of(cell), max_size=6)
    columns = st.lists(st.sampled_from(["key", "pid", "p", "pt", "hits", "isLong", "hasVelo", "fromBeautyDecay",
                                        "charge", "eta", "other"]), max_size=10)
    return st.one_of(
        st.none(),
        anything,
        st.fixed_dictionaries({"description": columns, "particles": rows}),
        st.fixed_dictionaries({}, optional={"description": columns | anything, "particles": rows | anything}),
        st.builds(lambda r: {"description": ["key", "hits"], "particles": deep(r, 30000)}, rows),
    )


def collect_containers(value, found, depth=0):
    if depth > 4:
        return found
    if isinstance(value, (list, dict)):
        found.append(value)
        for item in (value.values() if isinstance(value, dict) else value):
            collect_containers(item, found, depth + 1)
    return found


def arm(*inputs):
    """Lets the hooks of this example empty the containers inside `inputs`."""
    found = []
    for value in inputs:
        collect_containers(value, found)
    Victims.containers = found


# ---- the campaign --------------------------------------------------------------

def round_trip(obj):
    call(lambda: pickle.loads(pickle.dumps(obj)))
    call(copy.deepcopy, obj)


def exercise_event(event):
    for name in ("description", "montecarlo", "module_prefix_sum", "number_of_hits", "module_zs", "hits"):
        call(getattr, event, name)
    call(arrays.event_arrays, event)
    round_trip(event)
    modules = call(getattr, event, "modules") or []
    for module in modules[:3]:
        call(module.hits)
        call(repr, module)


@seed(20261207)
@FUZZ
@given(event_dicts(), st.lists(st.lists(st.integers(-3, 200), max_size=6), max_size=4), st.booleans(),
       st.sampled_from(["long", "velo", "long>5GeV", "x" * 300, ""]))
def test_events_and_validation(data, id_lists, verbose, category):
    arm(data)
    event = call(Event, data)
    tracks = [call(Track, [Hit(0.0, 0.0, float(i), i) for i in ids]) or Track([]) for ids in id_lists]
    if event is not None:
        exercise_event(event)
        for other in (SearchByTripletTrie(), GraphDFS()):
            call(other.solve, event)
            call(other.solve_batch, [event, event])
        algorithm = TrackFollowing()
        solved = call(algorithm.solve, event)
        batch = call(algorithm.solve_batch, [event, event])
        assert batch is None or solved is None or len(batch) == 2
        if solved:
            tracks += solved[:4]
            call(arrays.track_arrays, solved)
    for events in ([data], [data, data], []):
        lists = [tracks] * len(events)
        call(Validator.print_validation_summary, events, lists, verbose)
        call(Validator.compute_tracking_efficiency, events, lists, category)
        call(Validator.export_validation_to_json, events, lists, verbose)
        call(Validator.export_detailed_metrics_json, events, lists, verbose)
        call(reports.summary_text, events, lists, verbose)


@seed(20261207)
@FUZZ
@given(st.lists(anything, min_size=7, max_size=7), st.lists(numbers, min_size=6, max_size=6))
def test_constructors_and_methods(args, values):
    arm(*args, *values)
    hit = call(Hit, *values[:4], module=values[4], t=values[5], with_t=args[6])
    hit = hit or Hit(0, 0, 0, 0)
    for made in (call(Hit, *args[:4]), call(Hit, *args), hit):
        if made is not None:
            call(repr, made)
    call(Module, *args[:5])
    module = call(Module, values[0], values[1], values[2], values[3], [hit] * 3)
    if module is not None:
        call(module.hits)
        call(repr, module)
    track = call(Track, args[0]) or Track([hit])
    call(track.add_hit, args[1])
    call(track.add_hit, hit)
    call(repr, track)
    for made in (hit, module, track):
        round_trip(made)
    call(arrays.track_arrays, args[0])
    call(arrays.event_arrays, args[1])
    algorithm = call(TrackFollowing, *args[:5])
    for made in (algorithm, call(TrackFollowing, (values[0], values[1]), (values[2], values[3]), values[4],
                                 values[5], values[0])):
        if made is not None:
            round_trip(made)
            call(made.are_compatible, hit, hit)
            call(made.check_tolerance, hit, hit, args[2])
    for made in (algorithm, call(SearchByTripletTrie, *args[:3]), call(GraphDFS, *args[:7]),
                 call(SearchByTripletTrie, values[0], values[1], values[2]),
                 call(GraphDFS, (values[0], values[1]), (values[2], values[3]), *values[4:6], values[0])):
        if made is not None:
            round_trip(made)
            call(made.solve, args[3])
            call(made.solve_batch, args[4])
    call(Validator.compute_tracking_efficiency, args[0], args[1], args[2])
    call(Validator.export_detailed_metrics_json, args[3], args[4], args[5])


@seed(20261207)
@FUZZ
@given(st.lists(st.integers(0, 2) | anything, max_size=6), sequences_of(st.integers(0, 2)))
def test_batch_arguments(items, shape):
    events = [Event(corvane_event(n)) for n in (52, 60, 70)]
    chosen = [events[i] if isinstance(i, int) and not isinstance(i, bool) and 0 <= i < 3 else i for i in items]
    arm(*chosen, shape)
    algorithm = TrackFollowing()
    result = call(algorithm.solve_batch, chosen)
    assert result is None or len(result) == len(chosen)
    call(algorithm.solve_batch, Sequence(chosen, "answer", "answer", 10**6))
    call(algorithm.solve_batch, shape)


def corvane_event(n):
    prefix = list(range(52)) + [n]
    return {"description": "", "montecarlo": None, "module_prefix_sum": prefix, "x": [0.5 * i for i in range(n)],
            "y": [0.0] * n, "z": [float(min(i, 51)) for i in range(n)]}
