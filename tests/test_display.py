"""The event display: which track is a ghost, a clone or the track of its particle, and the views."""
import corvane
import matplotlib.image
import pytest
from click.testing import CliRunner

from corvane_tools import cli
from corvane_tools.display import MATCH_THRESHOLD, track_roles
from corvane_tools.event_files import write_events
from corvane_tools.generator import generate_range

EVENT = generate_range(61, 3, 1)[0]


@pytest.fixture(scope="module")
def tracks():
    return corvane.ReconstructionAlgorithms.GraphDFS().solve(corvane.DetectorEvent.Event(EVENT))


def test_roles_agree_with_the_validator(tracks):
    roles = track_roles(EVENT, tracks)
    totals = corvane.Validator.export_validation_to_json([EVENT], [tracks], False)
    assert sum(role.particle is None for role in roles) == totals["total_ghosts"]
    particles = EVENT["montecarlo"]["particles"]
    hits_column = EVENT["montecarlo"]["description"].index("hits")
    for track, role in zip(tracks, roles):
        if role.particle is not None:
            ids = [hit.id for hit in track.hits]
            own = set(particles[role.particle][hits_column])
            assert sum(hit in own for hit in ids) / len(ids) > MATCH_THRESHOLD
    matched = [role.particle for role in roles if role.particle is not None]
    assert sum(role.clone for role in roles) == len(matched) - len(set(matched)) > 0


def test_an_event_without_truth_has_no_ghosts(tracks):
    roles = track_roles(dict(EVENT, montecarlo=None), tracks)
    assert all(role.particle is None and not role.clone for role in roles)


@pytest.mark.parametrize("extra, status, message", [
    ([], 0, "Wrote"),
    (["--z-range", "-100", "300", "--zoom", "4"], 0, "Wrote"),
    (["--z-range", "300", "-100"], 1, "the first value must be below the second"),
    (["--zoom", "0.5"], 2, "--zoom"),
])
def test_display_options(tmp_path, extra, status, message):
    write_events([EVENT], tmp_path / "one.json")
    result = CliRunner().invoke(cli.main, ["display", str(tmp_path / "one.json"), "-o", str(tmp_path / "d.png"),
                                           *extra])
    assert result.exit_code == status and message in result.output
    if status == 0:
        height, width = matplotlib.image.imread(tmp_path / "d.png").shape[:2]
        assert width >= 1600 and height >= 900
