"""Reconstruction output on a fixed sample must not change unnoticed, whatever the pool size."""
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

from corvane_tools.algorithms import available

ROOT = Path(__file__).resolve().parent.parent
TOOL = ROOT / "tools" / "update_track_digests.py"
STORED = json.loads((ROOT / "tests" / "data" / "track_digests.json").read_text())


@pytest.fixture(scope="module", params=["1", "2"])
def computed(request):
    # The pool is sized once per process, so each size needs its own.
    env = dict(os.environ, RAYON_NUM_THREADS=request.param)
    done = subprocess.run([sys.executable, str(TOOL), "--print"], capture_output=True, text=True, env=env,
                          timeout=600)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


@pytest.mark.parametrize("name", available())
def test_tracks_match_the_stored_digest(computed, name):
    assert name in STORED, (f"no stored digest for '{name}': run tools/update_track_digests.py and commit "
                            f"tests/data/track_digests.json")
    assert computed[name] == STORED[name], (
        f"'{name}' tracks changed on the fixed sample; if deliberate, run tools/update_track_digests.py "
        f"and say why in the commit")
