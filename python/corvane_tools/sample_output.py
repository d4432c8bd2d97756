"""Where a generated sample goes, so that it appears complete or not at all.

A sample is one .parquet file, one .json file, or a directory of
event_NNNNN.json files. Everything is written under a hidden temporary name
next to its target and renamed into place once complete; a directory is
built whole under such a name, its manifest (`MANIFEST_NAME`) written last,
and renamed into place at the end. An interrupted run leaves at most a
hidden temporary entry behind, never a sample that looks complete.

An output that already holds something is refused, unless asked to
overwrite it: then the new sample replaces the old one whole.
"""
import json
import os
import re
import shutil
from collections.abc import Callable, Iterator
from contextlib import contextmanager
from pathlib import Path
from typing import Any, Final

MANIFEST_NAME: Final = "manifest.json"
MANIFEST_FORMAT: Final = "corvane sample 1"
JSON_SUFFIX: Final = ".json"
PARQUET_SUFFIX: Final = ".parquet"
PARTIAL_MARK: Final = ".partial-"
GENERATED_NAME: Final = re.compile(r"event_\d{5,}\.json")


class OutputError(Exception):
    """An output that cannot or may not be written; the message is one line."""


def event_file_name(index: int) -> str:
    return f"event_{index:05d}{JSON_SUFFIX}"


def output_kind(path: Path, count: int) -> str:
    """"parquet", "json" (one event) or "directory"; OutputError for an output that cannot take the sample."""
    suffix = path.suffix.lower()
    if suffix == PARQUET_SUFFIX:
        return "parquet"
    if suffix == JSON_SUFFIX:
        if count != 1:
            raise OutputError(f"{path}: a .json file holds exactly one event, not {count}; name a directory "
                              f"or a .parquet file, or generate with -n 1")
        return "json"
    if suffix and not path.is_dir():
        raise OutputError(f"{path}: unknown output type '{path.suffix}'; name a .parquet file, a .json file "
                          f"or a directory (without a suffix)")
    return "directory"


def check_replaceable(path: Path, overwrite: bool) -> None:
    """Refuses an output that holds something already, unless `overwrite`."""
    if path.is_symlink() or path.is_file():
        if not overwrite:
            raise OutputError(f"{path}: exists already; pass --overwrite to replace it")
        if path.is_dir():
            raise OutputError(f"{path}: is a link to a directory; remove it or name another output")
        return
    if path.is_dir():
        if Path.cwd().resolve().is_relative_to(path.resolve()):
            raise OutputError(f"{path}: holds the current directory; name another output")
        if any(path.iterdir()) and not overwrite:
            raise OutputError(f"{path}: directory is not empty; pass --overwrite to replace the sample in it whole")
        return
    if path.exists():
        raise OutputError(f"{path}: exists and is neither a file nor a directory")
    if not path.parent.is_dir():
        raise OutputError(f"{path.parent}: no such directory")


def _temporary_name(path: Path) -> Path:
    return path.with_name(f".{path.name}{PARTIAL_MARK}{os.getpid()}")


def _remove(path: Path) -> None:
    if path.is_dir() and not path.is_symlink():
        shutil.rmtree(path, ignore_errors=True)
    else:
        path.unlink(missing_ok=True)


def _put_in_place(temporary: Path, path: Path) -> None:
    """Renames `temporary` to `path`, replacing what `path` held (a file, or a directory whole)."""
    if temporary.is_dir() and path.is_dir():
        retired = path.with_name(f".{path.name}.replaced-{os.getpid()}")
        os.rename(path, retired)
        os.rename(temporary, path)
        _remove(retired)
    else:
        os.replace(temporary, path)


@contextmanager
def written_in_place(path: Path) -> Iterator[Path]:
    """A temporary path to write `path`'s content to; renamed to `path` when the block ends normally,
    removed when it does not."""
    temporary = _temporary_name(path)
    _remove(temporary)
    try:
        yield temporary
        _put_in_place(temporary, path)
    except BaseException:
        _remove(temporary)
        raise


def write_file_atomically(path: Path, write: Callable[[Path], Any]) -> None:
    """Calls `write(temporary)`, then renames the temporary file to `path`."""
    with written_in_place(path) as temporary:
        write(temporary)


def write_manifest(directory: Path, files: list[str], details: dict[str, Any]) -> None:
    """The manifest of a complete directory sample: its files, in order, and how it was made."""
    manifest = {"format": MANIFEST_FORMAT, "complete": True, "events": len(files), "files": files, **details}
    write_file_atomically(directory / MANIFEST_NAME,
                          lambda temporary: temporary.write_text(json.dumps(manifest, indent=1), encoding="utf-8"))


def incomplete_sample(directory: Path) -> str | None:
    """Why a directory looks like an incomplete generated sample, or None.

    A generated directory has a manifest naming all its event files; a
    directory of event_NNNNN.json files without one, leftover temporary
    files, or files missing from the manifest mean an interrupted run.
    """
    names = {entry.name for entry in directory.iterdir()}
    if any(PARTIAL_MARK in name for name in names):
        return "holds temporary files of an interrupted write"
    manifest_path = directory / MANIFEST_NAME
    if not manifest_path.is_file():
        generated = [name for name in names if GENERATED_NAME.fullmatch(name)]
        return "holds generated event files but no manifest (interrupted generation?)" if generated else None
    try:
        manifest = json.loads(manifest_path.read_text(encoding="utf-8"))
        listed = [str(name) for name in manifest["files"]]
        complete = manifest.get("complete") is True
    except (OSError, ValueError, KeyError, TypeError):
        return f"its {MANIFEST_NAME} cannot be read"
    missing = [name for name in listed if name not in names]
    if not complete or missing:
        return f"misses {len(missing)} of the {len(listed)} files its {MANIFEST_NAME} lists" if missing else \
            f"its {MANIFEST_NAME} does not mark it complete"
    return None
