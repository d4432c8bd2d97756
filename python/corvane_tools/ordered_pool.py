"""A map over worker processes that yields results in input order, with few results in flight.

At most `window` tasks are submitted ahead of the one being consumed, so
memory stays bounded however many tasks there are. With one process the
tasks run here, one after the other, with the same results.
"""
import multiprocessing
import signal
from collections import deque
from collections.abc import Callable, Iterable, Iterator
from concurrent.futures import Future, ProcessPoolExecutor
from typing import Any, TypeVar

Result = TypeVar("Result")


def _ignore_interrupts() -> None:
    # Ctrl-C reaches the whole process group; the parent alone decides what to do with it.
    signal.signal(signal.SIGINT, signal.SIG_IGN)


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
                                   initializer=_ignore_interrupts)
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
