"""`corvane scan`: one condition varied, every algorithm tabulated, plotted and reported."""
import json

import pytest
from click.testing import CliRunner

from corvane_tools.cli import main


def test_scan_reports_each_setting_and_algorithm(tmp_path):
    done = CliRunner().invoke(main, ["scan", "--vary", "hit_efficiency=0.6,1", "-a", "track_following",
                                     "-a", "search_by_triplet_trie", "-n", "6", "-q", "-C", "collisions=3",
                                     "--json", str(tmp_path / "scan.json"), "--plots", str(tmp_path / "plots"),
                                     "--html", str(tmp_path / "scan.html")])
    assert done.exit_code == 0, done.output
    assert "Scan of hit_efficiency over 0.6, 1: 6 events per setting, seed 1; collisions=3" in done.output
    document = json.loads((tmp_path / "scan.json").read_text())
    table = document["scan"]["table"]
    assert [(row["value"], row["algorithm"]) for row in table] == [
        ("0.6", "track_following"), ("0.6", "search_by_triplet_trie"),
        ("1", "track_following"), ("1", "search_by_triplet_trie")]
    assert document["scan"]["conditions"]["collisions"] == {"value": 3.0, "source": "command line"}
    for low, full in zip(table[:2], table[2:]):
        assert low["hits_per_event"] < 0.7 * full["hits_per_event"]
        assert low["velo_efficiency"] < full["velo_efficiency"]
    page = (tmp_path / "scan.html").read_text()
    assert page.count("<caption>TrackFollowing</caption>") == 2   # its rates and its parameters
    assert "<td>0.6</td>" in page and page.count("data:image/png;base64,") == 3
    assert "http" not in page.replace("http-equiv", "")
    assert sorted(path.name for path in (tmp_path / "plots").iterdir()) == [
        "scan_clone_rate.png", "scan_efficiency.png", "scan_ghost_rate.png"]


@pytest.mark.parametrize("arguments, message", [
    ([], "give the settings to scan"),
    (["--collisions", "1,2", "--vary", "noise_per_module=1"], "give the settings to scan"),
    (["--vary", "colisions=1,2"], "unknown condition 'colisions'"),
    (["--collisions", "1,,2"], "separated by single commas"),
    (["--collisions", "2,2.0"], "given twice"),
    (["--vary", "hit_efficiency=0.5,2"], "'hit_efficiency' = 2 is outside"),
    (["--vary", "overlap_shape"], "--vary takes CONDITION=V1,V2"),
])
def test_scan_refuses_unclear_settings(arguments, message):
    done = CliRunner().invoke(main, ["scan", "-n", "1", *arguments])
    assert done.exit_code == 1 and message in done.output
