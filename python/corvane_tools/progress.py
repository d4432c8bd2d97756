"""Progress bars on standard error, shown only to a person at a terminal."""
import sys
from typing import Any

from tqdm import tqdm


def progress_bar(total: int, description: str, quiet: bool = False) -> "tqdm[Any]":
    """A bar counting to `total`; silent when `quiet` or when standard error is not a terminal."""
    return tqdm(total=total, desc=description, unit="event", file=sys.stderr, leave=False,
                disable=quiet or not sys.stderr.isatty(), dynamic_ncols=True)
