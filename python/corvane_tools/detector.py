"""Geometry of the 52-module vertex detector that the generator simulates.

Units: millimetres. z runs along the beam, x and y across it.

The detector has 26 stations of two modules. Module 2k covers the x > 0 side
(reaching a little past the beam into x < 0), module 2k + 1 the x < 0 side,
so the two halves overlap by a few millimetres; within a station the odd
module sits a few millimetres downstream of the even one. Stations are
closer together near the interaction region. The sensitive area runs from
`INNER_RADIUS` to `OUTER_HALF_WIDTH` from the beam (see `Geometry` for the
two shapes of the overlap). Each module carries its sensors on
`SENSOR_PLANES` slightly different z planes, chosen by the hit's y band.
A foil `FOIL_RADIUS` from the beam separates the sensors from it.

The gap within a station and the overlap are conditions of a sample
(`conditions.Conditions`); `Geometry` holds the detector they make.
"""
from dataclasses import dataclass
from typing import Final

import numpy as np
import numpy.typing as npt

FloatArray = npt.NDArray[np.float64]
IntArray = npt.NDArray[np.int64]
BoolArray = npt.NDArray[np.bool_]

MODULE_COUNT: Final = 52
STATION_COUNT: Final = MODULE_COUNT // 2

# 18 stations 25 mm apart around the collisions, then 8 with growing gaps.
STATION_Z: Final[FloatArray] = np.concatenate([
    -290.0 + 25.0 * np.arange(18),
    np.array([185.0, 250.0, 320.0, 395.0, 475.0, 560.0, 650.0, 750.0]),
])
INNER_RADIUS: Final = 5.1          # beam hole
OUTER_HALF_WIDTH: Final = 40.0     # |x| and |y| limit of the sensors
SENSOR_PLANES: Final[FloatArray] = np.array([-0.45, -0.15, 0.15, 0.45])  # z offsets by y band
SENSOR_SHORT_SIDE: Final = 14.08   # mm: 256 pixels of 55 um
FOIL_RADIUS: Final = 3.5           # closest distance of the foil that separates the sensors from the beam


def module_z(station_gap: float) -> FloatArray:
    """z of every module: the even module of a station half the gap upstream of the station's z, the odd one
    half the gap downstream, so module order is z order for any gap below the closest station pitch."""
    z: FloatArray = np.repeat(STATION_Z, 2) + np.tile([-0.5 * station_gap, 0.5 * station_gap], STATION_COUNT)
    return z


@dataclass(frozen=True, eq=False)
class Geometry:
    """The detector of one set of conditions.

    With the "strip" overlap each half reaches `overlap` past x = 0 at every
    distance from the beam, around a round hole. With "sensors" the tiles of
    each half form an L around a square hole of half-width INNER_RADIUS: the
    even half covers x > r and, above the hole, x > -r; the tile next to the
    hole reaches `overlap` further, over SENSOR_SHORT_SIDE of height. The odd
    half is the even half turned by 180 degrees about the beam. The halves
    then overlap only in two small rectangles beside the hole.
    """
    module_z: FloatArray
    overlap: float
    sensor_shapes: bool = False

    @classmethod
    def of(cls, station_gap: float, overlap: float, overlap_shape: str = "strip") -> "Geometry":
        z = module_z(station_gap)
        assert bool(np.all(np.diff(z) > 0.0))
        return cls(z, overlap, overlap_shape == "sensors")

    def in_sensitive_area(self, module: IntArray, x: FloatArray, y: FloatArray) -> BoolArray:
        """Whether points (x, y) lie on the sensors of the given modules (arrays that broadcast together)."""
        side = 1 - 2 * (module % 2)
        within: BoolArray = (np.abs(x) < OUTER_HALF_WIDTH) & (np.abs(y) < OUTER_HALF_WIDTH)
        if not self.sensor_shapes:
            inside: BoolArray = within & (x * x + y * y > INNER_RADIUS * INNER_RADIUS) & (side * x > -self.overlap)
            return inside
        u, v = side * x, side * y   # in the even half's frame
        r = INNER_RADIUS
        reach = (v > r) & ((u > -r) | ((u > -r - self.overlap) & (v < r + SENSOR_SHORT_SIDE)))
        on_tiles: BoolArray = within & ((u > r) | reach)
        return on_tiles


def sensor_plane_offset(y: FloatArray) -> FloatArray:
    """z offset of the sensor plane that a hit at height y lands on."""
    band = np.clip(((y + OUTER_HALF_WIDTH) / (2.0 * OUTER_HALF_WIDTH) * SENSOR_PLANES.size).astype(np.int64),
                   0, SENSOR_PLANES.size - 1)
    offsets: FloatArray = SENSOR_PLANES[band]
    return offsets
