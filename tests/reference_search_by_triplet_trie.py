"""A slow, straightforward Python version of SearchByTripletTrie.solve,
used by the tests as an independent reference. Hits are (id, x, y, z) tuples;
every module is (module_number, start, end) over one shared hit list. The tries
are dicts (insertion-ordered) keyed by hit id."""
import math
from dataclasses import dataclass

TRIE_SLOTS = 26


@dataclass
class Parameters:
    max_scatter: float = 0.1
    min_strong_track_length: int = 4
    allowed_missed_modules: int = 2


def inverse(d):
    # IEEE division: 1 / +-0 is +-inf rather than an error.
    return math.copysign(math.inf, d) if d == 0 else 1 / d


def scatter(p, q, h):
    _, px, py, pz = p
    _, qx, qy, qz = q
    _, hx, hy, hz = h
    r = inverse(qz - pz)
    sx = (qx - px) * r
    sy = (qy - py) * r
    dz = hz - pz
    dx = dz * sx + px - hx
    dy = dz * sy + py - hy
    return dx * dx + dy * dy


def closest(p, q, hits, bound, skip=lambda hit: False):
    best, best_s = None, bound
    for h in hits:
        if skip(h):
            continue
        s = scatter(p, q, h)
        if s < best_s:
            best, best_s = h, s
    return best, best_s


def make_layers(hits, modules):
    layers = []
    for k in range(0, len(modules) - 1, 2):
        (number, start, _), (_, _, second_end) = modules[k], modules[k + 1]
        layers.append((number >> 1, hits[start:max(second_end, start)]))
    return layers


def build_tries(p, layers):
    tries = [None] * TRIE_SLOTS
    n = len(layers)
    for i in range(n - 1, 1, -1):
        outer_number, outer = layers[i]
        middle_number, middle = layers[i - 1]
        k = middle_number - 1 if middle_number > 0 else 0
        if k >= n:
            continue
        trie = {}  # h1 id -> (h1, {h2 id -> (h2, h3, s)})
        for h1 in outer:
            for h2 in middle:
                h3, s = closest(h1, h2, layers[k][1], p.max_scatter)
                if h3 is None:
                    continue
                _, entries = trie.setdefault(h1[0], (h1, {}))
                key = entries[h2[0]][0] if h2[0] in entries else h2  # a repeated key keeps its first hit
                entries[h2[0]] = (key, h3, s)
        if outer_number < TRIE_SLOTS:
            tries[outer_number] = trie
    return tries


def solve(p, hits, modules):
    """The tracks, each (hit ids, missed_last_module, missed_penultimate_module)."""
    layers = make_layers(hits, modules)
    if len(layers) < 3:
        return []
    tries = build_tries(p, layers)
    allowed = min(p.allowed_missed_modules, 255)  # larger counts never wrap to small ones
    used = set()
    candidates, output, weak = [], [], []

    def finish(track):
        (output if len(track["hits"]) >= p.min_strong_track_length else weak).append(track)

    for i in range(len(layers) - 1, 1, -1):
        number = layers[i][0]
        trie = tries[number] if number < TRIE_SLOTS else None
        w0 = layers[i - 2][0]
        k = w0 - 1 if w0 > 0 else 0
        extended = []
        for t in candidates:
            a, b = t["hits"][-2], t["hits"][-1]
            new = None
            if trie and a[0] in trie and b[0] in trie[a[0]][1]:
                new = trie[a[0]][1][b[0]][1]
            elif k < len(modules):
                _, start, end = modules[k]
                placeholder = (-1, 0.0, 0.0, 0.0)
                kept, _ = closest(a, b, hits[start:end], p.max_scatter, lambda h: h[0] in used)
                kept = kept or placeholder
                new = kept if kept[0] != -1 else None
            if new is not None:
                t["hits"].append(new)
                used.add(new[0])
                if len(t["hits"]) >= p.min_strong_track_length:
                    count = len(t["hits"]) if p.min_strong_track_length == 0 else p.min_strong_track_length - 1
                    used.update(h[0] for h in t["hits"][:count])
                t["penultimate"], t["last"], t["missed"] = t["last"], False, 0
                extended.append(t)
                continue
            t["missed"] = (t["missed"] + 1) % 256
            if t["missed"] == 1:
                t["last"] = True
            if t["missed"] == 2:
                t["penultimate"] = True
            if t["missed"] > allowed:
                finish(t)
            else:
                extended.append(t)
        candidates = extended
        for h1, entries in (trie or {}).values():
            chosen, best = None, p.max_scatter
            for h2, h3, s in entries.values():
                if {h1[0], h2[0], h3[0]} & used:
                    continue
                if s < best:
                    chosen, best = (h2, h3), s
            if chosen:
                candidates.append({"hits": [h1, *chosen], "last": False, "penultimate": False, "missed": 0})
    for t in candidates:
        finish(t)
    output += [t for t in weak if not {h[0] for h in t["hits"][:3]} & used]
    return [([h[0] for h in t["hits"]], t["last"], t["penultimate"]) for t in output]


def event_input(data):
    """(hits, modules) of an event dictionary."""
    prefix = data["module_prefix_sum"]
    hits = [(i, data["x"][i], data["y"][i], data["z"][i]) for i in range(prefix[52])]
    return hits, [(m, prefix[m], prefix[m + 1]) for m in range(52)]
