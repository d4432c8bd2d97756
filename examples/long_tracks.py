"""An algorithm of your own, run by `corvane run` like the built-in ones:

    corvane run -a track_following -a examples.long_tracks:LongTracks

`LongTracks` follows tracks with TrackFollowing, tolerances tightened to
0.15 mm, and keeps only those that cross at least five modules, trading a
little efficiency on short tracks for fewer ghosts. `solve` may return
`Track` objects or, as here, lists of hit ids.
"""
from corvane import DetectorEvent, ReconstructionAlgorithms

MIN_HITS = 5


class LongTracks:
    def __init__(self) -> None:
        self.follower = ReconstructionAlgorithms.TrackFollowing(max_tolerance=(0.15, 0.15))

    def solve(self, event: DetectorEvent.Event) -> list[list[int]]:
        return [[hit.id for hit in track.hits] for track in self.follower.solve(event)
                if len(track.hits) >= MIN_HITS]
