"""A short fingerprint of reconstruction output, to notice any change in it."""
import hashlib
from collections.abc import Iterable, Sequence
from typing import Any


def tracks_digest(track_lists: Iterable[Sequence[Any]]) -> str:
    """SHA-256 over every event's tracks, in order, each as its sequence of hit ids and its two flags.

    Only hit ids enter, not coordinates, so the digest does not depend on how
    floating-point numbers are printed or stored.
    """
    digest = hashlib.sha256()
    for tracks in track_lists:
        for track in tracks:
            ids = ",".join(str(hit.id) for hit in track.hits)
            digest.update(f"{ids}|{int(track.missed_last_module)}{int(track.missed_penultimate_module)};".encode())
        digest.update(b"\n")
    return digest.hexdigest()
