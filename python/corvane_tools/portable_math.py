"""The natural logarithm of float64 arrays in plain IEEE arithmetic (the steps of the compiled generator's own,
`corvane._generator.elementary("log", ...)`), so that the generator's array code gives the same bits as its
compiled part on every processor: NumPy's own logarithm picks its kernel by processor."""
from typing import Final

import numpy as np

from .detector import FloatArray

LN2_HI: Final = 6.93147180369123816490e-01    # ln 2 in two parts: k * LN2_HI is exact for |k| < 2^11
LN2_LO: Final = 1.90821492927058770002e-10
SMALLEST_NORMAL: Final = 2.2250738585072014e-308
MANTISSA: Final = 0x000fffffffffffff
ONE_BITS: Final = 0x3ff0000000000000


def log(x: FloatArray) -> FloatArray:
    """ln(x) elementwise: within 1.5 ulp, NaN below 0, -inf at 0."""
    x = np.asarray(x, np.float64)
    usable = np.isfinite(x) & (x > 0.0)
    v = np.where(usable, x, 1.0)
    subnormal = v < SMALLEST_NORMAL
    v = v * np.where(subnormal, 2.0 ** 54, 1.0)
    bits = v.view(np.int64)
    exponent = (bits >> 52) - 1023 - np.where(subnormal, 54, 0)
    m = ((bits & MANTISSA) | ONE_BITS).view(np.float64)   # in [1, 2)
    upper = m > 1.4142135623730951
    m = np.where(upper, m * 0.5, m)
    exponent = exponent + upper
    # log(1 + f) = 2 atanh(s) with s = f / (2 + f) = 2s + s * r, and 2s = f - s * f
    f = m - 1.0
    s = f / (2.0 + f)
    z = s * s
    r = np.zeros_like(z)
    for k in range(11, 0, -1):
        r = 2.0 / (2 * k + 1) + z * r
    r = z * r
    e = exponent.astype(np.float64)
    result: FloatArray = e * LN2_HI + (f - (s * (f - r) - e * LN2_LO))
    return np.where(usable, result, np.where(x == 0.0, -np.inf, np.where(x == np.inf, np.inf, np.nan)))
