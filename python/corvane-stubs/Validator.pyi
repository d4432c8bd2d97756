"""Validation of track lists against the Monte Carlo truth of their event
dictionaries. Percentages are in percent; compute_tracking_efficiency alone
returns a fraction. Printed text goes to file descriptor 1 directly (see
corvane_tools.reports for the same text as a str)."""
from collections.abc import Sequence
from typing import Any

from .DetectorEvent import Track

__all__ = [
    "print_validation_summary",
    "compute_tracking_efficiency",
    "export_validation_to_json",
    "export_detailed_metrics_json",
]

def print_validation_summary(
    py_events: Sequence[dict[str, Any]], py_tracks: Sequence[Sequence[Track]], verbose: bool
) -> None: ...
def compute_tracking_efficiency(
    py_events: Sequence[dict[str, Any]], py_tracks: Sequence[Sequence[Track]], particle_type: str
) -> float:
    """Exposed to Python: computes and returns the reconstruction efficiency (a value in [0, 1])
    for a given particle type from a set of event dictionaries and corresponding tracks."""
def export_validation_to_json(
    py_events: Sequence[dict[str, Any]], py_tracks: Sequence[Sequence[Track]], verbose: bool
) -> dict[str, Any]: ...
def export_detailed_metrics_json(
    py_events: Sequence[dict[str, Any]], py_tracks: Sequence[Sequence[Track]], verbose: bool
) -> dict[str, Any]: ...
