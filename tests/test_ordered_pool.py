"""Worker processes of `ordered_map` end with their parent, however it ends."""
import os
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

PARENT = """
import sys
sys.path.insert(0, {here!r})
from corvane_tools.ordered_pool import ordered_map
from slow_task import worker_pid
for pid in ordered_map(worker_pid, ((i,) for i in range(10**6)), 2):
    print(pid, flush=True)
"""


def _alive(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    return True


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="workers follow their parent on Linux")
@pytest.mark.parametrize("signal_number", [signal.SIGTERM, signal.SIGKILL])
def test_workers_end_with_a_killed_parent(tmp_path: Path, signal_number: int) -> None:
    (tmp_path / "slow_task.py").write_text("import os, time\n\ndef worker_pid(_i):\n    time.sleep(0.05)\n"
                                           "    return os.getpid()\n")
    python_path = os.pathsep.join(filter(None, [str(tmp_path), os.environ.get("PYTHONPATH", "")]))
    parent = subprocess.Popen([sys.executable, "-c", PARENT.format(here=str(tmp_path))], stdout=subprocess.PIPE,
                              text=True, env={**os.environ, "PYTHONPATH": python_path})
    workers: set[int] = set()
    try:
        assert parent.stdout is not None
        deadline = time.monotonic() + 60
        while len(workers) < 2 and time.monotonic() < deadline:
            workers.add(int(parent.stdout.readline()))
        assert len(workers) == 2
    finally:
        parent.send_signal(signal_number)
        parent.wait(timeout=30)
        parent.stdout.close()
    deadline = time.monotonic() + 20
    while any(_alive(pid) for pid in workers) and time.monotonic() < deadline:
        time.sleep(0.05)
    left = [pid for pid in workers if _alive(pid)]
    for pid in left:
        os.kill(pid, signal.SIGKILL)
    assert not left, "worker processes outlived their parent"
