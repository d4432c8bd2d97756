"""Event dictionaries, Monte Carlo rows and tracks for the validation tests,
by hand or at random."""
import random

from corvane import DetectorEvent

Hit, Track = DetectorEvent.Hit, DetectorEvent.Track

COLUMNS = ["key", "pid", "p", "pt", "eta", "phi", "charge", "hits", "isLong", "isDown", "hasVelo", "hasUT",
           "hasScifi", "fromBeautyDecay", "fromCharmDecay", "fromStrangeDecay"]


def particle(key, hits, pid=211, p=1000.0, **flags):
    """One row under COLUMNS; flags default to a long velo particle."""
    values = {"key": key, "pid": pid, "p": p, "pt": 100.0, "eta": 3.0, "phi": 0.5, "charge": 1, "hits": hits,
              "isLong": 1, "isDown": 0, "hasVelo": 1, "hasUT": 1, "hasScifi": 1, "fromBeautyDecay": 0,
              "fromCharmDecay": 0, "fromStrangeDecay": 0}
    values.update(flags)
    return [values[name] for name in COLUMNS]


def event(n_hits, rows=None, description=None, montecarlo=True):
    """An event dictionary with n_hits hits; rows=None keeps "montecarlo" out."""
    data = {"description": "test event", "module_prefix_sum": [0] * 52 + [n_hits],
            "x": [0.1 * i for i in range(n_hits)], "y": [0.0] * n_hits, "z": [float(i) for i in range(n_hits)]}
    if rows is not None and montecarlo:
        data["montecarlo"] = {"description": list(COLUMNS if description is None else description),
                              "particles": rows}
    return data


def track(*ids):
    return Track([Hit(0.0, 0.0, float(i), i) for i in ids])


# ---- random events ---------------------------------------------------------

ODD_VALUES = [True, False, "1", 1.0, None, 2**40, -1, [1]]


def _flag(rng):
    return rng.choice(ODD_VALUES) if rng.random() < 0.08 else rng.choice([0, 1, 1, 2])


def _hits(rng, n_hits):
    roll = rng.random()
    if roll < 0.04:
        return rng.choice(["0 1", None, [1, -1], [0, 1.0], 7])
    count = rng.randint(0, min(12, n_hits + 2))
    hits = [rng.randrange(n_hits + 3) for _ in range(count)] if n_hits else [rng.randrange(3) for _ in range(count)]
    if rng.random() < 0.2 and hits:
        hits.append(hits[0])
    if rng.random() < 0.1:
        hits = tuple(hits)
    return hits


def random_row(rng, n_hits, key_pool):
    row = {
        "key": rng.choice(key_pool) if rng.random() < 0.9 else rng.choice([-3, 2**64, 2.0, "k", True]),
        "pid": rng.choice([211, -211, 13, -13, 11, -11, 321, 2212]) if rng.random() < 0.95 else rng.choice(ODD_VALUES),
        "p": rng.choice([-6000.0, 4999.0, 5000.0, -5000.5, 12000.0, rng.uniform(0, 20000), 7000, True, "x"]),
        "pt": rng.uniform(0, 1000), "eta": rng.uniform(2, 5), "phi": rng.uniform(-3, 3),
        "charge": rng.choice([1, -1, 0, 2**33]),
        "hits": _hits(rng, n_hits),
    }
    for name in COLUMNS[8:]:
        row[name] = _flag(rng)
    return row


def random_event(rng):
    n_hits = rng.randint(0, 50)
    data = event(n_hits)
    if rng.random() < 0.1:
        data["x"] = data["x"] + [9.0]
    if rng.random() < 0.1:
        return data
    names = COLUMNS[:]
    rng.shuffle(names)
    if rng.random() < 0.2:
        names = [n for n in names if rng.random() > 0.15]
    names.insert(rng.randint(0, len(names)), "unused")
    if rng.random() < 0.2:
        names.insert(0, rng.choice(COLUMNS))  # an earlier duplicate: the later position wins
    key_pool = list(range(1, rng.randint(2, 25)))
    rows = []
    for _ in range(rng.randint(0, 15)):
        values = random_row(rng, n_hits, key_pool)
        row = [values.get(name, "junk") for name in names]
        if rng.random() < 0.05:
            row = row[:rng.randint(0, len(row))]
        elif rng.random() < 0.05:
            row = row + [1, 2]
        rows.append(row)
    data["montecarlo"] = {"description": names, "particles": rows}
    return data


def _truth_hits(data):
    """Readable in-range hit lists of the event's particles."""
    if "montecarlo" not in data:
        return []
    n_hits = min(len(data["x"]), len(data["y"]), len(data["z"]))
    names = data["montecarlo"]["description"]
    position = {name: i for i, name in enumerate(names)}["hits"] if "hits" in names else None
    lists = []
    for row in data["montecarlo"]["particles"]:
        if position is None or position >= len(row) or not isinstance(row[position], (list, tuple)):
            continue
        hits = [h for h in row[position] if type(h) is int and 0 <= h < n_hits]
        if hits:
            lists.append(hits)
    return lists


def random_tracks(rng, data):
    """Truth tracks with dropped, foreign and repeated hits, exact duplicates,
    ghosts and short tracks, all with hit ids of the event."""
    n_hits = min(len(data["x"]), len(data["y"]), len(data["z"]))
    if n_hits == 0:
        return [track() for _ in range(rng.randint(0, 2))]
    tracks = []
    for hits in _truth_hits(data):
        if rng.random() < 0.3:
            continue
        ids = [h for h in hits if rng.random() > 0.15]
        if rng.random() < 0.3:
            ids.insert(rng.randint(0, len(ids)), rng.randrange(n_hits))
        if rng.random() < 0.1 and ids:
            ids.append(ids[-1])
        tracks.append(ids)
    for _ in range(rng.randint(0, 3)):
        tracks.append([rng.randrange(n_hits) for _ in range(rng.randint(0, 6))])
    for _ in range(rng.randint(0, 2)):
        if tracks:
            tracks.append(list(rng.choice(tracks)))
    rng.shuffle(tracks)
    return [track(*ids) for ids in tracks]


def random_case(seed):
    """Event dictionaries and track lists of slightly different lengths."""
    rng = random.Random(seed)
    events = [random_event(rng) for _ in range(rng.randint(0, 4))]
    track_lists = [random_tracks(rng, e) for e in events]
    if rng.random() < 0.2 and track_lists:
        track_lists.pop()
    elif rng.random() < 0.1:
        track_lists.append([track(0, 1)])
    return events, track_lists


def ordered(value):
    """Dicts as item lists, so key order is compared too; floats stay exact."""
    if isinstance(value, dict):
        return [(key, ordered(item)) for key, item in value.items()]
    if isinstance(value, list):
        return [ordered(item) for item in value]
    return (type(value), value)
