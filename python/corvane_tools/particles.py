"""Particle production for the event generator: proton-proton collisions,
their charged particles and the displaced daughters of strange, charm and
beauty decays.

Units: millimetres for positions and decay lengths, MeV for masses and
momenta. Every function draws from the NumPy generator it is given, so an
sample is a pure function of its seed.
"""
import functools
from dataclasses import dataclass, fields
from typing import Any, Final

import numpy as np

from . import compiled_generator
from .detector import BoolArray, FloatArray, IntArray

# Stable charged species: (PDG code of the positive particle, mass in MeV, share).
# The lepton codes are those of the negative lepton, hence the sign flip.
SPECIES: Final = (
    (211, 139.57, 0.74),     # pion
    (321, 493.68, 0.13),     # kaon
    (2212, 938.27, 0.08),    # proton
    (-11, 0.511, 0.03),      # positron
    (-13, 105.66, 0.02),     # muon (positive)
)
# The minimum-bias mix of prompt charged species: pions, kaons and protons in the measured proportions of
# identified hadrons at LHC energies (K/pi about 0.13, p/pi about 0.06), and a percent each of leptons.
MINIMUM_BIAS_SHARES: Final = (0.82, 0.11, 0.05, 0.01, 0.01)
ETA_WIDTH: Final = 3.2          # width of the charged-particle pseudorapidity spread
HEAVY_ETA_WIDTH: Final = 2.5    # heavy flavour is produced a little more centrally
MEAN_MULTIPLICITY: Final = 90.0  # charged particles per collision, all pseudorapidities
MEAN_PT: Final = 480.0          # prompt transverse momentum (MeV)
MULTIPLICITY_SHAPE: Final = 2.0  # negative binomial k of the charged multiplicity per collision
PHOTONS_PER_CHARGED: Final = 0.85   # photons from neutral pion and eta decays per prompt charged particle
MEAN_PHOTON_PT: Final = 240.0    # MeV: a decay photon carries about half of its meson's momentum
PV_SPREAD_XY: Final = 0.04      # beam spot size across the beam (mm)


@dataclass(frozen=True)
class Spectrum:
    """Charged-particle pseudorapidity density of one inelastic collision,

        dN/deta = scale * (1 - dip * exp(-eta^2 / 2)) / (1 + exp((|eta| - edge) / fall)),

    a plateau that falls off towards the beam rapidity, with the shallow dip at
    eta = 0 that the change from rapidity to pseudorapidity makes. Sampled
    through its tabulated inverse cumulative distribution.
    """
    scale: float
    dip: float
    edge: float
    fall: float

    def density(self, eta: FloatArray) -> FloatArray:
        value: FloatArray = (self.scale * (1.0 - self.dip * np.exp(-0.5 * eta * eta))
                             / (1.0 + np.exp((np.abs(eta) - self.edge) / self.fall)))
        return value

    def _table(self) -> tuple[FloatArray, FloatArray]:
        return _cumulative_table(self)

    @property
    def charged_per_collision(self) -> float:
        return float(self._table()[1][-1])

    def draw_eta(self, rng: np.random.Generator, count: int) -> FloatArray:
        grid, cumulative = self._table()
        share = rng.random(count) * cumulative[-1]
        if compiled_generator.module is not None:
            return np.frombuffer(compiled_generator.module.interpolate(share, cumulative, grid), np.float64)
        eta: FloatArray = np.interp(share, cumulative, grid)
        return eta


ETA_LIMIT: Final = 12.0   # beyond the beam rapidity at LHC energies


@functools.lru_cache(maxsize=8)
def _cumulative_table(spectrum: Spectrum) -> tuple[FloatArray, FloatArray]:
    """Pseudorapidity grid and the spectrum's cumulative integral on it (trapezoids)."""
    grid = np.linspace(-ETA_LIMIT, ETA_LIMIT, 4801)
    density = spectrum.density(grid)
    cumulative = np.concatenate([[0.0], np.cumsum(0.5 * (density[1:] + density[:-1]) * np.diff(grid))])
    return grid, cumulative

# Inelastic proton-proton collisions at 13 to 13.6 TeV: about 5.4 charged particles per unit of
# pseudorapidity at eta = 0, rising to about 5.9 at |eta| = 2 to 3, about 4 at |eta| = 5.4 and 2.6 at 6.4.
MINIMUM_BIAS: Final = Spectrum(scale=6.2, dip=0.126, edge=6.05, fall=1.083)


