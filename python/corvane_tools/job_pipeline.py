"""The job's units run in this process as a pipeline of three threads.

A reader thread reads (or has worker processes simulate), checks and
builds the next events; a solver thread reconstructs them (on the worker
pool, without the interpreter lock); the calling thread measures them for
validation and folds the results. Each
stage hands its pieces on through a short queue, so the stages overlap and
only a few pieces are ever in memory. Pieces pass through every stage in
order, so the results are those of one piece after another.
"""
import itertools
import queue
import sys
import threading
from collections.abc import Callable, Iterator, Sequence
from typing import Any, Final, Generic, TypeVar

from .algorithms import Solver, pool_size
from .job_fold import JobFold
from .ordered_pool import ordered_map
from .work_units import (JobOptions, Piece, SolvedPiece, UnitProcessor, UnitResult, WorkUnit, generated_stretches,
                         generated_table, read_pieces, solve_piece)

AHEAD: Final = 2             # pieces waiting between two stages
# While the job runs, a thread waiting for the interpreter lock gets it after at most this long (the
# interpreter's default is 5 ms): the solver thread takes it back after every batch to hand over the tracks,
# and the worker pool idles while it waits behind the reader's or the measuring's Python code.
HANDOFF_SECONDS: Final = 0.0005
POLL_SECONDS: Final = 0.1    # how often a waiting stage looks whether it should stop
STOP_SECONDS: Final = 30.0   # how long an interrupted job waits for a stage's current piece

Item = TypeVar("Item")


class _End:
    """Put after a stage's last item."""


class _Stage(threading.Thread, Generic[Item]):
    """Runs `produce` on its own thread; its items, then its end or its failure, go into a short queue."""

    def __init__(self, name: str, produce: Callable[[], Iterator[Item]]) -> None:
        super().__init__(name=name, daemon=True)
        self.produce = produce
        self.handed: queue.Queue[Item | _End | BaseException] = queue.Queue(AHEAD)
        self.stopping = threading.Event()

    def _put(self, item: Item | _End | BaseException) -> bool:
        while not self.stopping.is_set():
            try:
                self.handed.put(item, timeout=POLL_SECONDS)
                return True
            except queue.Full:
                continue
        return False

    def run(self) -> None:
        try:
            for item in self.produce():
                if not self._put(item):
                    return
            self._put(_End())
        except BaseException as error:  # handed to the consuming thread, which raises it
            self._put(error)

    def items(self, stopping: threading.Event | None = None) -> Iterator[Item]:
        """The items in order (on the consuming thread); re-raises the stage's failure. Ends early
        once `stopping` is set."""
        while stopping is None or not stopping.is_set():
            try:
                item = self.handed.get(timeout=POLL_SECONDS)
            except queue.Empty:
                continue
            if isinstance(item, _End):
                return
            if isinstance(item, BaseException):
                raise item
            yield item


class _QuickHandoffs:
    """Shortens the interpreter's switch interval to HANDOFF_SECONDS while any job runs in this process
    (jobs may run side by side on a cluster worker's threads); the last one to end restores it."""

    def __init__(self) -> None:
        self.lock = threading.Lock()
        self.running = 0
        self.saved = sys.getswitchinterval()

    def __enter__(self) -> None:
        with self.lock:
            if self.running == 0:
                self.saved = sys.getswitchinterval()
                sys.setswitchinterval(min(self.saved, HANDOFF_SECONDS))
            self.running += 1

    def __exit__(self, *_exception: object) -> None:
        with self.lock:
            self.running -= 1
            if self.running == 0:
                sys.setswitchinterval(self.saved)


quick_handoffs = _QuickHandoffs()


def _pieces(units: Sequence[WorkUnit], options: JobOptions, processes: int) -> Iterator[Piece]:
    """Every unit's pieces in order. Generated units are simulated ahead, stretch by stretch in order, on
    `processes` worker processes (each event depends only on its seed and index, so any process makes the
    same)."""
    if not units or not all(unit.seed is not None for unit in units):
        for unit in units:
            yield from read_pieces(unit, options)
        return
    processes = min(processes, len(units))
    # Made as they are sent (a million events are 25,000 stretches). A stretch's table takes megabytes: one
    # stretch ahead per process keeps them all busy while this thread hands the current one on.
    stretches = ((unit, *stretch) for unit in units for stretch in generated_stretches(unit))
    tables = ordered_map(generated_table, stretches, processes, window=processes + 1)
    for unit in units:
        yield from read_pieces(unit, options, itertools.islice(tables, len(generated_stretches(unit))))


def run_locally(units: Sequence[WorkUnit], options: JobOptions, fold: JobFold, progress: Any = None,
                processes: int | None = None) -> None:
    """Every unit in this process, in order: read, solved and measured in overlapping stages. A generated
    sample is simulated on `processes` worker processes (default: one per solver thread; 1: here)."""
    run_pipeline(units, options, fold.accept, progress, pool_size() if processes is None else processes)


def process_unit_pipelined(unit: WorkUnit, options: JobOptions) -> UnitResult:
    """`process_unit` with the unit's reading overlapped with its solving and measuring: what a cluster's
    task runs (a generated unit is simulated in the task's own process)."""
    results: list[UnitResult] = []
    run_pipeline([unit], options, results.append)
    return results[0]


def run_pipeline(units: Sequence[WorkUnit], options: JobOptions, accept: Callable[[UnitResult], None],
                 progress: Any = None, processes: int = 1) -> None:
    """Reads, solves and measures the units in overlapping stages, handing each unit's result to `accept`
    in unit order."""
    solvers = options.solvers()
    reader = _Stage("corvane-reader", lambda: _pieces(units, options, processes))
    solver: _Stage[SolvedPiece] = _Stage(
        "corvane-solver",
        # Plots count Track objects; everything else takes the module's own algorithms' tracks as columns.
        lambda: (solve_piece(solvers, piece, columns=not options.plots) for piece in reader.items(solver.stopping)))
    stages = (reader, solver)
    finished = False
    with quick_handoffs:
        for stage in stages:
            stage.start()
        try:
            _fold_in_order(units, options, solvers, solver, accept, progress)
            finished = True
        finally:
            for stage in stages:
                stage.stopping.set()
            for stage in stages:
                stage.join(None if finished else STOP_SECONDS)


def _fold_in_order(units: Sequence[WorkUnit], options: JobOptions, solvers: dict[str, Solver],
                   solver: _Stage[SolvedPiece], accept: Callable[[UnitResult], None], progress: Any) -> None:
    """Measures the solved pieces as they come and hands each unit's result to `accept`, in unit order."""
    solved_pieces = solver.items()
    for unit in units:
        processor = UnitProcessor(unit, options, solvers)
        counted = 0
        for solved in solved_pieces:
            processor.add_solved(solved)
            piece = solved.piece
            # Skipped events count as done too, so that the bar ends at the planned total.
            done = unit.events if piece.last else min(counted + len(piece.events), unit.events)
            if progress is not None:
                progress.update(done - counted)
            counted = done
            if piece.last:
                break
        accept(processor.result())
