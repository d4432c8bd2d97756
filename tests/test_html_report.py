"""The HTML reports render in a real browser (headless Chromium), with their tables and plots, and
load nothing from anywhere."""
import html
import json
import os
import shutil
import subprocess
from html.parser import HTMLParser

import matplotlib.image
import pytest
from click.testing import CliRunner

from corvane_tools import cli
from corvane_tools.cli_compare import WORSE_STATUS

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")


class Elements(HTMLParser):
    """Counts tags and collects the captions and every URL-valued attribute."""

    def __init__(self):
        super().__init__()
        self.tags = {}
        self.urls = []
        self.captions = []
        self._in_caption = False

    def handle_starttag(self, tag, attrs):
        self.tags[tag] = self.tags.get(tag, 0) + 1
        self.urls += [value for name, value in attrs if name in ("src", "href") and value]
        self._in_caption = tag == "caption"

    def handle_endtag(self, tag):
        self._in_caption = False

    def handle_data(self, data):
        if self._in_caption:
            self.captions.append(data)


def parse(text):
    elements = Elements()
    elements.feed(text)
    return elements


# Under tools/sanitize.sh the sanitizer runtimes are preloaded for this interpreter; the browser
# must start without them (preloaded into Chromium they stall it until the timeout).
BROWSER_ENV = {key: value for key, value in os.environ.items()
               if key not in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS")}


def chromium(tmp_path, page, *args):
    return subprocess.run([CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                           "--no-first-run", f"--user-data-dir={tmp_path / 'profile'}", *args, page.as_uri()],
                          capture_output=True, text=True, timeout=120, check=True, env=BROWSER_ENV)


def invoke(*args):
    return CliRunner().invoke(cli.main, [str(a) for a in args])


def run_page(root):
    assert invoke("run", "-n", "2", "-a", "track_following", "-q", "--html", root / "page.html").exit_code == 0


def tune_page(root):
    assert invoke("tune", "-a", "track_following", "-n", "2", "--trials", "3", "-q", "--out", root / "best.toml",
                  "--plot", root / "t.png", "--html", root / "page.html").exit_code == 0


def compare_page(root):
    for name, extra in (("a", []), ("b", ["-p", "track_following.max_tolerance=0.05,0.05"])):
        assert invoke("run", "-n", "2", "-a", "track_following", "-q", "--json", root / f"{name}.json",
                      *extra).exit_code == 0
    result = invoke("compare", root / "a.json", root / "b.json", "--html", root / "page.html")
    assert result.exit_code == WORSE_STATUS and "Wrote" in result.output


# how the page is made, captions it must show (provenance besides), plots embedded
PAGES = {
    "run": (run_page, ["TrackFollowing", "Time in the solver"], 6),
    "tune": (tune_page, ["Defaults and tuned settings on both samples", "Trials (on the tuning sample)"], 1),
    "compare": (compare_page, ["Rows beyond the tolerance", "Every algorithm, category and quantity"], 1),
}


@pytest.fixture(scope="module", params=sorted(PAGES))
def page(request, tmp_path_factory):
    root = tmp_path_factory.mktemp(request.param)
    make, captions, plots = PAGES[request.param]
    make(root)
    return root / "page.html", captions, plots


def test_page_is_self_contained(page):
    path, captions, plots = page
    elements = parse(path.read_text(encoding="utf-8"))
    assert elements.tags.get("img") == plots
    assert all(url.startswith("data:image/png;base64,") for url in elements.urls)
    assert set(captions) <= set(elements.captions)
    assert any("results come from" in caption for caption in elements.captions)   # the provenance


@pytest.mark.skipif(CHROMIUM is None and not os.environ.get("CI"),
                    reason="headless Chromium is not installed (CI installs it: see .ci/run)")
def test_page_renders_in_chromium(page, tmp_path):
    assert CHROMIUM is not None, "CI must install headless Chromium (.ci/run)"
    path, captions, plots = page
    shot = tmp_path / "shot.png"
    chromium(tmp_path, path, "--window-size=1280,1600", f"--screenshot={shot}")
    pixels = matplotlib.image.imread(shot)[..., :3]
    assert (pixels.min(axis=2) < 0.9).mean() > 0.02 and pixels.std() > 0.05   # drawn, not a blank page
    dom = parse(chromium(tmp_path, path, "--dump-dom").stdout)
    assert dom.tags.get("table", 0) >= len(captions) and dom.tags.get("img") == plots
    assert set(captions) <= set(dom.captions)


def test_names_from_the_input_are_text_not_markup(tmp_path):
    """A file name (in the sample line, the provenance) reaches the page escaped; events without truth
    give a page that says they were not validated, with no plots."""
    from corvane_tools.generator import generate_event

    hostile = '<img src=x onerror="alert(1)">'
    (tmp_path / f"{hostile}.json").write_text(json.dumps({**generate_event(1, 0), "montecarlo": None}))
    result = invoke("run", tmp_path, "-a", "track_following", "-q", "--html", tmp_path / "page.html")
    assert result.exit_code == 0, result.output
    text = (tmp_path / "page.html").read_text(encoding="utf-8")
    elements = parse(text)
    assert "img" not in elements.tags and "script" not in elements.tags
    assert html.escape(hostile) in text and "TrackFollowing: not validated" in elements.captions
