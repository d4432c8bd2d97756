"""The validation summary as text, for notebooks, loggers and tests.

``Validator.print_validation_summary`` writes straight to file descriptor 1,
which Jupyter, ``contextlib.redirect_stdout`` and pytest's ``capsys`` do not
see. ``summary_text`` returns the very same bytes as a ``str`` instead,
warnings included (when ``verbose``) and in the same order.
"""
from __future__ import annotations

from collections.abc import Sequence
from typing import TYPE_CHECKING, Any

import corvane

if TYPE_CHECKING:
    from corvane.DetectorEvent import Track

__all__ = ["summary_text"]


def summary_text(events: Sequence[dict[str, Any]], tracks: Sequence[Sequence[Track]],
                 verbose: bool = False) -> str:
    """What ``print_validation_summary(events, tracks, verbose)`` would print.

    ``events`` are the event dictionaries (with their "montecarlo" record),
    ``tracks`` one list of ``Track`` per event. With ``verbose`` the
    "update_efficiencies: ..." warning lines come first, in the order they
    arise; then the ghost line and one line per particle category.
    Nothing is written anywhere; errors are raised as the printing function
    raises them.
    """
    text: str = corvane._tools.validation_summary_text(events, tracks, verbose)
    return text
