"""Ctrl-C during a job: the events completed so far are reported as a partial result, exit 130."""
import functools
import os
import signal
import subprocess
import sys
import time

import pytest
from click.testing import CliRunner

from corvane_tools import cli, job_pipeline, work_units

INTERRUPTED = 130


def test_interrupted_job_reports_the_completed_events(monkeypatch, tmp_path):
    monkeypatch.chdir(tmp_path)
    done = []

    class InterruptThirdUnit(job_pipeline.UnitProcessor):
        def add_solved(self, solved):
            if len(done) == 2:
                raise KeyboardInterrupt
            super().add_solved(solved)

        def result(self):
            result = super().result()
            done.append(result.events)
            return result

    monkeypatch.setattr(job_pipeline, "UnitProcessor", InterruptThirdUnit)
    monkeypatch.setattr(cli, "plan_generated", functools.partial(work_units.plan_generated, per_unit=30))
    result = CliRunner().invoke(cli.main, ["run", "-n", "100", "-q", "-a", "track_following", "--json", "r.json"])
    assert result.exit_code == INTERRUPTED, result.output
    completed = sum(done)
    assert f"PARTIAL: interrupted; {completed} events of 100 completed" in result.output
    assert f"Processed {completed} events" in result.output and "ghost rate" in result.output
    assert "no output files written" in result.output and not os.path.exists("r.json")


def _heed_ctrl_c():
    # A shell starts background commands with Ctrl-C ignored, and Python then keeps it ignored: a suite run
    # in the background would see the job finish instead of being interrupted.
    signal.signal(signal.SIGINT, signal.SIG_DFL)


@pytest.mark.timeout(180)
@pytest.mark.parametrize("extra", [[], ["--workers", "2"]])
def test_ctrl_c_ends_the_job_quietly(tmp_path, extra):
    """Ctrl-C reaches every process of the terminal's group, cluster workers included."""
    job = subprocess.Popen([sys.executable, "-m", "corvane_tools", "run", "-n", "5000", "-q", *extra],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, start_new_session=True,
                           env=dict(os.environ, RAYON_NUM_THREADS="1"), preexec_fn=_heed_ctrl_c)
    try:
        time.sleep(12)  # past the cluster's start-up
        os.killpg(job.pid, signal.SIGINT)
        out, err = job.communicate(timeout=120)
    finally:
        if job.poll() is None:
            os.killpg(job.pid, signal.SIGKILL)
    assert job.returncode == INTERRUPTED, err
    assert "Traceback" not in err and "CancelledError" not in err and "WARNING" not in err
    assert "interrupted" in err
