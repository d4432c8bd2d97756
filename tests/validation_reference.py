"""A deliberately plain Python model of the validation: truth reading,
track-to-particle matching, category statistics, the summary text and the
exported dictionaries. Written for clarity, not speed; the compiled functions
must agree with it exactly."""
import operator

THRESHOLD = 0.7
MISSING = object()

CATEGORY_ORDER = ["velo", "long", "long>5GeV", "long_strange", "long_strange>5GeV", "long_fromb",
                  "long_fromb>5GeV"]


def _not_electron(p):
    return abs(p["pid"]) != 11


CATEGORIES = {
    "velo": lambda p: _not_electron(p) and p["hasVelo"],
    "long": lambda p: _not_electron(p) and p["isLong"],
    "long>5GeV": lambda p: _not_electron(p) and p["isLong"] and p["above_5gev"],
    "long_strange": lambda p: _not_electron(p) and p["isLong"] and p["fromStrangeDecay"],
    "long_strange>5GeV": lambda p: _not_electron(p) and p["isLong"] and p["above_5gev"] and p["fromStrangeDecay"],
    "long_fromb": lambda p: _not_electron(p) and p["isLong"] and p["fromBeautyDecay"],
    "long_fromb>5GeV": lambda p: _not_electron(p) and p["isLong"] and p["above_5gev"] and p["fromBeautyDecay"],
}


def predicate(name):
    return CATEGORIES.get(name, lambda p: False)


# ---- lenient conversions of row values --------------------------------------

class Unreadable(Exception):
    pass


def _integer(value, low, high):
    if isinstance(value, float):
        raise Unreadable
    try:
        number = operator.index(value)
    except TypeError:
        raise Unreadable from None
    if not low <= number <= high:
        raise Unreadable
    return number


def as_u64(value):
    return _integer(value, 0, 2**64 - 1)


def as_i32(value):
    return _integer(value, -2**31, 2**31 - 1)


def as_f64(value):
    if isinstance(value, (str, bytes)) or value is None:
        raise Unreadable
    try:
        return float(value)
    except (TypeError, ValueError, OverflowError):
        raise Unreadable from None


def as_hit_list(value):
    if not isinstance(value, (list, tuple)):
        raise Unreadable
    return [as_u64(v) for v in value]


def read_field(row, column_map, name, convert, default):
    position = column_map.get(name)
    if position is None or position >= len(row):
        return default
    try:
        return convert(row[position])
    except Unreadable:
        return default


# ---- the validation event ---------------------------------------------------

class TruthEvent:
    def __init__(self, event):
        [int(v) for v in event["module_prefix_sum"]]
        n_hits = min(len(event["x"]), len(event["y"]), len(event["z"]))
        self.hit_ids = list(range(n_hits))
        self.particles = []
        self.particle_hits = {}  # key -> (first record, hits of the last row)
        if "montecarlo" in event:
            mc = event["montecarlo"]
            column_map = {}
            for position, name in enumerate(mc["description"]):
                column_map[name] = position
            for row in mc["particles"]:
                record = self._read_row(row, column_map, n_hits)
                if record["key"] in self.particle_hits:
                    first, _ = self.particle_hits[record["key"]]
                    self.particle_hits[record["key"]] = (first, record["hits"])
                else:
                    self.particle_hits[record["key"]] = (record, record["hits"])
                self.particles.append(record)
        self.hit_to_mcp = {hit: [] for hit in self.hit_ids}
        for record, hits in self.particle_hits.values():
            for hit in hits:
                self.hit_to_mcp[hit].append(record)

    @staticmethod
    def _read_row(row, column_map, n_hits):
        def field(name, convert, default):
            return read_field(row, column_map, name, convert, default)

        def flag(name, default):
            return field(name, lambda v: as_i32(v) != 0, default)

        record = {
            "key": field("key", as_u64, 0),
            "pid": field("pid", as_i32, 0),
            "p": field("p", as_f64, 0.0),
            "pt": field("pt", as_f64, 0.0),
            "eta": field("eta", as_f64, 0.0),
            "phi": field("phi", as_f64, 0.0),
            "charge": field("charge", as_i32, 0),
            "hits": [h for h in field("hits", as_hit_list, []) if h < n_hits],
            "isLong": flag("isLong", False),
            "isDown": flag("isDown", False),
            "hasVelo": flag("hasVelo", True),
            "hasUT": flag("hasUT", False),
            "hasScifi": flag("hasScifi", False),
            "fromBeautyDecay": flag("fromBeautyDecay", False),
            "fromCharmDecay": flag("fromCharmDecay", False),
            "fromStrangeDecay": flag("fromStrangeDecay", False),
        }
        record["above_5gev"] = abs(record["p"]) > 5000.0
        return record


