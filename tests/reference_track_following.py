"""A slow, straightforward Python version of TrackFollowing.solve, used by
the tests as an independent reference. Hits are (id, x, y, z) tuples and a
module is a list of them in stored order."""
from dataclasses import dataclass


@dataclass
class Parameters:
    max_slopes: tuple = (0.7, 0.7)
    max_tolerance: tuple = (0.4, 0.4)
    max_scatter: float = 0.4
    min_track_length: int = 3
    min_strong_track_length: int = 4


def are_compatible(p, hit0, hit1):
    _, x0, y0, z0 = hit0
    _, x1, y1, z1 = hit1
    dz = abs(z0 - z1)
    return p.max_slopes[0] * dz > abs(x1 - x0) and dz * p.max_slopes[1] > abs(y1 - y0)


def check_tolerance(p, hit0, hit1, hit2):
    _, x0, y0, z0 = hit0
    _, x1, y1, z1 = hit1
    _, x2, y2, z2 = hit2
    if z1 - z0 == 0:
        return False
    if z2 - z1 == 0:
        return False
    r = 1 / (z1 - z0)
    tx = r * (x1 - x0)
    ty = r * (y1 - y0)
    x_pred = (z2 - z0) * tx + x0
    y_pred = (z2 - z0) * ty + y0
    dx = abs(x_pred - x2)
    dy = abs(y_pred - y2)
    if not (dx < p.max_tolerance[0] and dy < p.max_tolerance[1]):
        return False
    s = 1 / (z2 - z1)
    scatter = (dy * dy + dx * dy) * s * s
    return p.max_scatter > scatter


def solve(p, modules):
    """The tracks, each a list of hit ids."""
    count = len(modules)
    if count < 3:
        return []
    used = []  # hits, in the order they were marked

    def is_used(hit):
        return any(u[0] == hit[0] for u in used)

    def mark(hit):
        if not is_used(hit):
            used.append(hit)

    def first_passing(module, a, b):
        for hit in module:
            if check_tolerance(p, a, b, hit):
                return hit
        return None

    weak, output = [], []
    for n in range(count - 1, 2, -1):
        window = [w for w in (n - 3, n - 4, n - 5) if w >= 0]
        for h0 in modules[n]:
            if is_used(h0):
                continue
            for h1 in modules[n - 2]:
                if is_used(h1):
                    continue
                if not are_compatible(p, h0, h1):
                    continue
                track = [h0, h1]
                k = None
                for w in window:
                    third = first_passing(modules[w], h0, h1)
                    if third is not None:
                        track.append(third)
                        k = w
                        break
                if k is None:
                    continue
                missed = 0
                while k > 0 and missed < 3:
                    k -= 1
                    missed += 1
                    hit = first_passing(modules[k], track[-2], track[-1])
                    if hit is not None:
                        track.append(hit)
                        missed = 0
                if len(track) == p.min_track_length:
                    weak.append(track)
                elif len(track) >= p.min_strong_track_length:
                    output.append(track)
                    for hit in track:
                        mark(hit)
    for track in weak:
        if any(is_used(hit) for hit in track):
            continue
        for hit in track:
            mark(hit)
        output.append(track)
    return [[hit[0] for hit in track] for track in output]
