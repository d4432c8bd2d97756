"""Builds a few hits, a module and a track by hand and prints them."""
from corvane import DetectorEvent

Hit, Module, Track = DetectorEvent.Hit, DetectorEvent.Module, DetectorEvent.Track

hits = [Hit(0.1 * i, -0.05 * i, 20.0 * i, i, module=i) for i in range(4)]
print("hits:", hits)

module = Module(1, 20.0, 1, 2, hits)
print(module)

track = Track(hits[:3])
track.add_hit(hits[3])
print(track)
