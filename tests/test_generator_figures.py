"""The figures that docs/generator.md sets beside publications, measured on generated samples."""
import re
from pathlib import Path

import pytest

from corvane_tools.generator_figures import figures

DOCS = Path(__file__).resolve().parent.parent / "docs" / "generator.md"
ROW = re.compile(r"^\|[^|]*(?:\\\|[^|]*)*\| `(?P<key>[\w.]+)` \| (?P<expected>[\d.]+) \| (?P<tolerance>[\d.]+) \|")


def documented():
    section = DOCS.read_text().split("## Figures to compare with publications", 1)[1]
    rows = {m["key"]: (float(m["expected"]), float(m["tolerance"]))
            for m in map(ROW.match, section.splitlines()) if m}
    assert len(rows) >= 9, "the figures table of docs/generator.md cannot be read"
    return rows


@pytest.fixture(scope="module")
def measured():
    return figures(100, 1)


@pytest.mark.parametrize("key", sorted(documented()))
def test_figure_within_its_documented_tolerance(measured, key):
    expected, tolerance = documented()[key]
    assert abs(measured[key] - expected) <= tolerance, f"{key}: measured {measured[key]:.4g}, documented {expected}"
