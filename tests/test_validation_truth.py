"""Reading the truth: hits from the coordinate lists, the Monte Carlo rows and
their lenient conversions, repeated keys, categories and the reader's errors."""
import pytest

import corvane
from corvane import Validator
from validation_builders import COLUMNS, event, particle, track


def categories(events, tracks):
    result = Validator.export_validation_to_json(events, tracks, False)
    return {c["label"]: c for c in result["categories"]}


def test_event_without_montecarlo_has_no_particles():
    # Without particles nothing is looked up, so even foreign ids pass.
    result = Validator.export_validation_to_json([event(5)], [[track(0, 1), track(7, 99)]], False)
    assert result["categories"] == [] and result["total_tracks"] == 2 and result["total_ghosts"] == 0


def test_hits_come_from_the_shortest_coordinate_list():
    data = event(6, [particle(1, [0, 1, 2, 3, 4])])
    data["x"], data["y"] = data["x"][:5], data["y"][:4]
    # Hit 4 does not exist: the particle keeps 4 distinct hits.
    assert categories([data], [[track(0, 1, 2, 3)]])["velo"]["avg_hiteff"] == 100.0
    with pytest.raises(RuntimeError, match="^Error: hit with id 4 not found in hit_to_mcp mapping$"):
        Validator.export_validation_to_json([data], [[track(3, 4)]], False)


def row_with(column, value, drop=False):
    """A one-particle row whose `column` holds `value` (or is missing)."""
    names = [n for n in COLUMNS if not (drop and n == column)]
    values = dict(zip(COLUMNS, particle(1, [0, 1], isLong=0, hasVelo=0)))
    values[column] = value
    return names, [values[n] for n in names]


UNREADABLE_FLAGS = [("string", "yes"), ("float", 1.0), ("too wide", 2**40), ("list", [1]), ("none", None)]


@pytest.mark.parametrize("kind, value", UNREADABLE_FLAGS + [("missing", None), ("out of range", None)])
def test_unreadable_has_velo_is_true_and_is_long_false(kind, value):
    for column, expected_velo, expected_long in [("hasVelo", True, False), ("isLong", False, False)]:
        names, row = row_with(column, value, drop=kind == "missing")
        if kind == "out of range":
            names, row = names + [column], row  # the last position wins and lies beyond the row
        found = categories([event(3, [row], names)], [[]])
        assert ("velo" in found) == expected_velo and ("long" in found) == expected_long


@pytest.mark.parametrize("value, expected", [(True, True), (False, False), (2, True), (-1, True), (0, False)])
def test_flags_read_as_integers(value, expected):
    names, row = row_with("isLong", value)
    assert ("long" in categories([event(3, [row], names)], [[]])) == expected


@pytest.mark.parametrize("pid", [11, -11])
def test_electrons_belong_to_no_category(pid):
    flags = dict(isLong=1, hasVelo=1, fromBeautyDecay=1, fromStrangeDecay=1)
    assert categories([event(3, [particle(1, [0, 1], pid=pid, p=9000.0, **flags)])], [[]]) == {}


@pytest.mark.parametrize("p, above", [(5000.0, False), (5000.5, True), (-5000.5, True), (float("nan"), False),
                                      ("9000", False), (True, False), (6000, True)])
def test_above_5gev(p, above):
    found = categories([event(3, [particle(1, [0, 1], p=p)])], [[]])
    assert ("long>5GeV" in found) == above


def test_repeated_hit_positions_kept_and_out_of_range_dropped():
    data = event(10, [particle(1, [0, 0, 99])])
    # The particle's distinct hits are {0}; a track through hit 0 twice finds it twice.
    assert categories([data], [[track(0, 0)]])["velo"]["avg_hiteff"] == 200.0


@pytest.mark.parametrize("hits", ["0 1", [0, -1], [0, 1.0], [0, 2**64], 5, None, {0: 1}])
def test_unreadable_hit_list_counts_as_empty(hits):
    found = categories([event(3, [particle(1, hits), particle(2, [0, 1])])], [[track(0, 1)]])
    assert found["velo"]["n_particles"] == 2 and found["velo"]["n_recon_particles"] == 1


def test_repeated_keys_keep_first_record_and_last_hits():
    rows = [particle(7, [0, 1, 2]), particle(7, [3, 4, 5]), particle(8, [6, 7])]
    data = event(10, rows)
    found = categories([data], [[track(0, 1, 2)]])
    assert found["velo"]["n_particles"] == 3 and found["velo"]["n_recon_particles"] == 0
    result = Validator.export_validation_to_json([data], [[track(0, 1, 2), track(3, 4, 5)]], False)
    velo = result["categories"][0]
    assert velo["n_recon_particles"] == 1 and velo["n_clones"] == 0 and result["total_ghosts"] == 1