# ---- matching -----------------------------------------------------------------

def track_identity(track):
    return (tuple(h.id for h in track.hits), track.missed_last_module, track.missed_penultimate_module)


def track_weights(tracks, event):
    n = len(event.particles)
    if n == 0:
        return [[] for _ in tracks]
    index = {}
    for position, particle in enumerate(event.particles):
        index[particle["key"]] = position
    weights = []
    for track in tracks:
        ids = [h.id for h in track.hits]
        if len(ids) < 2:
            weights.append([0.0] * n)
            continue
        counters = [0] * n
        for hit_id in ids:
            if hit_id not in event.hit_to_mcp:
                raise RuntimeError(f"Error: hit with id {hit_id} not found in hit_to_mcp mapping")
            for position in {index[p["key"]] for p in event.hit_to_mcp[hit_id]}:
                counters[position] += 1
        weights.append([float(c) / float(len(ids)) for c in counters])
    return weights


def match(tracks, weights, particles):
    track_map = {}
    for track, w in zip(tracks, weights):
        if not w:
            continue
        best = 0
        for j in range(len(w)):
            if w[j] >= w[best]:
                best = j
        matched = particles[best] if w[best] > THRESHOLD else None
        track_map[track_identity(track)] = (w[best], matched)
    particle_map = {}
    for j, particle in enumerate(particles):
        u, best_track = 0.0, None
        for track, w in zip(tracks, weights):
            if w[j] > u:
                u, best_track = w[j], track
        particle_map[particle["key"]] = (u, best_track if u > THRESHOLD else None)
    return track_map, particle_map


def new_stats(label):
    return {"label": label, "n_particles": 0, "n_recon_particles": 0, "purity_sum": 0.0, "n_clones": 0,
            "hiteff_sum": 0.0, "n_hiteff": 0, "recoeff": 0.0, "purity": 0.0, "avg_recoeff": 0.0,
            "avg_purity": 0.0, "avg_hiteff": 0.0}


def update_efficiencies(stats, event, tracks, weights, name, selects, warn, out):
    selected = [(j, p) for j, p in enumerate(event.particles) if selects(p)]
    if not selected:
        if warn:
            out.append(f"update_efficiencies: No particles match condition for '{name}'\n")
        return stats
    restricted = [[w[j] for j, _ in selected] if w else [] for w in weights]
    track_map, particle_map = match(tracks, restricted, [p for _, p in selected])
    if stats is None:
        stats = new_stats(name)
    m = len(selected)
    r = sum(1 for _, best in particle_map.values() if best is not None)
    stats["n_particles"] += m
    stats["n_recon_particles"] += r
    stats["avg_recoeff"] = (float(stats["n_recon_particles"]) / float(stats["n_particles"])) * 100.0
    groups = {}
    for _, particle in track_map.values():
        if particle is not None:
            groups[particle["key"]] = groups.get(particle["key"], 0) + 1
    for size in groups.values():
        stats["n_clones"] += size - 1
    hit_effs, purities = [], []
    for identity, (weight, particle) in track_map.items():
        if particle is None:
            continue
        entry = event.particle_hits.get(particle["key"])
        if entry is not None:
            ids = set(entry[1])
            if ids:
                found = sum(1 for hit_id in identity[0] if hit_id in ids)
                hit_effs.append(float(found) / float(len(ids)))
        purities.append(weight)
    purity_total = 0.0
    for value in purities:
        purity_total += value
    hiteff_total = 0.0
    for value in hit_effs:
        hiteff_total += value
    stats["purity_sum"] += purity_total
    stats["hiteff_sum"] += hiteff_total
    stats["n_hiteff"] += len(hit_effs)
    stats["avg_hiteff"] = (hiteff_total / float(len(hit_effs))) * 100.0 if hit_effs else 0.0
    stats["avg_purity"] = (purity_total / float(len(purities))) * 100.0 if purities else 0.0
    if stats["n_particles"] != 0:
        stats["recoeff"] = (100.0 * float(stats["n_recon_particles"])) / float(stats["n_particles"])
    if stats["n_recon_particles"] != 0:
        stats["purity"] = (stats["purity_sum"] * 100.0) / (float(stats["n_recon_particles"]) + float(stats["n_clones"]))
    return stats


def ghost_count(tracks, weights, event):
    track_map, _ = match(tracks, weights, event.particles)
    ghosts = sum(1 for _, particle in track_map.values() if particle is None)
    return ghosts, len(track_map)


