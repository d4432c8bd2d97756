"""Running the job's units on a Dask cluster, or one after another in this process.

Either way each unit is read, solved and measured by the same pipeline
(`job_pipeline`) and its result goes into the same `JobFold`, so the
reports are byte-identical. On a cluster the driver sends only file names:
every worker reads its own events, and must see the files under the same
paths (and have corvane installed).

Needs the optional dependency: pip install "corvane[distributed]".
"""
import asyncio
import contextlib
import logging
import time
from collections.abc import Iterator, Sequence
from typing import Any, Final

from .algorithms import pool_size
from .event_files import EventFileError
from .job_fold import JobFold
from .job_pipeline import process_unit_pipelined, run_locally
from .work_units import JobOptions, UnitResult, WorkUnit

RETRIES: Final = 2            # further attempts at a unit whose task raised
CONNECT_TIMEOUT: Final = "5s"       # reaching the scheduler
WORKERS_TIMEOUT: Final = "20s"      # its first worker joining


class ClusterError(RuntimeError):
    """The cluster could not be started or reached; the message is one line."""


def _distributed() -> Any:
    try:
        import distributed
    except ImportError:
        raise ClusterError('running on a cluster needs Dask: pip install "corvane[distributed]"') from None
    return distributed


@contextlib.contextmanager
def cluster_client(scheduler: str | None = None, workers: int | None = None,
                   threads_per_worker: int = 1) -> Iterator[Any]:
    """A client of the cluster at `scheduler` (e.g. "tcp://10.0.0.5:8786"), or of a new cluster of
    `workers` worker processes on this machine, listening on the loopback interface only."""
    distributed = _distributed()
    if (scheduler is None) == (workers is None):
        raise ClusterError("give either a scheduler address or a number of workers")
    if scheduler is not None:
        try:
            # Never the process's default client: a client that failed to connect would stay the
            # default, and Dask helpers that look the default up would wait on its dead loop for ever.
            client = distributed.Client(scheduler, timeout=CONNECT_TIMEOUT, set_as_default=False)
        except Exception as error:
            raise ClusterError(f"cannot reach the scheduler at {scheduler}: {_first_line(error)}") from None
        with client:
            try:
                client.wait_for_workers(1, timeout=WORKERS_TIMEOUT)
            except TimeoutError:
                raise ClusterError(f"the cluster at {scheduler} has no workers") from None
            yield client
        return
    assert workers is not None
    if workers < 1:
        raise ClusterError("the number of workers must be at least 1")
    # One solver thread per worker thread: worker processes share the cores among themselves. Every
    # port, the scheduler's web server's too, listens on the loopback interface only.
    with _log_level_kept(), \
            distributed.LocalCluster(n_workers=workers, threads_per_worker=threads_per_worker, processes=True,
                                     host="127.0.0.1", dashboard_address="127.0.0.1:0",
                                     env={"RAYON_NUM_THREADS": str(threads_per_worker)},
                                     preload=["corvane_tools.worker_preload"]) as cluster, \
            distributed.Client(cluster, set_as_default=False) as client:
        try:
            yield client
        except KeyboardInterrupt:
            # Closing now cancels the tasks in flight; the cluster's log lines about that say
            # nothing the interrupted user needs.
            logging.getLogger("distributed").setLevel(logging.CRITICAL + 1)
            raise


@contextlib.contextmanager
def _log_level_kept() -> Iterator[None]:
    logger = logging.getLogger("distributed")
    level = logger.level
    try:
        yield
    finally:
        logger.setLevel(level)


def _first_line(error: BaseException) -> str:
    return str(error).splitlines()[0] if str(error) else type(error).__name__


def _failure_line(error: BaseException) -> str:
    text = str(error).splitlines()[0] if str(error) else ""
    return f"failed on the cluster: {type(error).__name__}" + (f": {text}" if text else "")


def _task_error(future: Any) -> BaseException:
    """Why a task ended without a result (a cancelled task has no exception of its own)."""
    try:
        error: BaseException = future.exception()
    except (Exception, asyncio.CancelledError) as cancelled:
        error = cancelled
    return error


def run_on_cluster(client: Any, units: Sequence[WorkUnit], options: JobOptions, fold: JobFold,
                   progress: Any = None) -> None:
    """Every unit as one task on the cluster; results are folded as they arrive.

    A task that raises, or whose worker dies, is run again by the scheduler.
    A unit that still fails is reported by file name in the fold's problems
    (raised when `strict`); its events count as skipped, never as processed.
    """
    distributed = _distributed()
    futures = client.map(process_unit_pipelined, list(units), options=options, retries=RETRIES, pure=False)
    unit_of = {future.key: unit for future, unit in zip(futures, units)}
    try:
        for future in distributed.as_completed(futures, loop=client.loop):
            unit = unit_of.pop(future.key)
            if future.status == "finished":
                result = future.result()
            else:
                error = _task_error(future)
                if options.strict:
                    if isinstance(error, EventFileError):
                        raise EventFileError(str(error)) from None
                    raise ClusterError(f"{unit.describe()}: {_failure_line(error)}")
                result = UnitResult.failed(unit, _failure_line(error))
            future.release()
            fold.accept(result)
            if progress is not None:
                progress.update(unit.events)
    finally:
        client.cancel([future for future in futures if future.key in unit_of])


def describe_where(scheduler: str | None = None, workers: int | None = None) -> str:
    if scheduler is not None:
        return f"the cluster at {scheduler}"
    if workers is not None:
        return f"a local cluster of {workers} worker process" + ("" if workers == 1 else "es")
    return "this process"


@contextlib.contextmanager
def _timed(fold: JobFold) -> Iterator[None]:
    """Sets the fold's wall time, also when the work is interrupted (the fold then covers part of it)."""
    began = time.perf_counter()
    try:
        yield
    finally:
        fold.wall_seconds = time.perf_counter() - began


def run_units(units: Sequence[WorkUnit], options: JobOptions, fold: JobFold, progress: Any = None,
              scheduler: str | None = None, workers: int | None = None) -> str:
    """Runs every unit where asked (an existing cluster, a new local cluster of `workers` processes,
    or this process) and folds the results. Returns a description of where it ran (see
    `describe_where`). On KeyboardInterrupt the fold keeps the units completed so far."""
    if scheduler is None and workers is None:
        fold.threads = pool_size()
        with _timed(fold):
            run_locally(units, options, fold, progress)
    else:
        with cluster_client(scheduler, workers) as client:
            fold.threads = fold.task_threads = sum(client.nthreads().values())
            with _timed(fold):  # the cluster's start-up is not part of the job
                run_on_cluster(client, units, options, fold, progress)
    fold.check_complete()
    return describe_where(scheduler, workers)
