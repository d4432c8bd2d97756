"""Confidence intervals of a binomial fraction: k successes out of n trials."""
import math
from typing import Final

ONE_SIGMA: Final = 1.0  # z of the central 68.27% interval


def wilson(passed: int, total: int, z: float = ONE_SIGMA) -> tuple[float, float]:
    """The Wilson score interval of passed / total, as fractions in [0, 1].

    Unlike the normal approximation it stays inside [0, 1] and has a width
    at 0% and 100%, and it covers close to its nominal 68% for few trials.
    NaN for no trials.
    """
    if total <= 0:
        return math.nan, math.nan
    fraction = passed / total
    z2 = z * z
    centre = (fraction + z2 / (2 * total)) / (1 + z2 / total)
    half = z / (1 + z2 / total) * math.sqrt(fraction * (1 - fraction) / total + z2 / (4 * total * total))
    # At 0% and 100% the bound is exactly 0 or 1; rounding must not move it past the fraction.
    low = 0.0 if passed <= 0 else max(0.0, centre - half)
    high = 1.0 if passed >= total else min(1.0, centre + half)
    return low, high
