"""Preloaded into the worker processes of a local cluster, so that Ctrl-C ends a job quietly.

A terminal sends Ctrl-C to every process of the job, the workers included;
the driver folds what is complete and closes the cluster, which stops the
workers in order. A worker that took the signal itself would die on the
spot with a traceback about its own event loop, and a worker whose tasks
are cancelled by the closing cluster logs a warning for each of them.
"""
import logging
import signal
from typing import Any


class _CancelledTasks(logging.Filter):
    def filter(self, record: logging.LogRecord) -> bool:
        return "ended with CancelledError" not in record.getMessage()


def dask_setup(worker: Any) -> None:
    logging.getLogger("distributed.worker.state_machine").addFilter(_CancelledTasks())
    try:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
    except ValueError:  # not the process's main thread: nothing to do
        pass
