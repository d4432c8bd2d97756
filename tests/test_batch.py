import os
import sys

import pytest

import corvane
from corvane_tools.algorithms import pool_size
from child_process import SANITIZED, run_child
from event_builders import Event, sized_event, lines_event

TrackFollowing = corvane.ReconstructionAlgorithms.TrackFollowing
Hit = corvane.DetectorEvent.Hit


def described(tracks):
    # Track objects compare by identity; their repr shows every hit field and
    # the flags are attributes.
    return [(repr(t), t.missed_last_module, t.missed_penultimate_module) for t in tracks]


@pytest.fixture(scope="module")
def events():
    sizes = [300, 800, 1500, 60, 2000, 500, 52]
    return [Event(sized_event(n, seed=s)) for s, n in enumerate(sizes)] + [lines_event({})]


def test_batch_equals_solve_in_input_order(events):
    algorithm = TrackFollowing(max_tolerance=(0.3, 0.3), min_track_length=4, min_strong_track_length=5)
    expected = [described(algorithm.solve(e)) for e in events]
    assert [described(r) for r in algorithm.solve_batch(events)] == expected
    assert [described(r) for r in algorithm.solve_batch(events=tuple(reversed(events)))] == expected[::-1]


def test_duplicates_empty_and_single(events):
    algorithm = TrackFollowing()
    one = events[1]
    result = algorithm.solve_batch([one, events[0], one, one])
    assert described(result[0]) == described(result[2]) == described(result[3]) == described(algorithm.solve(one))
    assert result[0] is not result[2] and result[0][0] is not result[2][0]
    assert algorithm.solve_batch([]) == [] and algorithm.solve_batch(()) == []
    assert [described(r) for r in algorithm.solve_batch([one])] == [described(algorithm.solve(one))]


class LengthlessSequence:
    """A sequence whose length cannot be read: iterated all the same."""

    def __init__(self, items):
        self.items = items

    def __getitem__(self, i):
        return self.items[i]

    def __len__(self):
        raise RuntimeError("no length")


def test_any_sequence_is_iterated(events):
    algorithm = TrackFollowing()
    assert [described(r) for r in algorithm.solve_batch(LengthlessSequence(events[:3]))] == [
        described(algorithm.solve(e)) for e in events[:3]]


def test_event_is_left_as_it_was():
    marker = object()
    data = sized_event(400, seed=9)
    data["montecarlo"] = marker
    event = Event(data)
    before = sys.getrefcount(marker)
    TrackFollowing().solve_batch([event] * 5)
    assert sys.getrefcount(marker) == before and event.montecarlo is marker


@pytest.mark.parametrize("argument, message", [
    ("abc", "argument 'events': Can't extract `str` to `Vec`"),
    (5, "argument 'events': 'int' object cannot be converted to 'Sequence'"),
    ((e for e in ()), "argument 'events': 'generator' object cannot be converted to 'Sequence'"),
    ([lines_event({}), 5], "argument 'events': 'int' object cannot be converted to 'Event'"),
    ([Hit(0, 0, 0, 0)], "argument 'events': 'Hit' object cannot be converted to 'Event'"),
])
def test_argument_errors(argument, message):
    with pytest.raises(TypeError) as raised:
        TrackFollowing().solve_batch(argument)
    assert str(raised.value) == message


def test_call_errors():
    with pytest.raises(TypeError, match=r"^TrackFollowing.solve_batch\(\) missing 1 required positional argument: 'events'$"):
        TrackFollowing().solve_batch()
    with pytest.raises(TypeError, match=r"^'Hit' object cannot be converted to 'TrackFollowing'$"):
        TrackFollowing.solve_batch(Hit(0, 0, 0, 0), [])


# ---- the worker pool's size ---------------------------------------------------

LOGICAL = "logical"


