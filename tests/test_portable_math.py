"""The generator's own exp, log, sin, cos and atan2: close to the C library's, exact where the C library's are,
and the same bits whatever the compiler's optimisation."""
import math
import shutil
import subprocess
from pathlib import Path

import numpy as np
import pytest

import corvane
from corvane_tools import portable_math

GENERATOR = corvane._generator
ROOT = Path(__file__).resolve().parent.parent


def portable(name, x, y=()):
    return np.frombuffer(GENERATOR.elementary(name, np.asarray(x, float), np.asarray(y, float)), float)


def ulp_distance(a, b):
    """How many doubles lie between a and b (0 when equal), on the ordered integer line of the bits."""
    def ordered(v):
        return [bits if bits >= 0 else -2**63 - bits for bits in np.asarray(v, float).view(np.int64).tolist()]
    return np.array([abs(p - q) for p, q in zip(ordered(a), ordered(b))], dtype=object)


def log_uniform(rng, low, high, count):
    return np.exp(rng.uniform(np.log(low), np.log(high), count))


RNG = np.random.default_rng(7)
COUNT = 4000
ONE_ARGUMENT = [  # (function, sample, most doubles between ours and the C library's)
    ("exp", RNG.uniform(-1.0, 1.0, COUNT), 2),
    ("exp", RNG.uniform(-745.0, 709.7, COUNT), 2),            # into the subnormal results at the bottom
    ("exp", RNG.uniform(-1e-9, 1e-9, COUNT), 1),
    ("log", RNG.uniform(0.5, 2.0, COUNT), 2),
    ("log", log_uniform(RNG, 1e-300, 1e300, COUNT), 2),
    ("log", 1.0 + RNG.uniform(-1e-7, 1e-7, COUNT), 2),
    ("log", RNG.uniform(0.0, 1.0, COUNT) * 2.0 ** -1022, 2),  # subnormal arguments
    ("sin", RNG.uniform(-8.0, 8.0, COUNT), 2),
    ("sin", RNG.uniform(-2.0 ** 20, 2.0 ** 20, COUNT), 3),
    ("sin", log_uniform(RNG, 1e-300, 1e-3, COUNT), 1),
    ("cos", RNG.uniform(-8.0, 8.0, COUNT), 2),
    ("cos", RNG.uniform(-2.0 ** 20, 2.0 ** 20, COUNT), 3),
    ("cos", np.pi / 2 * np.arange(-2000, 2000) + RNG.uniform(-1e-6, 1e-6, COUNT), 3),  # near the zeros
]


@pytest.mark.parametrize("name, x, bound", ONE_ARGUMENT,
                         ids=[f"{case[0]}-{index}" for index, case in enumerate(ONE_ARGUMENT)])
def test_close_to_the_c_library(name, x, bound):
    expected = np.array([getattr(math, name)(v) for v in x])
    assert ulp_distance(portable(name, x), expected).max() <= bound


@pytest.mark.parametrize("scale", [1e-300, 1e-10, 1.0, 1e10, 1e300])
def test_atan2_close_to_the_c_library(scale):
    rng = np.random.default_rng(11)
    y = rng.normal(0.0, 1.0, COUNT) * scale
    x = rng.normal(0.0, 1.0, COUNT) * rng.choice([1e-12, 1.0, 1e12], COUNT)
    expected = np.array([math.atan2(a, b) for a, b in zip(y, x)])
    assert ulp_distance(portable("atan2", y, x), expected).max() <= 2


INF, NAN = math.inf, math.nan
SPECIAL = [  # (function, arguments, the C library's result, bit for bit)
    ("exp", (0.0,), 1.0), ("exp", (-0.0,), 1.0), ("exp", (INF,), INF), ("exp", (-INF,), 0.0), ("exp", (NAN,), NAN),
    ("exp", (710.0,), INF), ("exp", (-746.0,), 0.0), ("exp", (-740.0,), math.exp(-740.0)),
    ("log", (1.0,), 0.0), ("log", (0.0,), -INF), ("log", (-0.0,), -INF), ("log", (INF,), INF),
    ("log", (-1.0,), NAN), ("log", (-INF,), NAN), ("log", (NAN,), NAN), ("log", (5e-324,), math.log(5e-324)),
    ("sin", (0.0,), 0.0), ("sin", (-0.0,), -0.0), ("sin", (5e-324,), 5e-324), ("sin", (-5e-324,), -5e-324),
    ("sin", (INF,), NAN), ("sin", (NAN,), NAN), ("cos", (0.0,), 1.0), ("cos", (-0.0,), 1.0), ("cos", (-INF,), NAN),
] + [("atan2", (y, x), math.atan2(y, x)) for y in (0.0, -0.0, 1.0, -1.0, INF, -INF, NAN)
     for x in (0.0, -0.0, 1.0, -1.0, INF, -INF, NAN, 5e-324)]


@pytest.mark.parametrize("name, arguments, expected", SPECIAL)
def test_special_values(name, arguments, expected):
    got = portable(name, *([value] for value in arguments))[0]
    if math.isnan(expected):
        assert math.isnan(got)
    else:
        assert (got, math.copysign(1.0, got)) == (expected, math.copysign(1.0, expected))


def test_the_array_logarithm_gives_the_compiled_bits():
    rng = np.random.default_rng(5)
    x = np.concatenate([log_uniform(rng, 5e-324, 1e308, 20000), rng.uniform(0.5, 2.0, 5000),
                        [0.0, -0.0, -1.0, np.inf, -np.inf, np.nan, 5e-324, 1.0, 2.0 ** -1022, 1.7976931348623157e308]])
    with np.errstate(all="raise"):
        assert portable_math.log(x).tobytes() == portable("log", x).tobytes()


COMPILER = shutil.which("g++")


@pytest.mark.skipif(COMPILER is None, reason="needs g++")
@pytest.mark.timeout(300)
def test_same_bits_at_every_optimisation(tmp_path):
    """Builds of the functions without optimisation and with every instruction of this processor give the
    module's bits."""
    rng = np.random.default_rng(3)
    x = np.concatenate([rng.uniform(-20.0, 20.0, 3000), log_uniform(rng, 1e-310, 1e300, 3000) * rng.choice([-1, 1], 3000),
                        rng.uniform(-2.0 ** 21, 2.0 ** 21, 1000)])
    expected = np.concatenate([portable(name, x) for name in ("exp", "log", "sin", "cos")]
                              + [portable("atan2", x, np.roll(x, -1))])
    for flags in (["-O0"], ["-O2", "-march=native"], ["-O3", "-march=native", "-funroll-loops"]):
        program = tmp_path / f"dump{flags[0]}"
        subprocess.run([COMPILER, "-std=c++20", "-ffp-contract=off", *flags, f"-I{ROOT / 'src'}", "-o", str(program),
                        str(ROOT / "tests/cpp/portable_math_dump.cpp"), str(ROOT / "src/generator/portable_math.cpp")],
                       check=True, timeout=240)
        out = subprocess.run([str(program)], input=x.tobytes(), capture_output=True, check=True, timeout=30).stdout
        assert np.frombuffer(out, float).view(np.int64).tolist() == expected.view(np.int64).tolist(), flags
