"""One event of a file, by its position, read by the same rule as every other event of a job."""
from pathlib import Path

from .event_files import PARQUET_SUFFIX, EventFileError, expand_inputs, read_events
from .event_dict import EventDict


def _parquet_rows(path: Path) -> list[int]:
    import pyarrow as pa
    import pyarrow.parquet as pq

    try:
        metadata = pq.ParquetFile(path).metadata
    except (OSError, pa.ArrowException, UnicodeDecodeError) as error:
        raise EventFileError(f"{path}: not a readable Parquet file ({str(error).splitlines()[0]})") from None
    return [metadata.row_group(group).num_rows for group in range(metadata.num_row_groups)]


def nth_event(path: Path, index: int) -> tuple[str, EventDict]:
    """(source, checked event) of the event at position `index` of one file. Only that event (and
    its row group) is read, so other events of the file do not matter; EventFileError when it is
    not there or not usable."""
    if path.is_dir():
        raise EventFileError(f"{path}: is a directory; name one .json or .parquet file")
    file = expand_inputs([path])[0]
    if file.suffix.lower() != PARQUET_SUFFIX:
        sizes, group, rows = [1], None, None
    else:
        sizes = _parquet_rows(file)
        first, group = 0, 0
        while group < len(sizes) and first + sizes[group] <= index:
            first += sizes[group]
            group += 1
        rows = range(index - first, index - first + 1)
    if index >= sum(sizes):
        raise EventFileError(f"{path}: holds {sum(sizes)} event(s); there is no event {index}")
    for _position, source, event in read_events(file, group, None, rows):
        return source, event
    raise EventFileError(f"{path}: no event {index}")  # unreachable: a problem raises above