@pytest.mark.parametrize("env, expected", [
    ({"RAYON_NUM_THREADS": "1"}, 1),
    ({"RAYON_NUM_THREADS": "3"}, 3),
    ({"RAYON_NUM_THREADS": "0"}, LOGICAL),
    ({"RAYON_NUM_THREADS": "+2"}, 2),
    ({"RAYON_NUM_THREADS": "007"}, 7),
    ({"RAYON_NUM_THREADS": " 2"}, LOGICAL),
    ({"RAYON_NUM_THREADS": "2 "}, LOGICAL),
    ({"RAYON_NUM_THREADS": "-1"}, LOGICAL),
    ({"RAYON_NUM_THREADS": ""}, LOGICAL),
    ({"RAYON_NUM_THREADS": "+"}, LOGICAL),
    ({"RAYON_NUM_THREADS": str(2 ** 64)}, LOGICAL),      # beyond 64 bits
    ({"RAYON_NUM_THREADS": str(2 ** 64 - 1)}, 256),      # valid, but capped
    ({"RAYON_RS_NUM_CPUS": "3"}, 3),
    ({"RAYON_RS_NUM_CPUS": "0"}, LOGICAL),
    ({"RAYON_RS_NUM_CPUS": "1000"}, 256),
    ({"RAYON_NUM_THREADS": "0", "RAYON_RS_NUM_CPUS": "3"}, LOGICAL),
    ({"RAYON_NUM_THREADS": " 5", "RAYON_RS_NUM_CPUS": "3"}, 3),
    ({"RAYON_NUM_THREADS": "-1", "RAYON_RS_NUM_CPUS": "0"}, LOGICAL),
    ({"RAYON_NUM_THREADS": "5", "RAYON_RS_NUM_CPUS": "3"}, 5),
    ({}, LOGICAL),
])
def test_pool_size_follows_the_environment(monkeypatch, env, expected):
    for name in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS"):
        monkeypatch.delenv(name, raising=False)
    for name, value in env.items():
        monkeypatch.setenv(name, value)
    logical = len(os.sched_getaffinity(0))
    assert corvane._tools.pool_size() == (logical if expected == LOGICAL else expected)
    assert pool_size() == corvane._tools.pool_size()


@pytest.mark.parametrize("env", [
    {"RAYON_NUM_THREADS": "2"},
    {"RAYON_NUM_THREADS": "0"},
    {"RAYON_NUM_THREADS": " 5", "RAYON_RS_NUM_CPUS": "3"},
    {},
])
def test_fresh_pool_gets_the_reported_size_and_works(env):
    result = run_child("""
        reported = corvane._tools.pool_size()
        ok = batch_ok() and batch_ok()
        print(json.dumps({"size": corvane._reference.worker_pool_size(), "reported": reported, "ok": ok}))
    """, env)
    assert result["ok"]
    assert result["size"] == result["reported"]


def test_pool_follows_the_affinity_mask_and_is_sized_once():
    result = run_child("""
        os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
        first = batch_ok()
        os.environ["RAYON_NUM_THREADS"] = "3"
        print(json.dumps({"size": corvane._reference.worker_pool_size(), "ok": first and batch_ok()}))
    """)
    assert result == {"size": 1, "ok": True}


def test_forked_child_gets_a_working_pool():
    result = run_child("""
        first = batch_ok()
        pid = os.fork()
        if pid == 0:
            os._exit(0 if batch_ok() else 1)
        _, status = os.waitpid(pid, 0)
        print(json.dumps({"ok": first and batch_ok(), "child": os.waitstatus_to_exitcode(status)}))
    """, {"RAYON_NUM_THREADS": "2"}, timeout=60)
    assert result == {"ok": True, "child": 0}


@pytest.mark.skipif(SANITIZED, reason="the address-space limit is meaningless under AddressSanitizer")
def test_worker_that_cannot_start_raises():
    # Under a tight address-space limit, starting 256 threads fails part way:
    # an exception, not an abort, and the pool works once memory is back.
    result = run_child("""
        import resource
        many = [events[i % len(events)] for i in range(300)]
        with open("/proc/self/status") as status:
            vm_bytes = next(int(l.split()[1]) for l in status if l.startswith("VmSize")) * 1024
        soft, hard = resource.getrlimit(resource.RLIMIT_AS)
        resource.setrlimit(resource.RLIMIT_AS, (vm_bytes + 100 * 2**20, hard))
        try:
            algorithm.solve_batch(many)
            outcome = "no error"
        except RuntimeError as error:
            outcome = str(error).split(":")[0]
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        algorithm.solve_batch(many)
        print(json.dumps({"outcome": outcome, "ok": batch_ok()}))
    """, {"RAYON_NUM_THREADS": "256"})
    assert result == {"outcome": "could not start a worker thread", "ok": True}


@pytest.mark.parametrize("count, failing, expected", [
    (0, [], []),
    (7, [], list(range(7))),
    (300, [], list(range(300))),
    (300, [299], "item 299 failed"),
    (300, [250, 3, 120], "item 3 failed"),   # the earliest in input order decides
    (2, [1, 0], "item 0 failed"),
])
def test_failures_come_back_in_input_order(count, failing, expected):
    probe = corvane._reference.batch_probe
    if isinstance(expected, str):
        with pytest.raises(ValueError, match=f"^{expected}$"):
            probe(count, failing)
    else:
        assert probe(count, failing) == expected