@pytest.mark.parametrize("key", [1.0, "1", -1, 2**64, None])
def test_unreadable_key_is_zero(key):
    rows = [particle(key, [0, 1]), particle(0, [2, 3])]
    # Both rows are key 0: the first row's hits no longer count.
    found = categories([event(4, rows)], [[track(0, 1), track(2, 3)]])
    assert found["velo"]["n_particles"] == 2 and found["velo"]["n_recon_particles"] == 1


@pytest.mark.parametrize("row, electron", [([11, 5, 211], False), ([211, 5, 11], True)])
def test_repeated_column_name_uses_last_position(row, electron):
    found = categories([event(3, [row], ["pid", "key", "pid"])], [[]])
    assert ("velo" in found) == (not electron)


def test_rows_shorter_or_longer_than_description():
    rows = [particle(1, [0, 1])[:1], particle(2, [0, 1]) + ["extra", 3]]
    found = categories([event(3, rows)], [[track(0, 1)]])
    # The short row has only its key: no hits, not long, but velo by default.
    assert found["velo"]["n_particles"] == 2 and found["long"]["n_particles"] == 1


def test_empty_description_reads_defaults():
    found = categories([event(3, [[1, 2, 3], []], [])], [[]])
    assert list(found) == ["velo"] and found["velo"]["n_particles"] == 2


# ---- errors ------------------------------------------------------------------

FUNCTIONS = [
    lambda events: Validator.print_validation_summary(events, [[]], False),
    lambda events: Validator.compute_tracking_efficiency(events, [[]], "velo"),
    lambda events: Validator.export_validation_to_json(events, [[]], False),
    lambda events: Validator.export_detailed_metrics_json(events, [[]], False),
]


def without(key):
    data = event(3, [particle(1, [0])])
    del data[key]
    return data


def with_montecarlo(montecarlo):
    data = event(3)
    data["montecarlo"] = montecarlo
    return data


@pytest.mark.parametrize("function", FUNCTIONS)
@pytest.mark.parametrize("data", [without("module_prefix_sum"), without("x"), without("y"), without("z"), [1, 2],
                                  None])
def test_missing_coordinates_are_internal_failures(function, data):
    with pytest.raises(corvane.InternalFailure):
        function([data])


def with_value(key, value):
    data = event(3)
    data[key] = value
    return data


ERRORS = [
    (with_value("x", "abc"), TypeError, "Can't extract `str` to `Vec`"),
    (with_value("y", [1.0, "a"]), TypeError, "must be real number, not str"),
    (with_value("module_prefix_sum", [1, -1]), OverflowError, ""),
    (with_montecarlo(None), TypeError, "'NoneType' object cannot be converted to 'PyDict'"),
    (with_montecarlo([]), TypeError, "'list' object cannot be converted to 'PyDict'"),
    (with_montecarlo({"particles": []}), KeyError, "description key missing in montecarlo"),
    (with_montecarlo({"description": []}), KeyError, "particles key missing in montecarlo"),
    (with_montecarlo({"description": 5}), TypeError, "'int' object cannot be converted to 'Sequence'"),
    (with_montecarlo({"description": ["key", 3], "particles": []}), TypeError,
     "'int' object cannot be converted to 'PyString'"),
    (with_montecarlo({"description": [], "particles": ["abc"]}), TypeError, "Can't extract `str` to `Vec`"),
    (with_montecarlo({"description": [], "particles": [[1], 2]}), TypeError,
     "'int' object cannot be converted to 'Sequence'"),
]


@pytest.mark.parametrize("function", FUNCTIONS)
@pytest.mark.parametrize("data, error, message", ERRORS)
def test_reader_errors(function, data, error, message, capfd):
    with pytest.raises(error) as raised:
        function([data])
    if message:
        assert str(raised.value.args[0]).endswith(message)
    assert capfd.readouterr().out == ""


def test_category_name_is_case_sensitive(capfd):
    data = event(3, [particle(1, [0, 1])])
    assert Validator.compute_tracking_efficiency([data], [[track(0, 1)]], "Long") == 0.0
    assert capfd.readouterr().out == "update_efficiencies: No particles match condition for 'Long'\n"
    assert Validator.compute_tracking_efficiency([data], [[track(0, 1)]], "long") == 1.0
