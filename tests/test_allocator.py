"""The commands' allocator set-up reaches the processes they start, and leaves a choice made in the
environment alone."""
import json
import os
import subprocess
import sys

import pytest

from child_process import SANITIZED

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Arrow's pool here and in a process started afterwards (as generating workers are).
PROBE = """
import json, subprocess, sys
import pyarrow as pa
from corvane_tools.allocator import arrow_pool_reusing_memory
arrow_pool_reusing_memory()
child = subprocess.run([sys.executable, "-c", "import pyarrow as pa; print(pa.default_memory_pool().backend_name)"],
                       capture_output=True, text=True, check=True, timeout=60)
print(json.dumps([pa.default_memory_pool().backend_name, child.stdout.strip()]))
"""


@pytest.mark.parametrize("chosen, expected", [(None, "jemalloc"), ("system", "system")])
def test_arrow_pool_in_this_process_and_its_children(chosen, expected):
    env = {key: value for key, value in os.environ.items() if key != "ARROW_DEFAULT_MEMORY_POOL"}
    env["PYTHONPATH"] = os.pathsep.join([os.path.join(ROOT, "python"), *filter(None, [env.get("PYTHONPATH")])])
    if chosen is not None:
        env["ARROW_DEFAULT_MEMORY_POOL"] = chosen
    done = subprocess.run([sys.executable, "-c", PROBE], env=env, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout) == [expected, expected]


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="glibc's thresholds")
@pytest.mark.skipif(SANITIZED, reason="the sanitizer's allocator replaces glibc's and its thresholds")
@pytest.mark.parametrize("chosen, expected", [(None, "8388608"), ("65536", "65536")])
def test_heap_thresholds_reach_the_processes_started(chosen, expected):
    env = {key: value for key, value in os.environ.items()
           if key not in ("MALLOC_MMAP_THRESHOLD_", "MALLOC_TRIM_THRESHOLD_")}
    env["PYTHONPATH"] = os.pathsep.join([os.path.join(ROOT, "python"), *filter(None, [env.get("PYTHONPATH")])])
    if chosen is not None:
        env["MALLOC_TRIM_THRESHOLD_"] = chosen
    probe = ("import json, os, subprocess, sys\n"
             "from corvane_tools.allocator import return_large_blocks\n"
             "assert return_large_blocks()\n"
             "child = subprocess.run([sys.executable, '-c', 'import os; print(os.environ[\"MALLOC_MMAP_THRESHOLD_\"], "
             "os.environ[\"MALLOC_TRIM_THRESHOLD_\"])'], capture_output=True, text=True, check=True, timeout=60)\n"
             "print(json.dumps(child.stdout.split()))\n")
    done = subprocess.run([sys.executable, "-c", probe], env=env, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout) == ["4194304", expected]


# The command's module imported first, as the command imports it, then a Parquet file written and read:
# the default pool, and whether anything was taken from mimalloc all the same.
COMMAND_PROBE = """
import json, os, sys
import corvane_tools.cli
from corvane_tools.allocator import arrow_pool_reusing_memory
arrow_pool_reusing_memory()
import pyarrow as pa, pyarrow.parquet as pq
pq.write_table(pa.table({"x": [[float(i)] * 1000 for i in range(200)]}), sys.argv[1], row_group_size=100)
for batch in pq.ParquetFile(sys.argv[1]).iter_batches(batch_size=16, use_threads=False):
    pass
print(json.dumps([pa.default_memory_pool().backend_name, pa.mimalloc_memory_pool().max_memory() > 0,
                  os.environ.get("JE_ARROW_MALLOC_CONF")]))
"""


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="Arrow's builds have jemalloc on Linux")
@pytest.mark.parametrize("pool, conf, expected", [
    (None, None, ["jemalloc", False, "dirty_decay_ms:-1,muzzy_decay_ms:-1"]),
    ("system", "narenas:1", ["system", False, "narenas:1"]),   # the user's settings stay
])
def test_the_command_reads_parquet_with_one_pool(tmp_path, pool, conf, expected):
    env = {key: value for key, value in os.environ.items()
           if key not in ("ARROW_DEFAULT_MEMORY_POOL", "JE_ARROW_MALLOC_CONF")}
    env["PYTHONPATH"] = os.pathsep.join([os.path.join(ROOT, "python"), *filter(None, [env.get("PYTHONPATH")])])
    for name, value in (("ARROW_DEFAULT_MEMORY_POOL", pool), ("JE_ARROW_MALLOC_CONF", conf)):
        if value is not None:
            env[name] = value
    done = subprocess.run([sys.executable, "-c", COMMAND_PROBE, str(tmp_path / "s.parquet")], env=env,
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout) == expected
