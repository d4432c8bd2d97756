"""The summary as text: the very bytes print_validation_summary writes to
file descriptor 1, warnings included and in order, or the same error."""
import pytest

import corvane
from corvane import Validator
from corvane_tools.reports import summary_text
from validation_builders import event, particle, random_case, track


def printed(capfd, events, tracks, verbose):
    """What the printing function writes (or raises), with fd 1 captured."""
    capfd.readouterr()
    try:
        Validator.print_validation_summary(events, tracks, verbose)
    except (Exception, corvane.InternalFailure) as error:
        return type(error), str(error)
    return capfd.readouterr().out


def returned(events, tracks, verbose):
    try:
        return summary_text(events, tracks, verbose)
    except (Exception, corvane.InternalFailure) as error:
        return type(error), str(error)


@pytest.mark.parametrize("verbose", [False, True])
@pytest.mark.parametrize("seed", range(40))
def test_text_equals_what_is_printed(seed, verbose, capfd):
    events, tracks = random_case(seed)
    assert returned(events, tracks, verbose) == printed(capfd, events, tracks, verbose)


def test_warnings_come_first_in_order(capfd):
    # Event 1 has a long particle only, event 2 none: every category without
    # particles warns, event by event, before the summary lines.
    events = [event(4, [particle(1, [0, 1, 2])]), event(3, [])]
    tracks = [[track(0, 1, 2)], []]
    text = summary_text(events, tracks, verbose=True)
    assert text == printed(capfd, events, tracks, True)
    lines = text.splitlines()
    first_summary = next(i for i, line in enumerate(lines) if " tracks including " in line)
    assert first_summary > 0 and all(line.startswith("update_efficiencies: ") for line in lines[:first_summary])
    assert "update_efficiencies" not in summary_text(events, tracks)


def test_text_is_not_written_anywhere(capfd):
    summary_text([event(3, [particle(1, [0, 1, 2])])], [[track(0, 1, 2)]], True)
    assert capfd.readouterr() == ("", "")


def test_a_failure_returns_no_text(capfd):
    # A hit id outside its event: the printing function has already written
    # the first event's warnings when it fails; the text function returns
    # nothing at all.
    events = [event(3, []), event(3, [particle(1, [0, 1])])]
    tracks = [[], [track(0, 99)]]
    with pytest.raises(RuntimeError) as raised:
        summary_text(events, tracks, True)
    capfd.readouterr()
    with pytest.raises(RuntimeError, match=str(raised.value)):
        Validator.print_validation_summary(events, tracks, True)
    assert capfd.readouterr().out.startswith("update_efficiencies: ")
