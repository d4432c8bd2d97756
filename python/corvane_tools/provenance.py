"""Where a report's results come from: versions, command line, inputs, date, host.

Two reports of the same events name the same inputs: every input file with
its SHA-256 and the events the job planned from it, and `events_digest`,
a SHA-256 over the content digests of the events processed, in job order
(see `event_identity`), which also covers a generated sample.
"""
import datetime
import hashlib
import platform
import shlex
import sys
from collections.abc import Sequence
from pathlib import Path
from typing import Any, Final

import corvane

from . import __version__
from .algorithms import pool_size
from .work_units import UnitResult, WorkUnit

READ_BLOCK: Final = 1 << 20
COMMAND_LINE_KEY: Final = "corvane.command_line"   # where the command keeps its arguments (click's meta)


def compiled_version() -> str:
    """The compiled module's version, or this package's when the module does not say."""
    return str(getattr(corvane, "__version__", None) or __version__)


def file_digest(path: Path) -> str:
    digest = hashlib.sha256()
    with path.open("rb") as stream:
        while block := stream.read(READ_BLOCK):
            digest.update(block)
    return digest.hexdigest()


def input_files(units: Sequence[WorkUnit]) -> list[dict[str, Any]]:
    """Each input file in job order, with the events planned from it and its SHA-256."""
    planned: dict[str, int] = {}
    for unit in units:
        for path in unit.paths:
            planned[path] = planned.get(path, 0) + (unit.events if unit.row_group is not None else 1)
    files = []
    for path, events in planned.items():
        try:
            sha256: str | None = file_digest(Path(path))
        except OSError:
            sha256 = None   # gone since it was read, or readable only by the cluster's workers
        files.append({"path": path, "events": events, "sha256": sha256})
    return files


class EventsDigest:
    """A running SHA-256 over the events' content digests, fed as a JobFold sink (the job must name its
    events: JobOptions(identify=True))."""

    def __init__(self) -> None:
        self._digest = hashlib.sha256()

    def add(self, _first_event: int, result: UnitResult) -> None:
        for identity in result.identities:
            self._digest.update(bytes.fromhex(identity.digest))

    def hexdigest(self) -> str:
        return self._digest.hexdigest()


def provenance(seed: int | None, threads: int | None = None, inputs: list[dict[str, Any]] | None = None,
               events_digest: str | None = None, command: Sequence[str] | None = None) -> dict[str, Any]:
    """The provenance block of a report; `threads` defaults to the local worker pool's size, `command`
    to this process's arguments."""
    return {"corvane_version": compiled_version(), "tools_version": __version__,
            "command": shlex.join(command if command is not None else ["corvane", *sys.argv[1:]]), "inputs": inputs if inputs is not None else [],
            "events_digest": events_digest, "seed": seed, "threads": pool_size() if threads is None else threads,
            "date": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
            "host": platform.node(), "python": platform.python_version()}
