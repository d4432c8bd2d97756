"""The reconstruction algorithms the compiled module offers, by their command-line names."""
import os
from collections.abc import Sequence
from typing import TYPE_CHECKING, Final, Protocol

import corvane

if TYPE_CHECKING:
    from corvane.DetectorEvent import Event, Track

# Command-line name -> class name in corvane.ReconstructionAlgorithms.
ALGORITHMS: Final = {
    "track_following": "TrackFollowing",
    "search_by_triplet_trie": "SearchByTripletTrie",
    "graph_dfs": "GraphDFS",
}
ALL: Final = "all"


class Solver(Protocol):
    """What the job asks of an algorithm: the built-in classes, and a user's solver behind
    user_algorithms.UserSolver."""

    def solve(self, event: "Event") -> list["Track"]: ...

    def solve_batch(self, events: Sequence["Event"]) -> list[list["Track"]]: ...


class AlgorithmUnavailable(Exception):
    """An algorithm name that is unknown or not built into the installed module."""


def available() -> list[str]:
    """Command-line names of the algorithms the installed module provides, in the usual order."""
    present = set(corvane.ReconstructionAlgorithms.__all__)
    return [name for name, class_name in ALGORITHMS.items() if class_name in present]


def resolve(choice: str) -> list[str]:
    """The algorithms selected by a command-line choice (a name or "all")."""
    built = available()
    if choice == ALL:
        if not built:
            raise AlgorithmUnavailable("this corvane module provides no reconstruction algorithm")
        return built
    if choice not in ALGORITHMS:
        raise AlgorithmUnavailable(f"unknown algorithm '{choice}'; choose from {', '.join([*ALGORITHMS, ALL])}")
    if choice not in built:
        raise AlgorithmUnavailable(f"algorithm '{choice}' ({ALGORITHMS[choice]}) is not built into this corvane "
                                   f"module; available: {', '.join(built) or 'none'}")
    return [choice]


def resolve_all(choices: Sequence[str]) -> list[str]:
    """The algorithms selected by repeated choices, each once, in the order first named ("all" at its
    place in that order); no choice at all means "all". A user's algorithm (package.module:factory)
    is kept as named."""
    selected: list[str] = []
    for choice in choices or (ALL,):
        chosen = [choice] if ":" in choice else resolve(choice)
        selected += [name for name in chosen if name not in selected]
    return selected


def label(name: str) -> str:
    """How an algorithm is called in summaries, reports and plots: a built-in one by its class name, a
    user's by its package.module:factory."""
    return ALGORITHMS.get(name, name)


def construct(name: str) -> Solver:
    """A solver with its default parameters."""
    solver: Solver = getattr(corvane.ReconstructionAlgorithms, ALGORITHMS[name])()
    return solver


def available_processors() -> int:
    """Logical processors this process may run on."""
    return len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else (os.cpu_count() or 1)


THREADS_HELP: Final = ("Worker threads of the batch solver (0: one per logical processor). "
                       "Default: RAYON_NUM_THREADS, else RAYON_RS_NUM_CPUS, else one per processor.")


def pool_size() -> int:
    """How many worker threads the batch solver's pool has (or will have when first used), by the
    compiled module's own sizing rules and the environment as it is now."""
    return corvane._tools.pool_size()
