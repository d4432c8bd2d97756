"""The detailed export's per-event statistics, kept on disk while the job folds them.

After every event the detailed export lists every category's running
statistics: about 2 KB of JSON text per event, so a million events do not fit
in memory. The fold hands over each unit's snapshots as soon as they are
folded; they are written here as the JSON text `json.dump(..., indent=1)`
gives the "events" dictionary, and copied into the report when it is written.
"""
import json
import tempfile
import weakref
from pathlib import Path
from typing import Any, BinaryIO, Final

COPY_BLOCK: Final = 1 << 20


class EventSnapshots:
    """The "events" dictionary of one algorithm's detailed export, held in an unnamed temporary file
    (in `directory`, or the system's default), which disappears with the object or the process."""

    def __init__(self, directory: Path | None = None) -> None:
        self._file = tempfile.TemporaryFile(dir=directory)
        self._close = weakref.finalize(self, self._file.close)
        self.entries = 0

    def add(self, events: dict[str, Any]) -> None:
        """Appends the next events' entries (keys go on from the last entry's)."""
        if not events:
            return
        text = json.dumps(events, indent=1)          # "{\n" entries "\n}"
        self._file.seek(0, 2)
        self._file.write(((",\n" if self.entries else "") + text[2:-2]).encode("ascii"))
        self.entries += len(events)

    def write_to(self, stream: BinaryIO, indent: int) -> None:
        """Writes the dictionary as `json.dump(..., indent=1)` writes it as the value of a key indented by
        `indent` spaces: every line break of the text at top level gains that indentation."""
        if not self.entries:
            stream.write(b"{}")
            return
        line_break = b"\n" + b" " * indent
        stream.write(b"{" + line_break)
        self._file.seek(0)
        while block := self._file.read(COPY_BLOCK):
            stream.write(block.replace(b"\n", line_break))
        stream.write(line_break + b"}")

    def load(self) -> dict[str, Any]:
        """The dictionary itself (for small runs: it is all read into memory)."""
        self._file.seek(0)
        text = self._file.read().decode("ascii")
        loaded: dict[str, Any] = json.loads("{\n" + text + "\n}") if self.entries else {}
        return loaded

    def close(self) -> None:
        self._close()
