"""The JSON report written as `json.dump(report, stream, indent=1)` writes it, without holding the
per-event statistics in memory: they are copied in from their files where they belong."""
import json
import uuid
from pathlib import Path
from typing import Any

from .event_snapshots import EventSnapshots
from .output_paths import replacing


def write_report(path: Path, report: dict[str, Any]) -> None:
    """Writes `report` to `path` (complete, or not at all); EventSnapshots values are streamed in."""
    snapshots: list[EventSnapshots] = []
    token = f"\0snapshots-{uuid.uuid4().hex}-"

    def stand_in(value: Any) -> str:
        if not isinstance(value, EventSnapshots):
            raise TypeError(f"Object of type {type(value).__name__} is not JSON serializable")
        snapshots.append(value)
        return f"{token}{len(snapshots) - 1}"

    text = json.dumps(report, indent=1, default=stand_in)
    with replacing(path) as stream:
        position = 0
        for index, value in enumerate(snapshots):
            marker = json.dumps(f"{token}{index}")
            start = text.index(marker, position)
            line_start = text.rfind("\n", 0, start) + 1
            indent = len(text[line_start:start]) - len(text[line_start:start].lstrip(" "))
            stream.write(text[position:start].encode("ascii"))
            value.write_to(stream, indent)
            position = start + len(marker)
        stream.write(text[position:].encode("ascii"))
