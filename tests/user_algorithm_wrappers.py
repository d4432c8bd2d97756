"""Users' algorithms for the tests: TrackFollowing behind the user interface, and broken ones."""
import numpy as np

from corvane import ReconstructionAlgorithms


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