@dataclass(frozen=True)
class Lines:
    """The straight lines particles fly along, as the detector's geometry needs them."""
    tx: FloatArray           # dx/dz
    ty: FloatArray           # dy/dz
    sign: FloatArray         # of the flight along z
    slope: FloatArray        # transverse slope sqrt(tx^2 + ty^2), at least 1e-12
    r0: FloatArray           # distance of the origin from the beam


@dataclass
class Particles:
    """Charged particles, one array entry each."""
    origin: FloatArray       # (n, 3) production point
    direction: FloatArray    # (n, 3) unit vector of flight
    p: FloatArray
    mass: FloatArray
    pid: IntArray
    charge: IntArray
    from_beauty: BoolArray
    from_charm: BoolArray
    from_strange: BoolArray
    collision: IntArray      # index of the collision the particle comes from

    def __len__(self) -> int:
        return int(self.p.size)

    @functools.cached_property
    def lines(self) -> Lines:
        """Computed once per set of particles: propagation, the foil and the secondaries all use them."""
        dz = np.where(np.abs(self.direction[:, 2]) < 1e-9, 1e-9, self.direction[:, 2])
        tx, ty = self.direction[:, 0] / dz, self.direction[:, 1] / dz
        # Square roots of sums of squares rather than hypot: the same bits on every processor (|tx| and |ty|
        # stay below 1e9, far from overflowing).
        ox, oy = self.origin[:, 0], self.origin[:, 1]
        return Lines(tx, ty, np.sign(dz), np.maximum(np.sqrt(tx * tx + ty * ty), 1e-12), np.sqrt(ox * ox + oy * oy))

    def select(self, index: IntArray) -> "Particles":
        """The particles at `index`, in that order."""
        return Particles(*(getattr(self, f.name)[index] for f in fields(Particles)))


def concatenate(parts: list[Particles]) -> Particles:
    return Particles(*(np.concatenate([getattr(part, f.name) for part in parts]) for f in fields(Particles)))


def direction_from(eta: FloatArray, phi: FloatArray) -> FloatArray:
    sin_theta = 1.0 / np.cosh(eta)
    direction = np.empty((eta.size, 3))
    np.multiply(sin_theta, np.cos(phi), out=direction[:, 0])
    np.multiply(sin_theta, np.sin(phi), out=direction[:, 1])
    direction[:, 2] = np.tanh(eta)
    return direction


def _no_flags(count: int) -> tuple[BoolArray, BoolArray, BoolArray]:
    return np.zeros(count, bool), np.zeros(count, bool), np.zeros(count, bool)


def prompt_particles(rng: np.random.Generator, vertices: FloatArray, spectrum: Spectrum | None = None) -> Particles:
    """The charged particles made directly in the collisions at `vertices`: with a `spectrum`, its
    multiplicity and pseudorapidity density; without, a wide Gaussian in pseudorapidity."""
    mean = MEAN_MULTIPLICITY if spectrum is None else spectrum.charged_per_collision
    per_collision = rng.negative_binomial(MULTIPLICITY_SHAPE, MULTIPLICITY_SHAPE / (MULTIPLICITY_SHAPE + mean),
                                          len(vertices))
    count = int(per_collision.sum())
    shares = np.array([s[2] for s in SPECIES] if spectrum is None else MINIMUM_BIAS_SHARES)
    kind = rng.choice(len(SPECIES), size=count, p=shares / shares.sum())
    code = np.array([s[0] for s in SPECIES])[kind]
    charge = 2 * rng.integers(0, 2, count) - 1
    eta = rng.normal(0.0, ETA_WIDTH, count) if spectrum is None else spectrum.draw_eta(rng, count)
    pt = rng.gamma(2.0, MEAN_PT / 2.0, count)
    return Particles(np.repeat(vertices, per_collision, axis=0),
                     direction_from(eta, rng.uniform(-np.pi, np.pi, count)), pt * np.cosh(eta),
                     np.array([s[1] for s in SPECIES])[kind], code * charge, charge, *_no_flags(count),
                     collision=np.repeat(np.arange(len(vertices)), per_collision))


