"""Checks the type stubs (python/corvane-stubs, installed as `corvane-stubs`)
against the built module with mypy's stubtest; arguments go to stubtest.

The submodules of `corvane` are attributes, not importable modules, while
stubtest imports every module it checks by its dotted name: for this run
only, they are entered in sys.modules under those names.
"""
import sys

import corvane

for name in ("DetectorEvent", "ReconstructionAlgorithms", "Validator", "_generator", "_records", "_tools"):
    sys.modules[f"corvane.{name}"] = getattr(corvane, name)

from mypy.stubtest import main  # noqa: E402

sys.exit(main())
