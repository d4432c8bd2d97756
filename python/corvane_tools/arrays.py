"""Tracks and events as NumPy arrays (and Awkward Arrays, when installed).

The conversions run natively: each track and hit is read once, without a
Python loop, so turning the tracks of an event into arrays costs a small
fraction of reconstructing them.

Track lists become flat columns: the hit ids of all tracks one after the
other (``hit_ids``), and ``offsets`` with one entry more than there are
tracks, so that track ``i`` holds ``hit_ids[offsets[i]:offsets[i + 1]]``.
Hit ids are the hits' positions in the event's coordinate lists, the same
ids that ``Event.hits`` reports.
"""
from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

import corvane

if TYPE_CHECKING:
    from corvane.DetectorEvent import Event, Hit, Track

__all__ = ["TrackArrays", "EventArrays", "track_arrays", "batch_track_arrays", "split_track_columns", "tracks_from_arrays", "event_arrays",
           "track_hit_ids_awkward"]


@dataclass(frozen=True)
class TrackArrays:
    """The tracks of one event as flat columns.

    ``hit_ids`` (int32) holds every track's hit ids in track order;
    ``offsets`` (int64, length = number of tracks + 1, starting at 0) bounds
    each track's slice; ``missed_last_module`` and ``missed_penultimate_module``
    (bool) are the per-track flags.
    """

    hit_ids: npt.NDArray[np.int32]
    offsets: npt.NDArray[np.int64]
    missed_last_module: npt.NDArray[np.bool_]
    missed_penultimate_module: npt.NDArray[np.bool_]

    def __len__(self) -> int:
        return len(self.offsets) - 1

    @property
    def lengths(self) -> npt.NDArray[np.int64]:
        """Number of hits of each track."""
        return np.diff(self.offsets)

    def track(self, i: int) -> npt.NDArray[np.int32]:
        """The hit ids of track ``i``, in the track's order."""
        if not -len(self) <= i < len(self):
            raise IndexError(f"track index {i} out of range for {len(self)} tracks")
        i %= len(self)
        return self.hit_ids[self.offsets[i]:self.offsets[i + 1]]


@dataclass(frozen=True)
class EventArrays:
    """The hits of one event as columns, in hit order (``id[i] == i``).

    Coordinates and times are float64 in the event's own units (the
    generator writes millimetres); ``t`` is 0.0 for every hit when the event
    carries no times (then ``with_t`` is False). ``module_prefix_sum`` holds
    the module boundaries: the hits of module ``m`` are
    ``module_prefix_sum[m]`` up to ``module_prefix_sum[m + 1]``.
    """

    id: npt.NDArray[np.int32]
    x: npt.NDArray[np.float64]
    y: npt.NDArray[np.float64]
    z: npt.NDArray[np.float64]
    t: npt.NDArray[np.float64]
    module_number: npt.NDArray[np.int32]
    module_prefix_sum: npt.NDArray[np.uint64]
    with_t: bool


def track_arrays(tracks: Sequence[Track]) -> TrackArrays:
    """The hit ids, offsets and flags of a list of ``Track`` (e.g. what
    ``solve`` returns) as NumPy arrays."""
    hit_ids, offsets, missed_last, missed_penultimate = corvane._tools.track_arrays(tracks)
    return TrackArrays(
        hit_ids=np.frombuffer(hit_ids, dtype=np.int32),
        offsets=np.frombuffer(offsets, dtype=np.int64),
        missed_last_module=np.frombuffer(missed_last, dtype=np.bool_),
        missed_penultimate_module=np.frombuffer(missed_penultimate, dtype=np.bool_),
    )


def batch_track_arrays(track_lists: Sequence[Sequence[Track]]) -> list[TrackArrays]:
    """One ``TrackArrays`` per event, for what ``solve_batch`` returns."""
    return [track_arrays(tracks) for tracks in track_lists]


def split_track_columns(hit_ids: Any, offsets: Any, missed_last: Any, missed_penultimate: Any,
                        track_counts: Any) -> list[TrackArrays]:
    """One ``TrackArrays`` per event from the flat columns of a batch of events (bytes-like, as
    ``corvane._records.measure_tracks`` returns them: offsets run over the whole batch, and
    ``track_counts`` gives each event's number of tracks). The hit ids and flags are views of the
    batch's columns."""
    ids = np.frombuffer(hit_ids, dtype=np.int32)
    bounds = np.frombuffer(offsets, dtype=np.int64)
    last = np.frombuffer(missed_last, dtype=np.bool_)
    penultimate = np.frombuffer(missed_penultimate, dtype=np.bool_)
    firsts = np.concatenate(([0], np.cumsum(np.frombuffer(track_counts, dtype=np.int64)))).tolist()
    hit_starts = bounds[firsts].tolist()
    return [TrackArrays(hit_ids=ids[hit_starts[k]:hit_starts[k + 1]],
                        offsets=bounds[first:stop + 1] - hit_starts[k],
                        missed_last_module=last[first:stop], missed_penultimate_module=penultimate[first:stop])
            for k, (first, stop) in enumerate(zip(firsts, firsts[1:]))]


def tracks_from_arrays(arrays: TrackArrays, hits: Sequence[Hit]) -> list[Track]:
    """``Track`` objects again, flags included, from their arrays and the event's hits (``Event.hits``,
    where hit ``i`` has id ``i``). IndexError names a hit id that is not a hit of the event."""
    ids = np.asarray(arrays.hit_ids)
    outside = (ids < 0) | (ids >= len(hits))
    if outside.any():
        raise IndexError(f"hit id {int(ids[outside][0])} is not a hit of the event ({len(hits)} hits)")
    # Unpickling is the one way to set a track's flags from Python.
    restore, _ = corvane.DetectorEvent.Track([]).__reduce__()
    ids_list, offsets = ids.tolist(), np.asarray(arrays.offsets).tolist()
    last, penultimate = arrays.missed_last_module.tolist(), arrays.missed_penultimate_module.tolist()
    return [restore("Track", ([hits[i] for i in ids_list[offsets[k]:offsets[k + 1]]], bool(last[k]),
                              bool(penultimate[k]), 0))
            for k in range(len(offsets) - 1)]


def event_arrays(event: Event) -> EventArrays:
    """The hit coordinates, times, ids and module numbers of an ``Event``."""
    hit_id, x, y, z, t, module_number, with_t = corvane._tools.event_arrays(event)
    return EventArrays(
        id=np.frombuffer(hit_id, dtype=np.int32),
        x=np.frombuffer(x, dtype=np.float64),
        y=np.frombuffer(y, dtype=np.float64),
        z=np.frombuffer(z, dtype=np.float64),
        t=np.frombuffer(t, dtype=np.float64),
        module_number=np.frombuffer(module_number, dtype=np.int32),
        module_prefix_sum=np.asarray(event.module_prefix_sum, dtype=np.uint64),
        with_t=with_t,
    )


def track_hit_ids_awkward(tracks: Sequence[Track] | TrackArrays) -> Any:
    """The tracks' hit ids as an Awkward Array of variable-length lists
    (``var * int32``), sharing memory with ``track_arrays``.

    Needs the optional ``awkward`` package (``pip install "corvane[awkward]"``).
    """
    try:
        import awkward as ak
    except ImportError as missing:
        raise ImportError('track_hit_ids_awkward needs the awkward package: pip install "corvane[awkward]"') \
            from missing
    arrays = tracks if isinstance(tracks, TrackArrays) else track_arrays(tracks)
    content = ak.contents.ListOffsetArray(ak.index.Index64(arrays.offsets), ak.contents.NumpyArray(arrays.hit_ids))
    return ak.Array(content)
