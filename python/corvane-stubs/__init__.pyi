"""Straight-track reconstruction and Monte Carlo validation for a 52-module
pixel tracking detector.

The submodules are attributes of ``corvane`` (``from corvane import
DetectorEvent``); ``import corvane.DetectorEvent`` does not work at run time.
"""
from typing import Any

from . import DetectorEvent as DetectorEvent
from . import ReconstructionAlgorithms as ReconstructionAlgorithms
from . import Validator as Validator
from . import _generator as _generator
from . import _records as _records
from . import _tools as _tools

__all__ = ["ReconstructionAlgorithms", "Validator", "DetectorEvent"]

__version__: str

class InternalFailure(BaseException):
    """The input broke a precondition of the module (a missing key, too few
    module boundaries, ...). Derives from BaseException, not Exception."""

def _restore(class_name: str, arguments: tuple[Any, ...]) -> Any: ...
