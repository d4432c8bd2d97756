"""Ghost rates per bin of hit count, each bin's events validated on their
own: what the job's per-event totals, folded, must give."""
from collections.abc import Sequence
from typing import Any

import corvane
from corvane_tools.binned import Ratio
from corvane_tools.job import hit_count, validation_input


def ghost_rate_by_hits(events: Sequence[dict[str, Any]], tracks: Sequence[list[Any]],
                       edges: Sequence[float]) -> list[Ratio]:
    """Ghost tracks out of all tracks, for events grouped by their number of hits."""
    validated = validation_input(events)
    counts = [hit_count(event) for event in validated]
    rates = []
    for low, high in zip(edges[:-1], edges[1:]):
        chosen = [i for i, count in enumerate(counts) if low <= count < high]
        result = corvane.Validator.export_validation_to_json([validated[i] for i in chosen],
                                                             [tracks[i] for i in chosen], False)
        rates.append(Ratio(result["total_ghosts"], result["total_tracks"]))
    return rates
