"""The event dictionary as `Event(d)`, the validation functions and the event files hold it."""
from collections.abc import Sequence
from typing import Any, NotRequired, TypedDict, cast

import numpy as np
import numpy.typing as npt

# Lists as written to JSON, float64/int64 arrays once checked or read from Parquet.
Coordinates = Sequence[float] | npt.NDArray[np.float64]
PrefixSum = Sequence[int] | npt.NDArray[np.int64]


class EventDict(TypedDict):
    description: str
    # {"description": [column names], "particles": [rows]}, a record still in its Parquet columns, or None
    # for an event without truth.
    montecarlo: Any
    module_prefix_sum: PrefixSum
    x: Coordinates
    y: Coordinates
    z: Coordinates
    t: NotRequired[Coordinates]


def plain(event: EventDict) -> dict[str, Any]:
    """The same dictionary, typed as the compiled module's functions take it."""
    return cast(dict[str, Any], event)
