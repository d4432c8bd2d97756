"""The two float text forms, seen through Hit.__repr__ (plain form) and
Module.__repr__ (diagnostic form)."""
import math
import re
from decimal import Decimal

import pytest
from hypothesis import given, strategies as st

from corvane import DetectorEvent

Hit, Module = DetectorEvent.Hit, DetectorEvent.Module


def plain(value):
    text = repr(Hit(value, 0.0, 0.0, 0))
    return re.fullmatch(r"#0 module -1 \{(.*), 0, 0\}", text).group(1)


def diagnostic(value):
    text = repr(Module(0, value, 0, 0, []))
    return re.search(r"At z: (.*)\n", text).group(1)


TABLE = [
    # value, plain form, diagnostic form
    (1e-7, "0.0000001", "1e-7"),
    (1e21, "1000000000000000000000", "1e21"),
    (1e16, "10000000000000000", "1e16"),
    (1e-5, "0.00001", "1e-5"),
    (1.5e-7, "0.00000015", "1.5e-7"),
    (0.1, "0.1", "0.1"),
    (1 / 3, "0.3333333333333333", "0.3333333333333333"),
    (-0.0, "-0", "-0.0"),
    (0.0, "0", "0.0"),
    (1.0, "1", "1.0"),
    (-2.0, "-2", "-2.0"),
    (100.0, "100", "100.0"),
    (1e-4, "0.0001", "0.0001"),
    (9999999999999998.0, "9999999999999998", "9999999999999998.0"),
    (-1.5e16, "-15000000000000000", "-1.5e16"),
    (float("nan"), "NaN", "NaN"),
    (float("inf"), "inf", "inf"),
    (float("-inf"), "-inf", "-inf"),
    (5e-324, "0." + "0" * 323 + "5", "5e-324"),
    (1.7976931348623157e308, "17976931348623157" + "0" * 292, "1.7976931348623157e308"),
]


@pytest.mark.parametrize("value, plain_text, diagnostic_text", TABLE)
def test_float_text_forms(value, plain_text, diagnostic_text):
    assert plain(value) == plain_text
    assert diagnostic(value) == diagnostic_text


def expected_diagnostic(value):
    # The interpreter's repr has the same digits and the same exponent
    # thresholds; only the exponent is spelled differently.
    text = repr(value)
    return re.sub(r"e([+-])0*(\d+)", lambda m: "e" + ("-" if m.group(1) == "-" else "") + m.group(2), text)


def expected_plain(value):
    return format(Decimal(repr(value)).normalize(), "f")


@given(st.floats(allow_nan=False, allow_infinity=False))
def test_forms_carry_the_shortest_round_trip_digits(value):
    assert diagnostic(value) == expected_diagnostic(value)
    text = plain(value)
    assert text == expected_plain(value)
    assert "e" not in text
    assert float(text) == value and math.copysign(1, float(text)) == math.copysign(1, value)
