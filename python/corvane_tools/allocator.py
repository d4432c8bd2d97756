"""Large freed blocks go straight back to the system.

glibc's malloc serves a block above its mmap threshold with a mapping of its
own and unmaps it when freed; but after the first such free it raises the
threshold (up to 32 MB), and from then on blocks of that size stay in its
heaps when freed. The commands allocate and free blocks of megabytes all the
time (NumPy arrays, a unit's Arrow table, the validation's vectors), so
freed memory piled up there: resident memory crept up over a long run and
swung by tens of megabytes. A fixed threshold keeps it to what is in use
(a 3,000-event `run`: 211 MB at the peak instead of 300 MB, in the same
time). A fixed threshold also freezes the one above which glibc gives the
free top of a heap back, at 128 kB: every batch's vectors and arrays were
handed back and faulted in again. It goes to twice the mmap threshold, where
glibc's own adjustment would have put it (a 2,000-event job: 30% fewer page
faults, the measuring thread 0.21 -> 0.18 ms of processor time per event,
the same peak).

Arrow's buffers come from its jemalloc pool rather than its default,
mimalloc, which hands the buffers of every row group read back to the system
and takes fresh huge pages for the next one, each zeroed by the kernel:
reading in a 2,000-event job cost about 0.30 ms of processor time per event
with mimalloc against 0.22 with jemalloc, at a peak of 270 MB against 230 MB.
The command's own process names the pool before pyarrow is imported (see
`arrow_pool`): set here afterwards, it does not reach the Parquet reader's
file and page buffers.
"""
import ctypes
import os
import sys
from typing import Final

M_MMAP_THRESHOLD: Final = -3              # mallopt's parameter numbers, from glibc's malloc.h
M_TRIM_THRESHOLD: Final = -1
FIXED_THRESHOLD: Final = 4 * 1024 * 1024  # bytes; smaller blocks are reused from the heaps as before
TRIM_THRESHOLD: Final = 2 * FIXED_THRESHOLD
THRESHOLD_VARIABLE: Final = "MALLOC_MMAP_THRESHOLD_"  # the same settings for processes started from here
TRIM_VARIABLE: Final = "MALLOC_TRIM_THRESHOLD_"
ARROW_POOL_VARIABLE: Final = "ARROW_DEFAULT_MEMORY_POOL"  # Arrow's pool, read when pyarrow is imported
ARROW_POOL: Final = "jemalloc"


def return_large_blocks() -> bool:
    """Fixes the thresholds for this process and the processes it starts (worker processes). Returns
    whether the C library took them; elsewhere than glibc, or when the mmap threshold's variable is set
    already (glibc then read it at start-up), nothing changes, and a trim threshold set so stays."""
    if not sys.platform.startswith("linux") or THRESHOLD_VARIABLE in os.environ:
        return False
    try:
        mallopt = ctypes.CDLL(None).mallopt  # the C library this process runs on
    except (OSError, AttributeError):
        return False
    os.environ[THRESHOLD_VARIABLE] = str(FIXED_THRESHOLD)
    took = bool(mallopt(M_MMAP_THRESHOLD, FIXED_THRESHOLD))
    if TRIM_VARIABLE not in os.environ:
        os.environ[TRIM_VARIABLE] = str(TRIM_THRESHOLD)
        took = bool(mallopt(M_TRIM_THRESHOLD, TRIM_THRESHOLD)) and took
    return took


def arrow_pool_reusing_memory() -> bool:
    """Makes jemalloc Arrow's pool in this process and the processes it starts. Returns whether it did;
    a pool named in the environment already (the user's choice) stays, and so does the default where
    this pyarrow has no jemalloc."""
    if ARROW_POOL_VARIABLE in os.environ:
        return False
    import pyarrow as pa

    try:
        pool = pa.jemalloc_memory_pool()
    except NotImplementedError:  # built without it
        return False
    pa.set_memory_pool(pool)
    os.environ[ARROW_POOL_VARIABLE] = ARROW_POOL
    return True
