"""Where a report's results come from: versions, command line, date, host."""
import datetime
import platform
import sys
from typing import Any

from . import __version__
from .algorithms import pool_size


def provenance(seed: int | None) -> dict[str, Any]:
    return {"corvane_version": __version__, "command": " ".join(sys.argv), "seed": seed,
            "date": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
            "host": platform.node(), "threads": pool_size()}