# ---- the run and its reports -----------------------------------------------

class Run:
    def __init__(self, categories, count_ghosts, warn):
        self.categories = categories
        self.stats = {name: None for name, _ in categories}
        self.count_ghosts = count_ghosts
        self.warn = warn
        self.total_tracks = 0
        self.total_ghosts = 0
        self.rate_sum = 0.0
        self.out = []

    def add(self, event, tracks):
        self.total_tracks += len(tracks)
        weights = track_weights(tracks, event)
        if self.count_ghosts:
            ghosts, entries = ghost_count(tracks, weights, event)
            self.total_ghosts += ghosts
            self.rate_sum += float(ghosts) / float(entries) if entries else 0.0
        for name, selects in self.categories:
            self.stats[name] = update_efficiencies(self.stats[name], event, tracks, weights, name, selects,
                                                   self.warn, self.out)

    def overall_rate(self):
        return (float(self.total_ghosts) * 100.0) / float(self.total_tracks) if self.total_tracks else 0.0

    def average_rate(self, event_count):
        return (self.rate_sum * 100.0) / float(event_count) if event_count else 0.0

    def present(self):
        return [self.stats[name] for name, _ in self.categories if self.stats[name] is not None]


def clone_percentage(s):
    return 100.0 * float(s["n_clones"]) / float(s["n_recon_particles"]) if s["n_recon_particles"] else 0.0


def hit_efficiency_percentage(s):
    return (s["hiteff_sum"] * 100.0) / float(s["n_hiteff"]) if s["n_hiteff"] else 0.0


def category_line(s):
    return (f"{s['label']:<20} {s['n_recon_particles']:>6} from {s['n_particles']:>6} "
            f"({s['recoeff']:>5.1f}%, {s['avg_recoeff']:>5.1f}%) {s['n_clones']:>4} clones "
            f"({clone_percentage(s):>5.2f}%), purity: ({s['purity']:>6.2f}%, {s['avg_purity']:>6.2f}%), "
            f"hitEff: ({s['avg_hiteff']:>6.2f}%, {hit_efficiency_percentage(s):>6.2f}%)\n")


def category_dict(s):
    return {"label": s["label"], "n_recon_particles": s["n_recon_particles"], "n_particles": s["n_particles"],
            "recoeff": s["recoeff"], "avg_recoeff": s["avg_recoeff"], "n_clones": s["n_clones"],
            "clone_percentage": clone_percentage(s), "purity": s["purity"], "avg_purity": s["avg_purity"],
            "avg_hiteff": s["avg_hiteff"], "hit_eff_percentage": hit_efficiency_percentage(s)}


def all_categories():
    return [(name, CATEGORIES[name]) for name in CATEGORY_ORDER]


def print_validation_summary(py_events, py_tracks, verbose):
    """Returns the text the function prints."""
    events = [TruthEvent(e) for e in py_events]
    run = Run(all_categories(), True, verbose)
    for event, tracks in zip(events, py_tracks):
        run.add(event, tracks)
    if not py_events:
        run.out.append("No events found.\n")
    else:
        run.out.append(f"{run.total_tracks} tracks including {run.total_ghosts} ghosts "
                       f"({run.overall_rate():.1f}%). Event average ghost rate: "
                       f"{run.average_rate(len(py_events)):.1f}%\n")
    run.out.extend(category_line(s) for s in run.present())
    return "".join(run.out)


def compute_tracking_efficiency(py_events, py_tracks, particle_type):
    """Returns (printed text, result)."""
    events = [TruthEvent(e) for e in py_events]
    run = Run([(particle_type, predicate(particle_type))], False, True)
    for event, tracks in zip(events, py_tracks):
        run.add(event, tracks)
    stats = run.stats[particle_type]
    return "".join(run.out), (stats["recoeff"] / 100.0 if stats is not None else 0.0)


def export(py_events, py_tracks, verbose, detailed):
    """Returns (printed text, result) of either export."""
    run = Run(all_categories(), True, verbose)
    snapshots = {}
    for number, (event, tracks) in enumerate(zip(py_events, py_tracks), start=1):
        run.add(TruthEvent(event), tracks)
        snapshots[str(number)] = [category_dict(s) for s in run.present()]
    result = {"total_tracks": run.total_tracks, "total_ghosts": run.total_ghosts,
              "overall_ghost_rate": run.overall_rate(), "event_avg_ghost_rate": run.average_rate(len(py_events)),
              "categories": [category_dict(s) for s in run.present()]}
    if detailed:
        result["events"] = snapshots
    return "".join(run.out), result
