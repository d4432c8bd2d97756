"""Users' algorithms for the tests: TrackFollowing behind the user interface, and broken ones."""
import numpy as np

from corvane import InternalFailure, ReconstructionAlgorithms


class AsTracks:
    def __init__(self):
        self.solver = ReconstructionAlgorithms.TrackFollowing()

    def solve(self, event):
        return self.solver.solve(event)


class AsHitIds(AsTracks):
    def solve(self, event):
        return [np.array([hit.id for hit in track.hits]) for track in self.solver.solve(event)]


def no_solve():
    return object()


class OutOfRange(AsTracks):
    def solve(self, event):
        return [[0, 1, len(event.hits)]]


class NotTracks(AsTracks):
    def solve(self, event):
        return [["a", "b"]]


class Raises(AsTracks):
    def solve(self, event):
        raise ZeroDivisionError("no luck")


class FailsOnEvenHitCounts(AsTracks):
    """Fails as a built-in finder does on an event it cannot take (the internal failure), on every event
    with an even number of hits."""

    def solve(self, event):
        if event.number_of_hits % 2 == 0:
            raise InternalFailure("cannot take this event")
        return self.solver.solve(event)
