"""The four Validator functions: arguments, the printed summary and its
format, which events are read when, and the exported dictionaries."""
import contextlib
import io

import pytest

import corvane
from corvane import Validator
from validation_builders import event, particle, track
import validation_reference as reference

VERBOSE_FUNCTIONS = ["print_validation_summary", "export_validation_to_json", "export_detailed_metrics_json"]
EMPTY_EXPORT = {"total_tracks": 0, "total_ghosts": 0, "overall_ghost_rate": 0.0, "event_avg_ghost_rate": 0.0,
                "categories": []}


def test_registration_and_docstrings():
    assert Validator.__all__ == ["print_validation_summary", "compute_tracking_efficiency",
                                 "export_validation_to_json", "export_detailed_metrics_json"]
    for name in Validator.__all__:
        assert getattr(Validator, name).__module__ == "Validator"
    assert Validator.print_validation_summary.__text_signature__ == "(py_events, py_tracks, verbose)"
    assert Validator.compute_tracking_efficiency.__doc__ == (
        "Exposed to Python: computes and returns the reconstruction efficiency (a value in [0, 1])\n"
        "for a given particle type from a set of event dictionaries and corresponding tracks.")


@pytest.mark.parametrize("name", VERBOSE_FUNCTIONS)
def test_verbose_must_be_a_bool(name, capfd):
    with pytest.raises(TypeError, match=r"^argument 'verbose': 'int' object cannot be converted to 'PyBool'$"):
        getattr(Validator, name)([], [], 1)
    assert capfd.readouterr().out == ""


@pytest.mark.parametrize("args, kwargs, message", [
    (("abc", [], False), {}, "argument 'py_events': Can't extract `str` to `Vec`"),
    (([], [[1]], False), {}, "argument 'py_tracks': 'int' object cannot be converted to 'Track'"),
    (([], ["ab"], False), {}, "argument 'py_tracks': Can't extract `str` to `Vec`"),
    (([], []), {}, "print_validation_summary() missing 1 required positional argument: 'verbose'"),
    (([],), {"verbose": True, "tracks": []}, "print_validation_summary() got an unexpected keyword argument 'tracks'"),
])
def test_argument_errors(args, kwargs, message):
    with pytest.raises(TypeError) as raised:
        Validator.print_validation_summary(*args, **kwargs)
    assert str(raised.value) == message


def test_particle_type_must_be_a_str():
    with pytest.raises(TypeError, match=r"^argument 'particle_type': 'int' object cannot be converted to 'PyString'$"):
        Validator.compute_tracking_efficiency([], [], 1)


def test_empty_inputs(capfd):
    assert Validator.compute_tracking_efficiency([], [], "long") == 0.0
    assert capfd.readouterr().out == ""
    Validator.print_validation_summary(py_events=[], py_tracks=[], verbose=False)
    assert capfd.readouterr().out == "No events found.\n"
    assert Validator.export_validation_to_json([], [], True) == EMPTY_EXPORT
    detailed = Validator.export_detailed_metrics_json([], [], True)
    assert list(detailed) == list(EMPTY_EXPORT) + ["events"] and detailed == {**EMPTY_EXPORT, "events": {}}
    assert capfd.readouterr().out == ""


def test_output_bypasses_sys_stdout(capfd):
    captured = io.StringIO()
    with contextlib.redirect_stdout(captured):
        Validator.print_validation_summary([], [], False)
    assert captured.getvalue() == "" and capfd.readouterr().out == "No events found.\n"


def test_category_line_to_the_character(capfd):
    # velo: 3 particles, 2 reconstructed, one of them twice; long: the first only.
    rows = [particle(1, [0, 1, 2, 3]), particle(2, [4, 5, 6], isLong=0), particle(3, [7, 8], isLong=0)]
    tracks = [track(0, 1, 2, 3), track(0, 1, 2, 3, 9), track(4, 5, 6), track(8, 9)]
    Validator.print_validation_summary([event(10, rows)], [tracks], False)
    assert capfd.readouterr().out == (
        "4 tracks including 1 ghosts (25.0%). Event average ghost rate: 25.0%\n"
        "velo                      2 from      3 ( 66.7%,  66.7%)    1 clones (50.00%), purity: ( 93.33%,  "
        "93.33%), hitEff: (100.00%, 100.00%)\n"
        "long                      1 from      1 (100.0%, 100.0%)    1 clones (100.00%), purity: ( 90.00%,  "
        "90.00%), hitEff: (100.00%, 100.00%)\n")


