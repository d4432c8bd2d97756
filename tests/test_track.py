import pytest

from corvane import DetectorEvent

Hit, Module, Track = DetectorEvent.Hit, DetectorEvent.Module, DetectorEvent.Track


def fields(hit):
    return (hit.id, hit.x, hit.y, hit.z, hit.t, hit.module_number, hit.with_t)


def test_empty_track():
    track = Track([])
    assert repr(track) == str(track) == "Track with 0 hits: []"
    assert track.hits == []
    assert track.missed_last_module is False and track.missed_penultimate_module is False


def test_repr_of_several_hits():
    track = Track([Hit(1, 2, 3, 4), Hit(0.5, -0.0, 1e-7, 0, 2, 12.5, True)])
    track.add_hit(Hit(1e16, 0.00001, -1.5e-7, -3, 51))
    assert repr(track) == (
        "Track with 3 hits: ["
        "Hit { id: 4, x: 1.0, y: 2.0, z: 3.0, t: 0.0, module_number: -1, with_t: false }, "
        "Hit { id: 0, x: 0.5, y: -0.0, z: 1e-7, t: 12.5, module_number: 2, with_t: true }, "
        "Hit { id: -3, x: 1e16, y: 1e-5, z: -1.5e-7, t: 0.0, module_number: 51, with_t: false }]"
    )


def test_hits_keep_construction_then_add_order():
    hits = [Hit(i, 0, 0, i) for i in range(3)]
    track = Track(hits)
    track.add_hit(Hit(9, 9, 9, 9))
    track.add_hit(hits[0])
    track.add_hit(hits[0])
    assert [h.id for h in track.hits] == [0, 1, 2, 9, 0, 0]
    assert fields(track.hits[4]) == fields(track.hits[5]) == fields(hits[0])
    assert track.hits[4] is not track.hits[5]
    assert track.add_hit(hits[1]) is None


@pytest.mark.parametrize("sequence", [list, tuple])
def test_lists_in_and_out_are_copies(sequence):
    hits = [Hit(1, 2, 3, 4), Hit(5, 6, 7, 8)]
    track = Track(sequence(hits))
    hits.append(Hit(0, 0, 0, 0))
    hits.clear()
    returned = track.hits
    returned.pop()
    returned.append(Hit(0, 0, 0, 99))
    assert [h.id for h in track.hits] == [4, 8]
    assert track.hits[0] is not track.hits[0]


def test_flags_stay_false():
    track = Track([Hit(0, 0, 0, 0)])
    for i in range(300):
        track.add_hit(Hit(i, i, i, i))
    assert track.missed_last_module is False and track.missed_penultimate_module is False
    assert len(track.hits) == 301


def test_hits_from_an_event_keep_their_identity():
    event = DetectorEvent.Event({
        "description": "", "montecarlo": None, "module_prefix_sum": list(range(53)),
        "x": [0.0] * 52, "y": [0.0] * 52, "z": [float(i) for i in range(52)], "t": [1.0] * 52,
    })
    track = Track(event.modules[7].hits())
    track.add_hit(event.hits[8])
    assert [fields(h) for h in track.hits] == [(7, 0.0, 0.0, 7.0, 1.0, 7, True), (8, 0.0, 0.0, 8.0, 1.0, 8, True)]


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: Track("abc"), "argument 'hits': Can't extract `str` to `Vec`"),
        (lambda: Track(5), "argument 'hits': 'int' object cannot be converted to 'Sequence'"),
        (lambda: Track(h for h in []), "argument 'hits': 'generator' object cannot be converted to 'Sequence'"),
        (lambda: Track([Hit(0, 0, 0, 0), 1.5]), "argument 'hits': 'float' object cannot be converted to 'Hit'"),
        (lambda: Track([Module(0, 0, 0, 0, [])]), "argument 'hits': 'Module' object cannot be converted to 'Hit'"),
        (lambda: Track(), "Track.__new__() missing 1 required positional argument: 'hits'"),
        (lambda: Track([], []), "Track.__new__() takes 1 positional arguments but 2 were given"),
        (lambda: Track(hit=[]), "Track.__new__() got an unexpected keyword argument 'hit'"),
        (lambda: Track([]).add_hit(None), "argument 'hit': 'NoneType' object cannot be converted to 'Hit'"),
        (lambda: Track([]).add_hit([Hit(0, 0, 0, 0)]), "argument 'hit': 'list' object cannot be converted to 'Hit'"),
        (lambda: Track([]).add_hit(), "Track.add_hit() missing 1 required positional argument: 'hit'"),
        (lambda: Track.add_hit(Hit(0, 0, 0, 0), Hit(0, 0, 0, 0)), "'Hit' object cannot be converted to 'Track'"),
    ],
)
def test_type_errors(call, message):
    with pytest.raises(TypeError) as caught:
        call()
    assert str(caught.value) == message


def test_failed_add_hit_leaves_track_unchanged():
    track = Track([Hit(1, 2, 3, 4)])
    with pytest.raises(TypeError):
        track.add_hit(4)
    assert repr(track) == "Track with 1 hits: [Hit { id: 4, x: 1.0, y: 2.0, z: 3.0, t: 0.0, module_number: -1, with_t: false }]"


def test_keywords():
    track = Track(hits=[Hit(1, 2, 3, 4)])
    track.add_hit(hit=Hit(5, 6, 7, 8))
    assert [h.id for h in track.hits] == [4, 8]
