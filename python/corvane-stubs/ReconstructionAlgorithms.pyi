"""The three track finders. Parameters are given to the constructor only
(None stands for the default) and cannot be read back."""
from collections.abc import Sequence
from typing import Any, SupportsFloat, SupportsIndex, final

from .DetectorEvent import Event, Hit, Track

__all__ = ["TrackFollowing", "GraphDFS", "SearchByTripletTrie"]

_Pair = tuple[SupportsFloat, SupportsFloat]

@final
class TrackFollowing:
    """Seeds from modules two apart, followed module by module.

    Defaults: max_slopes (0.7, 0.7), max_tolerance (0.4, 0.4), max_scatter
    0.4, min_track_length 3, min_strong_track_length 4 (lengths 0 to 255).
    """

    def __new__(
        cls,
        max_slopes: _Pair | None = None,
        max_tolerance: _Pair | None = None,
        max_scatter: SupportsFloat | None = None,
        min_track_length: SupportsIndex | None = None,
        min_strong_track_length: SupportsIndex | None = None,
    ) -> TrackFollowing: ...
    def are_compatible(self, hit0: Hit, hit1: Hit) -> bool: ...
    def check_tolerance(self, hit0: Hit, hit1: Hit, hit2: Hit) -> bool: ...
    def solve(self, event: Event) -> list[Track]: ...
    def solve_batch(self, events: Sequence[Event]) -> list[list[Track]]: ...
    def __reduce__(self) -> tuple[Any, ...]: ...

@final
class GraphDFS:
    """Segments joined into a graph; one shortest path per root.

    Defaults: max_slopes (0.7, 0.7), max_tolerance (0.4, 0.4), max_scatter
    0.4, minimum_root_weight 1, weight_assignment_iterations 2,
    allowed_skip_modules 1, allow_cross_track True, clone_ghost_killing True.
    """

    def __new__(
        cls,
        max_slopes: _Pair | None = None,
        max_tolerance: _Pair | None = None,
        max_scatter: SupportsFloat | None = None,
        minimum_root_weight: SupportsIndex | None = None,
        weight_assignment_iterations: SupportsIndex | None = None,
        allowed_skip_modules: SupportsIndex | None = None,
        allow_cross_track: bool | None = None,
        clone_ghost_killing: bool | None = None,
    ) -> GraphDFS: ...
    def solve(self, event: Event) -> list[Track]:
        """Solves the event using the DFS strategy and returns a list of Tracks."""
    def solve_batch(self, events: Sequence[Event]) -> list[list[Track]]: ...
    def __reduce__(self) -> tuple[Any, ...]: ...

@final
class SearchByTripletTrie:
    """Triplet tries over pairs of modules, swept from the last layer.

    Defaults: max_scatter 0.1, min_strong_track_length 4,
    allowed_missed_modules 2.
    """

    def __new__(
        cls,
        max_scatter: SupportsFloat | None = None,
        min_strong_track_length: SupportsIndex | None = None,
        allowed_missed_modules: SupportsIndex | None = None,
    ) -> SearchByTripletTrie: ...
    def solve(self, event: Event) -> list[Track]:
        """Processes the event to assemble tracks."""
    def solve_batch(self, events: Sequence[Event]) -> list[list[Track]]: ...
    def __reduce__(self) -> tuple[Any, ...]: ...