def test_reference_formatter_prints_a_known_line():
    # The random comparisons hold the compiled formatter to this one.
    stats = dict(reference.new_stats("velo"), n_recon_particles=90, n_particles=100, recoeff=90.0,
                 avg_recoeff=90.0, n_clones=3, purity=95.12, avg_purity=94.0, avg_hiteff=91.0, hiteff_sum=92.5,
                 n_hiteff=100)
    assert reference.category_line(stats) == (
        "velo                     90 from    100 ( 90.0%,  90.0%)    3 clones ( 3.33%), purity: ( 95.12%,  94.00%), "
        "hitEff: ( 91.00%,  92.50%)\n")


@pytest.mark.parametrize("ghosts, shown", [(1, "6.2"), (3, "18.8"), (8, "50.0")])
def test_ghost_rates_round_ties_to_even(ghosts, shown, capfd):
    # 16 tracks: 1/16 is 6.25% exactly, which rounds to 6.2; 3/16 is 18.75%.
    rows = [particle(k, [2 * k, 2 * k + 1]) for k in range(16)]
    tracks = [track(2 * k, 2 * k + 1) for k in range(16 - ghosts)] + [track(2 * k, 2 * k + 3) for k in range(ghosts)]
    Validator.print_validation_summary([event(40, rows)], [tracks], False)
    first = capfd.readouterr().out.splitlines()[0]
    assert first == f"16 tracks including {ghosts} ghosts ({shown}%). Event average ghost rate: {shown}%"


def test_event_with_empty_track_list(capfd):
    Validator.print_validation_summary([event(3, [particle(1, [0, 1], isLong=0)])], [[]], False)
    assert capfd.readouterr().out == (
        "0 tracks including 0 ghosts (0.0%). Event average ghost rate: 0.0%\n"
        "velo                      0 from      1 (  0.0%,   0.0%)    0 clones ( 0.00%), purity: (  0.00%,   "
        "0.00%), hitEff: (  0.00%,   0.00%)\n")


def three_events(third):
    return [event(4, [particle(1, [0, 1])]), event(4, [particle(1, [0, 1])]), third]


def test_summary_reads_every_event_but_processes_pairs(capfd):
    tracks = [[track(0, 1), track(2, 3)], [track(0, 1)]]
    with pytest.raises(corvane.InternalFailure):
        Validator.print_validation_summary(three_events({"x": []}), tracks, True)
    assert capfd.readouterr().out == ""
    Validator.print_validation_summary(three_events(event(4)), tracks, False)
    # Rates 1/2 and 0/1 summed, then divided by all three events.
    assert capfd.readouterr().out.splitlines()[0] == (
        "3 tracks including 1 ghosts (33.3%). Event average ghost rate: 16.7%")


def test_efficiency_reads_every_event_and_warns_per_processed_event(capfd):
    with pytest.raises(corvane.InternalFailure):
        Validator.compute_tracking_efficiency(three_events(None), [[], []], "nothing")
    assert capfd.readouterr().out == ""
    assert Validator.compute_tracking_efficiency(three_events(event(4)), [[], []], "nothing") == 0.0
    assert capfd.readouterr().out == "update_efficiencies: No particles match condition for 'nothing'\n" * 2


def test_efficiency_is_a_fraction():
    data = event(8, [particle(k, [2 * k, 2 * k + 1]) for k in range(4)])
    assert Validator.compute_tracking_efficiency([data], [[track(0, 1), track(2, 3), track(4, 5)]], "long") == 0.75


@pytest.mark.parametrize("name", ["export_validation_to_json", "export_detailed_metrics_json"])
def test_exports_read_only_processed_events(name):
    result = getattr(Validator, name)([event(4, [particle(1, [0, 1])]), "not an event", None],
                                      [[track(0, 1), track(2, 3)]], False)
    assert result["total_tracks"] == 2 and result["overall_ghost_rate"] == 50.0
    assert result["event_avg_ghost_rate"] == (0.5 * 100.0) / 3


def test_export_keys_and_category_order():
    flags = dict(p=9000.0, fromStrangeDecay=1, fromBeautyDecay=1)
    result = Validator.export_detailed_metrics_json([event(4, [particle(1, [0, 1], **flags)])], [[track(0, 1)]],
                                                    False)
    labels = ["velo", "long", "long>5GeV", "long_strange", "long_strange>5GeV", "long_fromb", "long_fromb>5GeV"]
    assert [c["label"] for c in result["categories"]] == labels
    assert [c["label"] for c in result["events"]["1"]] == labels
    assert list(result["categories"][0]) == [
        "label", "n_recon_particles", "n_particles", "recoeff", "avg_recoeff", "n_clones", "clone_percentage",
        "purity", "avg_purity", "avg_hiteff", "hit_eff_percentage"]
    assert result["events"]["1"] == result["categories"] and result["events"]["1"] is not result["categories"]