def collision_vertices(rng: np.random.Generator, collisions: float, fixed: bool, z_spread: float,
                       events: int) -> tuple[FloatArray, IntArray]:
    """Collision points of `events` events, and the event of each: a Poisson number of collisions of mean
    `collisions` (at least one), or exactly `collisions` when `fixed`; z spread with an RMS of `z_spread`."""
    per_event = np.full(events, int(collisions)) if fixed else np.maximum(rng.poisson(collisions, events), 1)
    count = int(per_event.sum())
    vertices = np.stack([rng.normal(0.0, PV_SPREAD_XY, count), rng.normal(0.0, PV_SPREAD_XY, count),
                         rng.normal(0.0, z_spread, count)], axis=1)
    return vertices, np.repeat(np.arange(events), per_event)


def perpendicular_basis(direction: FloatArray) -> tuple[FloatArray, FloatArray]:
    """Two unit vectors perpendicular to each row of `direction` and to each other."""
    if compiled_generator.module is not None:
        u_bytes, v_bytes = compiled_generator.module.perpendicular_basis(
            np.ascontiguousarray(direction, np.float64).reshape(-1))
        return np.frombuffer(u_bytes, np.float64).reshape(-1, 3), np.frombuffer(v_bytes, np.float64).reshape(-1, 3)
    dx, dy, dz = direction.T
    along_beam = np.abs(dz) > 0.99
    u = np.where(along_beam[:, None], np.stack([np.zeros_like(dz), dz, -dy], axis=1),
                 np.stack([dy, -dx, np.zeros_like(dz)], axis=1))
    u /= np.sqrt(np.sum(u * u, axis=1))[:, None]
    ux, uy, uz = u.T
    return u, np.stack([dy * uz - dz * uy, dz * ux - dx * uz, dx * uy - dy * ux], axis=1)


@dataclass(frozen=True)
class Decay:
    """A parent that flies, then decays into charged daughters (and maybe a further parent)."""
    mass: float          # MeV
    c_tau: float         # mm
    momentum: float     # MeV, daughter momentum in the parent's rest frame
    daughters: tuple[tuple[int, float, int], ...]  # (PDG code, mass, charge) per charged daughter
    flag: str            # which from*Decay flag the daughters carry


K0S: Final = Decay(497.6, 26.84, 206.0, ((211, 139.57, 1), (-211, 139.57, -1)), "from_strange")
LAMBDA: Final = Decay(1115.7, 78.9, 101.0, ((2212, 938.27, 1), (-211, 139.57, -1)), "from_strange")
D0: Final = Decay(1864.8, 0.123, 861.0, ((-321, 493.68, -1), (211, 139.57, 1)), "from_charm")
D_PLUS: Final = Decay(1869.7, 0.312, 700.0, ((-321, 493.68, -1), (211, 139.57, 1), (211, 139.57, 1)),
                      "from_charm")
B_PLUS: Final = Decay(5279.3, 0.491, 1800.0, ((211, 139.57, 1),), "from_beauty")      # B+ -> D0bar pi+
B_PLUS_3PI: Final = Decay(5279.3, 0.491, 1500.0, ((211, 139.57, 1), (-211, 139.57, -1), (211, 139.57, 1)),
                          "from_beauty")                                                 # B+ -> D0bar 3 pi


DECAY_MODES: Final = (K0S, LAMBDA, D0, D_PLUS, B_PLUS, B_PLUS_3PI)
_FLAG_NAMES: Final = ("from_beauty", "from_charm", "from_strange")


def _daughter_table(column: int, dtype: type) -> np.ndarray[Any, Any]:
    """Per mode and daughter slot, one of (PDG code, mass, charge) of its charged daughters."""
    table: np.ndarray[Any, Any] = np.zeros((len(DECAY_MODES), max(len(mode.daughters) for mode in DECAY_MODES)), dtype)
    for index, mode in enumerate(DECAY_MODES):
        table[index, :len(mode.daughters)] = [daughter[column] for daughter in mode.daughters]
    return table


# Per mode (its index in DECAY_MODES): its daughters, mass, decay momentum and flags.
_CODES, _MASSES, _CHARGES = _daughter_table(0, np.int64), _daughter_table(1, np.float64), _daughter_table(2, np.int64)
_CHARGED: Final = np.array([len(mode.daughters) for mode in DECAY_MODES])
_MASS: Final = np.array([mode.mass for mode in DECAY_MODES])
_MOMENTUM: Final = np.array([mode.momentum for mode in DECAY_MODES])
_FLAGS: Final = np.array([[mode.flag == name for name in _FLAG_NAMES] for mode in DECAY_MODES])
_D0: Final = DECAY_MODES.index(D0)

_Drawn = tuple[FloatArray, FloatArray, FloatArray, FloatArray]


