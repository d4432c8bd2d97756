"""Output paths checked before any work, so a job never fails at its end for a path it was given."""
import contextlib
import os
from collections.abc import Iterator, Sequence
from pathlib import Path
from typing import BinaryIO

from .sample_output import written_in_place


class OutputPathError(ValueError):
    """An output path that cannot be written; the message is one line naming the option and path."""


def _writable_directory(directory: Path, option: str, path: Path) -> None:
    if not directory.exists():
        raise OutputPathError(f"{option} {path}: directory {directory} does not exist")
    if not directory.is_dir():
        raise OutputPathError(f"{option} {path}: {directory} is not a directory")
    if not os.access(directory, os.W_OK | os.X_OK):
        raise OutputPathError(f"{option} {path}: directory {directory} is not writable")


def check_output_file(path: Path, option: str) -> None:
    """A file the job will create or replace: its directory must exist and be writable."""
    if path.is_dir():
        raise OutputPathError(f"{option} {path}: is a directory; name a file")
    if path.exists() and not os.access(path, os.W_OK):
        raise OutputPathError(f"{option} {path}: is not writable")
    _writable_directory(path.parent, option, path)


def check_not_an_input(path: Path, option: str, inputs: Sequence[str | os.PathLike[str]]) -> None:
    """An output file must not replace an input of the same job: a named file, or an existing file
    inside a named directory (the directories are searched for events, so it is one of them)."""
    target = path.resolve()
    for name in inputs:
        source = Path(name).resolve()
        if target == source or (source.is_dir() and source in target.parents and target.is_file()):
            raise OutputPathError(f"{option} {path}: is an input of this job; name another file")


def check_output_directory(path: Path, option: str) -> None:
    """A directory the job will write into, created (with its parents) when missing."""
    if path.exists():
        if not path.is_dir():
            raise OutputPathError(f"{option} {path}: exists and is not a directory")
        _writable_directory(path, option, path)
        return
    ancestor = path.parent
    while not ancestor.exists() and ancestor != ancestor.parent:
        ancestor = ancestor.parent
    _writable_directory(ancestor, option, path)


IMAGE_SUFFIXES = (".png", ".pdf", ".svg")


def image_path(path: Path) -> Path:
    """The file an image is written to: `path` itself, with ".png" added when it has no suffix."""
    if not path.suffix:
        return path.with_name(path.name + ".png")
    if path.suffix.lower() not in IMAGE_SUFFIXES:
        raise OutputPathError(f"--out {path}: unknown image type '{path.suffix}'; use {', '.join(IMAGE_SUFFIXES)}")
    return path


@contextlib.contextmanager
def replacing(path: Path) -> Iterator[BinaryIO]:
    """A stream into a temporary file beside `path` that takes its name only once the block completes;
    on any failure it is removed and `path` is left as it was."""
    with written_in_place(path) as temporary, temporary.open("wb") as stream:
        yield stream
