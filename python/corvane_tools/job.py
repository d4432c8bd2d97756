"""What every part of the main job shares: the events per batch call, an event's hit count, the
timing of the solver's batch calls and the events as the validation reads them.
"""
from collections.abc import Sequence
from dataclasses import asdict, dataclass
from typing import Any, Final

from .detector import MODULE_COUNT
from .event_dict import EventDict, plain

DEFAULT_CHUNK: Final = 16   # events per solve_batch call: keeps both threads busy, memory small


def hit_count(event: EventDict) -> int:
    return int(event["module_prefix_sum"][MODULE_COUNT])


@dataclass
class Timing:
    """Wall time spent in the solver's batch calls."""
    events: int
    hits: int
    seconds: float
    threads: int

    def rates(self) -> tuple[float, float, float]:
        """(events per second, milliseconds per event, hits per second)."""
        if self.seconds <= 0.0 or self.events == 0:
            return 0.0, 0.0, 0.0
        return self.events / self.seconds, 1000.0 * self.seconds / self.events, self.hits / self.seconds

    def line(self, label: str) -> str:
        per_second, per_event, hits_per_second = self.rates()
        return (f"{label}: {self.events} events in {self.seconds:.3f} s: {per_second:,.1f} events/s, "
                f"{per_event:.2f} ms/event, {hits_per_second:,.0f} hits/s "
                f"({self.threads} thread{'' if self.threads == 1 else 's'})")

    def as_dict(self) -> dict[str, Any]:
        per_second, per_event, hits_per_second = self.rates()
        return {**asdict(self), "events_per_second": per_second, "ms_per_event": per_event,
                "hits_per_second": hits_per_second}


def validation_input(events: Sequence[EventDict]) -> list[dict[str, Any]]:
    """The events as the validation reads them: an event whose Monte Carlo record is None has no truth."""
    return [plain(event) if event.get("montecarlo") is not None else
            {key: value for key, value in event.items() if key != "montecarlo"} for event in events]