def _draw_decays(rng: np.random.Generator, mode: Decay, count: int, slots: int) -> _Drawn:
    """What decaying `count` parents draws, in this order: their flight lengths over c_tau, the momentum shares
    of `slots` daughters, and per daughter the cosine of its rest-frame angle and its turn (one entry per
    daughter slot, parent after parent)."""
    return (rng.exponential(mode.c_tau, count), rng.dirichlet(np.full(slots, 2.0), size=count).reshape(-1),
            rng.uniform(-1.0, 1.0, (count, slots)).reshape(-1), rng.uniform(-np.pi, np.pi, (count, slots)).reshape(-1))


@dataclass
class _Decayed:
    """Parents flown and decayed: their vertices, and per daughter slot its parent, its index among the parent's
    slots, its momentum and its direction."""
    vertex: FloatArray
    parent: IntArray
    slot: IntArray
    p: FloatArray
    direction: FloatArray


def _decay(mode: IntArray, direction: FloatArray, p: FloatArray, origin: FloatArray, slots: IntArray,
           drawn: _Drawn) -> _Decayed:
    """Flies each parent (of mode `mode`) from `origin` and decays it into `slots` daughters with the `drawn`
    numbers. Daughters share the parent momentum and leave within an opening angle set by the decay momentum."""
    flight_draw, share_draw, cos_star, turn_draw = drawn
    vertex = origin + (flight_draw * p / _MASS[mode])[:, None] * direction
    parent = np.repeat(np.arange(p.size), slots)
    slot = np.arange(parent.size) - np.repeat(np.cumsum(slots) - slots, slots)
    share = share_draw * p[parent]
    u, v = perpendicular_basis(direction)
    opening = np.arctan2(_MOMENTUM[mode][parent] * np.sqrt(1.0 - cos_star * cos_star), share)[:, None]
    turn = turn_draw[:, None]
    turned = (np.cos(opening) * direction[parent]
              + np.sin(opening) * (np.cos(turn) * u[parent] + np.sin(turn) * v[parent]))
    return _Decayed(vertex, parent, slot, share, turned)


def _daughters(decayed: _Decayed, at: IntArray, mode: IntArray, conjugate: IntArray, flags: BoolArray,
               collision: IntArray) -> Particles:
    """The charged daughters in slots `at` of parents of modes `mode` (per parent, as conjugate, flags and
    collision)."""
    parent, slot = decayed.parent[at], decayed.slot[at]
    kind = mode[parent]
    return Particles(decayed.vertex[parent], decayed.direction[at], decayed.p[at], _MASSES[kind, slot],
                     conjugate[parent] * _CODES[kind, slot], conjugate[parent] * _CHARGES[kind, slot],
                     flags[parent, 0], flags[parent, 1], flags[parent, 2], collision[parent])


