"""Tools around the compiled `corvane` module: event generation, event files,
the `corvane` command, plots, arrays and reports.

The compiled module keeps its own fixed surface; everything here is plain
Python built on top of it.
"""
from importlib.metadata import PackageNotFoundError, version

try:
    __version__ = version("corvane")
except PackageNotFoundError:  # running from a source tree
    __version__ = "0.0.0+unknown"

__all__ = ["__version__"]
