"""Arrow's pool for the whole of the command's process, named before pyarrow is imported.

Arrow reads the name of its default pool once, when pyarrow is imported.
`pyarrow.set_memory_pool` (see `allocator.arrow_pool_reusing_memory`)
changes only the pool of pyarrow's own calls: the Parquet reader still took
its file reads and page buffers from the pool named at import, mimalloc, in
a region of its own beside jemalloc's. A `run` of a Parquet file held about
10 MB more there, and its resident memory jumped by 15-20 MB at times and
stayed up (20,000 events: a peak of 198 MB, against 178 MB with every
buffer from jemalloc). The command's module imports this one first, so the
name is in the environment before anything imports pyarrow.
"""
import os
import sys
from typing import Final

from .allocator import ARROW_POOL, ARROW_POOL_VARIABLE

# Arrow's jemalloc keeps the pages it freed for reuse instead of handing them back after a second and
# faulting them in again: the pool's own peak bounds them, and run FILE peaked 7-8 MB lower and steadier
# (100,000 events: 167 against 176 MB; 1k: 157 against 160) with less system time.
JEMALLOC_CONF_VARIABLE: Final = "JE_ARROW_MALLOC_CONF"
JEMALLOC_CONF: Final = "dirty_decay_ms:-1,muzzy_decay_ms:-1"

# Linux builds of pyarrow have jemalloc; elsewhere Arrow would warn about a pool it lacks. Settings the
# user made stay, and a pyarrow imported already (the command run from Python) keeps its own.
if sys.platform.startswith("linux") and "pyarrow" not in sys.modules:
    os.environ.setdefault(ARROW_POOL_VARIABLE, ARROW_POOL)
    os.environ.setdefault(JEMALLOC_CONF_VARIABLE, JEMALLOC_CONF)
