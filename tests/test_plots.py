"""What the plots show: every binned variable adds up to the validator's counts, and the origin-z
plot appears only for samples that record production points."""
import pytest

from corvane_tools.binned import BINNED_VARIABLES, PlotInput, Ratio, efficiency_in_bins
from corvane_tools.generator import generate_range
from corvane_tools.plots import draw_all

import corvane

EVENTS = generate_range(51, 0, 4)


def without_column(event, column):
    record = event["montecarlo"]
    keep = [i for i, name in enumerate(record["description"]) if name != column]
    return dict(event, montecarlo={"description": [record["description"][i] for i in keep],
                                   "particles": [[row[i] for i in keep] for row in record["particles"]]})


@pytest.fixture(scope="module")
def tracks():
    solver = corvane.ReconstructionAlgorithms.TrackFollowing()
    return solver.solve_batch([corvane.DetectorEvent.Event(event) for event in EVENTS])


@pytest.mark.parametrize("variable", list(BINNED_VARIABLES))
def test_bins_cover_the_particles_within_their_edges(tracks, variable):
    """Every particle inside the edges falls into exactly one bin: the bins add up to a cut of the whole."""
    edges = BINNED_VARIABLES[variable]
    whole = efficiency_in_bins(EVENTS, tracks, variable, (edges[0], edges[-1]))
    binned = efficiency_in_bins(EVENTS, tracks, variable, edges)
    for category, (total,) in whole.items():
        assert sum(r.passed for r in binned[category]) == total.passed
        assert sum(r.total for r in binned[category]) == total.total
    assert whole["velo"][0].total > 0


@pytest.mark.parametrize("has_origin", [True, False])
def test_origin_z_is_plotted_only_when_recorded(tmp_path, tracks, has_origin):
    events = EVENTS if has_origin else [without_column(event, "originZ") for event in EVENTS]
    efficiency = {variable: efficiency_in_bins(events, tracks, variable, edges)
                  for variable, edges in BINNED_VARIABLES.items()}
    run = PlotInput("TrackFollowing", efficiency, [3000] * len(events), [(10, 1)] * len(events), [], "p=1")
    names = {path.name for path in draw_all([run], tmp_path, "4 test events")}
    assert ("efficiency_vs_origin_z.png" in names) == has_origin
    assert {"efficiency_vs_p.png", "efficiency_vs_pt.png", "efficiency_vs_eta.png"} <= names


@pytest.mark.parametrize("passed, total", [(0, 7), (7, 7)])
def test_empty_and_full_bins_have_intervals(passed, total):
    low, high = Ratio(passed, total).interval
    assert high - low > 0.05 and low <= passed / total <= high


@pytest.mark.parametrize("width", [4.0, 10.4, 16.0])
@pytest.mark.parametrize("filler", ["clone_ghost_killing=true [default], ", "MMMM=WWWW, "])
def test_the_parameter_caption_fits_the_figure(width, filler):
    """Characters differ in width: however wide the letters, every caption line stays inside the figure."""
    import matplotlib.pyplot as plt
    from types import SimpleNamespace

    from corvane_tools.plots import _caption

    figure = plt.figure(figsize=(width, 3.0))
    _caption(figure, [SimpleNamespace(class_name="GraphDFS", parameters=filler * 12)], "50 generated events")
    caption = figure.texts[-1].get_window_extent(figure.canvas.get_renderer())
    plt.close(figure)
    assert 0 <= caption.x0 and caption.x1 <= figure.bbox.width
