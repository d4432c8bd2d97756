"""The event model: hits, tracks, modules and events. Every attribute is
read-only and every read returns new objects holding copies (except
``Event.montecarlo``, the stored object itself)."""
from collections.abc import Sequence
from typing import Any, SupportsFloat, SupportsIndex, final

__all__ = ["Hit", "Track", "Module", "Event"]

@final
class Hit:
    """One measured point. ``module`` defaults to -1, ``t`` to 0.0 and
    ``with_t`` to False; ``t`` is shown by repr only when ``with_t``."""

    def __new__(
        cls,
        x: SupportsFloat,
        y: SupportsFloat,
        z: SupportsFloat,
        hit_id: SupportsIndex,
        module: SupportsIndex | None = None,
        t: SupportsFloat | None = None,
        with_t: bool | None = None,
    ) -> Hit: ...
    @property
    def id(self) -> int: ...
    @property
    def x(self) -> float: ...
    @property
    def y(self) -> float: ...
    @property
    def z(self) -> float: ...
    @property
    def t(self) -> float: ...
    @property
    def module_number(self) -> int: ...
    @property
    def with_t(self) -> bool: ...
    def __reduce__(self) -> tuple[Any, ...]: ...

@final
class Track:
    """A reconstructed trajectory: its hits in assignment order and two flags
    (False for tracks built from Python)."""

    def __new__(cls, hits: Sequence[Hit]) -> Track: ...
    @property
    def hits(self) -> list[Hit]: ...
    @property
    def missed_last_module(self) -> bool: ...
    @property
    def missed_penultimate_module(self) -> bool: ...
    def add_hit(self, hit: Hit) -> None: ...
    def __reduce__(self) -> tuple[Any, ...]: ...

@final
class Module:
    """One detector layer: the hits ``global_hits[hit_start_index:hit_end_index]``
    at position ``z``."""

    def __new__(
        cls,
        module_number: SupportsIndex,
        z: SupportsFloat,
        hit_start_index: SupportsIndex,
        hit_end_index: SupportsIndex,
        global_hits: Sequence[Hit],
    ) -> Module: ...
    @property
    def module_number(self) -> int: ...
    def hits(self) -> list[Hit]: ...
    def __reduce__(self) -> tuple[Any, ...]: ...

@final
class Event:
    """One event, built from an event dictionary with the keys "description"
    (str), "montecarlo" (any object), "module_prefix_sum" (at least 53
    non-negative ints), "x", "y", "z" and optionally "t" (numbers by hit
    index)."""

    def __new__(cls, json_data: dict[str, Any]) -> Event: ...
    @property
    def description(self) -> str: ...
    @property
    def montecarlo(self) -> Any: ...
    @property
    def module_prefix_sum(self) -> list[int]: ...
    @property
    def number_of_hits(self) -> int: ...
    @property
    def module_zs(self) -> list[list[float]]:
        """For each module, a vector of unique z values."""
    @property
    def hits(self) -> list[Hit]: ...
    @property
    def modules(self) -> list[Module]: ...
    def __reduce__(self) -> tuple[Any, ...]: ...
