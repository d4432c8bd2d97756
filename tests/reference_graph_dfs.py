"""A slow, straightforward Python version of GraphDFS.solve, used by the
tests as an independent reference. Hits are (id, x, y, z) tuples in stored
order; module m holds positions boundaries[m] up to boundaries[m + 1]."""
import math
from dataclasses import dataclass


@dataclass
class Parameters:
    max_slopes: tuple = (0.7, 0.7)
    max_tolerance: tuple = (0.4, 0.4)
    max_scatter: float = 0.4
    minimum_root_weight: int = 1
    weight_assignment_iterations: int = 2
    allowed_skip_modules: int = 1
    allow_cross_track: bool = True
    clone_ghost_killing: bool = True

    def args(self):
        return (self.max_slopes, self.max_tolerance, self.max_scatter, self.minimum_root_weight,
                self.weight_assignment_iterations, self.allowed_skip_modules, self.allow_cross_track,
                self.clone_ghost_killing)


ID, X, Y, Z = range(4)


def x_key(hit):
    # Not-a-number sorts after every number.
    return (math.isnan(hit[X]), 0.0 if math.isnan(hit[X]) else hit[X])


def sorted_hits(hits, boundaries):
    out = list(hits)
    for m in range(len(boundaries) - 1):
        out[boundaries[m]:boundaries[m + 1]] = sorted(out[boundaries[m]:boundaries[m + 1]], key=x_key)
    return out


def windows(p, hits, boundaries):
    """{n: {u: (first, end)}}, each hit's windows in the order they were recorded."""
    count = len(boundaries) - 1
    table = {}
    if count < 3:
        return table
    for j in range(count - 1, 1, -1):
        for n in range(boundaries[j], boundaries[j + 1]):
            h = hits[n]
            for o in range(p.allowed_skip_modules + 1):
                u = j - 1 - o if p.allow_cross_track else j - 2 - 2 * o
                if u < 0:
                    continue
                first, end = -1, -1
                for b in range(boundaries[u], boundaries[u + 1]):
                    w = hits[b]
                    inside = p.max_slopes[0] * abs(w[Z] - h[Z]) > abs(w[X] - h[X])
                    if first == -1:
                        if inside:
                            first = b
                    elif not inside:
                        end = b
                        break
                if first != -1 and end == -1:
                    end = boundaries[u + 1]
                table.setdefault(n, {})[u] = (first, end)
    return table


def may_follow(p, t, s):
    (t1, t2), (_, s2) = t, s
    dz1 = t2[Z] - t1[Z]
    if dz1 == 0:
        return False
    r = 1 / dz1
    dz = s2[Z] - t1[Z]
    dx = (t2[X] - t1[X]) * r * dz + t1[X] - s2[X]
    if not abs(dx) < p.max_tolerance[0]:
        return False
    dy = (t2[Y] - t1[Y]) * r * dz + t1[Y] - s2[Y]
    if not abs(dy) < p.max_tolerance[1]:
        return False
    dz2 = s2[Z] - t2[Z]
    if dz2 == 0:
        return False
    q = 1 / dz2
    scatter = (dy * dy + dx * dx) * q * q
    return p.max_scatter > scatter


def graph(p, hits, boundaries):
    """(segments as (first hit, second hit), successor lists)."""
    hits = sorted_hits(hits, boundaries)
    table = windows(p, hits, boundaries)
    segments, arriving = [], [[] for _ in hits]
    for m, a in enumerate(hits):
        for first, end in table.get(m, {}).values():
            for k in range(first, end):
                c = hits[k]
                if p.max_slopes[1] * abs(c[Z] - a[Z]) > abs(c[Y] - a[Y]):
                    arriving[k].append(len(segments))
                    segments.append((a, c))
    successors = [[] for _ in segments]
    first_position = {}
    for i, hit in enumerate(hits):
        first_position.setdefault(hit[ID], i)
    for s, (a, _) in enumerate(segments):
        d = first_position[a[ID]]
        for t in arriving[d]:
            # Links lead to lower indices only, which keeps repeated ids acyclic.
            if t > s and may_follow(p, segments[t], segments[s]):
                successors[t].append(s)
    return segments, successors


def roots(p, segments, successors):
    weight = [0] * len(segments)
    with_successors = [s for s in range(len(segments)) if successors[s]]
    for _ in range(p.weight_assignment_iterations):
        for s in with_successors:
            weight[s] = 1 + max(weight[c] for c in successors[s])
    root = [False] * len(segments)
    for s in with_successors:
        root[s] = True
    for s in with_successors:
        for c in successors[s]:
            root[c] = False
    return [s for s in with_successors if root[s] and weight[s] >= p.minimum_root_weight]


def paths(segments, successors, s):
    if not successors[s]:
        return [[segments[s][1]]]
    return [[segments[s][1]] + path for c in successors[s] for path in paths(segments, successors, c)]


def path_count(successors, s, memo):
    if s not in memo:
        memo[s] = sum(path_count(successors, c, memo) for c in successors[s]) if successors[s] else 1
    return memo[s]


class TooManyPaths(Exception):
    pass


def solve(p, hits, boundaries, max_paths=None):
    """The tracks, each a list of hit ids."""
    segments, successors = graph(p, hits, boundaries)
    tracks = []
    found = roots(p, segments, successors)
    memo = {}
    if max_paths is not None and sum(path_count(successors, r, memo) for r in found) > max_paths:
        raise TooManyPaths
    for root in found:
        shortest = sorted(paths(segments, successors, root), key=len)[0]
        tracks.append([segments[root][0]] + shortest)
    if p.clone_ghost_killing:
        on_long = {hit[ID] for track in tracks if len(track) >= 4 for hit in track}
        tracks = [t for t in tracks if not (1 <= len(t) <= 3 and any(hit[ID] in on_long for hit in t))]
    return [[hit[ID] for hit in track] for track in tracks]


def event_input(data):
    """(hits, boundaries) of an event dictionary."""
    prefix = data["module_prefix_sum"][:53]
    hits = [(i, data["x"][i], data["y"][i], data["z"][i]) for i in range(prefix[-1])]
    return hits, prefix
