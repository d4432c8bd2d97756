"""A map over worker processes that yields results in input order, with few results in flight.

At most `window` tasks are submitted ahead of the one being consumed, so
memory stays bounded however many tasks there are. With one process the
tasks run here, one after the other, with the same results.
"""
import ctypes
import multiprocessing
import os
import signal
import sys
from collections import deque
from collections.abc import Callable, Iterable, Iterator
from concurrent.futures import Future, ProcessPoolExecutor
from typing import Any, Final, TypeVar

Result = TypeVar("Result")

PR_SET_PDEATHSIG: Final = 1   # prctl's option number, from linux/prctl.h


def _die_with(parent: int) -> None:
    """Ends this worker when `parent` ends. A parent killed without its clean-up (SIGTERM, SIGKILL) never
    closes the pool, and the workers, which hold both ends of its pipes, would wait on them forever."""
    if not sys.platform.startswith("linux"):
        return
    try:
        ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)
    except (OSError, AttributeError):
        return
    if os.getppid() != parent:  # it ended before the request took effect
        os._exit(1)


def _setup_worker(parent: int) -> None:
    # Ctrl-C reaches the whole process group; the parent alone decides what to do with it.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    _die_with(parent)


def ordered_map(function: Callable[..., Result], tasks: Iterable[tuple[Any, ...]], processes: int,
                window: int | None = None) -> Iterator[Result]:
    """function(*task) for every task, in task order, computed by `processes` worker processes."""
    if processes <= 1:
        for task in tasks:
            yield function(*task)
        return
    ahead = window if window is not None else 2 * processes
    # "spawn": the parent may run threads (the solver's pool), which a forked child would inherit half-made.
    executor = ProcessPoolExecutor(processes, mp_context=multiprocessing.get_context("spawn"),
                                   initializer=_setup_worker, initargs=(os.getpid(),))
    pending: deque[Future[Result]] = deque()
    try:
        for task in tasks:
            pending.append(executor.submit(function, *task))
            if len(pending) >= ahead:
                yield pending.popleft().result()
        while pending:
            yield pending.popleft().result()
    finally:
        executor.shutdown(wait=True, cancel_futures=True)
