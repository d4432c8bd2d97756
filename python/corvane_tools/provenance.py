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
import threading
from collections.abc import Mapping, Sequence
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


class Stopped(Exception):
    """Hashing was called off."""


def file_digest(path: Path, stop: threading.Event | None = None) -> str:
    digest = hashlib.sha256()
    with path.open("rb") as stream:
        while block := stream.read(READ_BLOCK):
            if stop is not None and stop.is_set():
                raise Stopped(path)
            digest.update(block)
    return digest.hexdigest()


def _digest_or_none(path: str, stop: threading.Event | None = None) -> str | None:
    try:
        return file_digest(Path(path), stop)
    except OSError:
        return None   # gone since it was read, or readable only by the cluster's workers


def _input_paths(units: Sequence[WorkUnit]) -> dict[str, int]:
    """Each input file in job order, with the events planned from it."""
    planned: dict[str, int] = {}
    for unit in units:
        for path in unit.paths:
            planned[path] = planned.get(path, 0) + (unit.events if unit.row_group is not None else 1)
    return planned


class InputDigests:
    """The input files' SHA-256, computed on a thread of its own while the job reads the same files (the
    hash and the reads leave the interpreter lock free), instead of reading them all again at the end."""

    def __init__(self, units: Sequence[WorkUnit]) -> None:
        self._paths = list(_input_paths(units))
        self.digests: dict[str, str | None] = {}
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._hash_all, name="corvane input digests", daemon=True)
        self._thread.start()

    def _hash_all(self) -> None:
        try:
            for path in self._paths:
                self.digests[path] = _digest_or_none(path, self._stop)
        except Stopped:
            pass

    def finished(self) -> dict[str, str | None]:
        """Waits for the digests (a file the thread could not hash is missing: the caller hashes it)."""
        self._thread.join()
        return self.digests

    def stop(self) -> None:
        self._stop.set()
        self._thread.join()


def input_files(units: Sequence[WorkUnit], digests: Mapping[str, str | None] | None = None) -> list[dict[str, Any]]:
    """Each input file in job order, with the events planned from it and its SHA-256 (taken from
    `digests` when there, read now otherwise)."""
    known = digests or {}
    return [{"path": path, "events": events,
             "sha256": known[path] if path in known else _digest_or_none(path)}
            for path, events in _input_paths(units).items()]


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