def decay_products(rng: np.random.Generator, vertices: FloatArray, beauty_share: float,
                   charm_share: float) -> Particles:
    """Daughters of the strange, charm and beauty hadrons made in the collisions at `vertices`, mode after
    mode; a B's D0 decays in turn, its daughters following those of the B's mode."""
    collisions = len(vertices)
    plans = [  # (decay, parents per collision, mean parent pt, pseudorapidity width, with a D0 child)
        (K0S, rng.poisson(1.5, collisions), 700.0, ETA_WIDTH, False),
        (LAMBDA, rng.poisson(0.5, collisions), 900.0, ETA_WIDTH, False),
        (D0, rng.random(collisions) < charm_share / 2, 2000.0, HEAVY_ETA_WIDTH, False),
        (D_PLUS, rng.random(collisions) < charm_share / 2, 2000.0, HEAVY_ETA_WIDTH, False),
        (B_PLUS, rng.random(collisions) < beauty_share * 0.6, 5000.0, HEAVY_ETA_WIDTH, True),
        (B_PLUS_3PI, rng.random(collisions) < beauty_share * 0.4, 5000.0, HEAVY_ETA_WIDTH, True),
    ]
    # The numbers are drawn mode after mode (a B's D0 right after the B); the arithmetic then runs once over
    # every mode's parents, and once over the D0s.
    parents: list[tuple[np.ndarray[Any, Any], ...]] = []
    drawn: list[_Drawn] = []
    children: list[_Drawn] = []
    for decay, per_collision, mean_pt, eta_width, charm_child in plans:
        made_in = np.repeat(np.arange(collisions), per_collision.astype(np.int64))
        count = len(made_in)
        if count == 0:
            continue
        eta = rng.normal(0.0, eta_width, count)
        phi = rng.uniform(-np.pi, np.pi, count)
        pt = rng.gamma(2.0, mean_pt / 2.0, count)
        conjugate = 2 * rng.integers(0, 2, count) - 1
        slot_count = len(decay.daughters) + charm_child
        parents.append((np.full(count, DECAY_MODES.index(decay)), made_in, eta, phi, pt, conjugate,
                        np.full(count, slot_count)))
        drawn.append(_draw_decays(rng, decay, count, slot_count))
        if charm_child:
            children.append(_draw_decays(rng, D0, count, len(D0.daughters)))
    if not parents:
        return _empty()
    mode, collision, eta, phi, pt, conjugate, slots = (np.concatenate(column) for column in zip(*parents))
    decayed = _decay(mode, direction_from(eta, phi), pt * np.cosh(eta), vertices[collision], slots,
                     _joined(drawn))
    charged = decayed.slot < _CHARGED[mode[decayed.parent]]
    at = np.flatnonzero(charged)
    parts = [_daughters(decayed, at, mode, conjugate, _FLAGS[mode], collision)]
    groups = [2 * mode[decayed.parent[at]]]
    if children:
        carrier = np.flatnonzero(~charged)       # each B's D0, in the order of the Bs
        b = decayed.parent[carrier]
        d0 = np.full(b.size, _D0)
        decayed_d0 = _decay(d0, decayed.direction[carrier], decayed.p[carrier], decayed.vertex[b], _CHARGED[d0],
                            _joined(children))
        every = np.arange(decayed_d0.parent.size)
        parts.append(_daughters(decayed_d0, every, d0, -conjugate[b], _FLAGS[mode[b]] | _FLAGS[_D0], collision[b]))
        groups.append(2 * mode[b][decayed_d0.parent] + 1)
    return concatenate(parts).select(np.argsort(np.concatenate(groups), kind="stable"))


def _joined(drawn: list[_Drawn]) -> _Drawn:
    flight, share, cos_star, turn = (np.concatenate(column) for column in zip(*drawn))
    return flight, share, cos_star, turn


def _empty() -> Particles:
    return Particles(np.zeros((0, 3)), np.zeros((0, 3)), np.zeros(0), np.zeros(0), np.zeros(0, np.int64),
                     np.zeros(0, np.int64), *_no_flags(0), collision=np.zeros(0, np.int64))


def photon_sources(rng: np.random.Generator, collisions: int, collision: IntArray,
                   spectrum: Spectrum) -> tuple[IntArray, FloatArray]:
    """The collision and pseudorapidity of each decay photon of the neutral mesons made in the collisions: as
    many per collision, on average, as PHOTONS_PER_CHARGED times its prompt charged particles (`collision`: the
    collision of each of those)."""
    per_collision = rng.poisson(PHOTONS_PER_CHARGED * np.bincount(collision, minlength=collisions))
    return np.repeat(np.arange(collisions), per_collision), spectrum.draw_eta(rng, int(per_collision.sum()))


def photons(rng: np.random.Generator, vertices: FloatArray, made_in: IntArray, eta: FloatArray) -> Particles:
    """Photons made in the collisions `made_in` (at `vertices`) at pseudorapidities `eta`: their transverse
    momenta and azimuths drawn."""
    count = eta.size
    pt = rng.gamma(2.0, MEAN_PHOTON_PT / 2.0, count)
    zeros = np.zeros(count, np.int64)
    return Particles(vertices[made_in], direction_from(eta, rng.uniform(-np.pi, np.pi, count)), pt * np.cosh(eta),
                     np.zeros(count), zeros + PHOTON, zeros, *_no_flags(count), collision=made_in)


def at_azimuth_zero(vertices: FloatArray, made_in: IntArray, eta: FloatArray) -> Particles:
    """Massless neutral particles from the collisions `made_in` at pseudorapidities `eta` and azimuth 0, of no
    momentum: their lines' angles to the beam and origins, which do not depend on the azimuth."""
    count = eta.size
    zeros = np.zeros(count, np.int64)
    # direction_from(eta, 0) without the cosine and sine of zero, which are exactly 1 and 0
    direction = np.zeros((count, 3))
    np.divide(1.0, np.cosh(eta), out=direction[:, 0])
    direction[:, 2] = np.tanh(eta)
    return Particles(vertices[made_in], direction, np.zeros(count), np.zeros(count), zeros, zeros, *_no_flags(count),
                     collision=made_in)


PHOTON: Final = 22
