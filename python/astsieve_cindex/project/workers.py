"""A pool of worker processes that may die: `each_result` runs a picklable
function over items and yields each item's result as it finishes.

Workers are started fresh (spawn), never forked from a process holding
libclang. A worker that dies (a signal, a crash, the kernel's out-of-memory
kill) or outlives the timeout fails the item it held, and a new worker
takes its place; the other items go on.
"""

from __future__ import annotations

import contextlib
import multiprocessing
import os
import signal
import threading
import time
from collections import deque
from multiprocessing.connection import Connection, wait
from multiprocessing.context import SpawnContext, SpawnProcess
from types import FrameType
from typing import (
    Any,
    Callable,
    Deque,
    Generator,
    Generic,
    Iterable,
    Iterator,
    List,
    NamedTuple,
    Optional,
    Tuple,
    TypeVar,
    Union,
)

__all__ = ["WorkerFailure", "each_result"]

Item = TypeVar("Item")
Result = TypeVar("Result")

# How often a pool waiting for its workers looks for Ctrl-C.
_POLL_SECONDS = 0.1
# How long a worker whose connection is closed gets to exit before it is killed.
_EXIT_SECONDS = 10.0


class WorkerFailure(NamedTuple):
    """Why an item has no result, in a few words: "worker killed by SIGKILL",
    "timed out after 2 s", "worker raised ValueError: ..."."""

    reason: str


def _serve(connection: Connection, function: Callable[[Any], Any]) -> None:
    """A worker's life: says it is ready, then answers each item with
    (result, None) or (None, reason) until its connection closes."""
    signal.signal(signal.SIGINT, signal.SIG_IGN)  # the parent alone decides
    connection.send(None)
    while True:
        try:
            (item,) = connection.recv()
        except (EOFError, OSError):  # let go, or the parent is gone
            return
        try:
            reply: Tuple[Any, Optional[str]] = (function(item), None)
        except Exception as error:
            reply = (None, f"worker raised {type(error).__name__}: {error}")
        try:
            connection.send(reply)
        except OSError:  # the parent is gone
            return
        except Exception as error:  # a result that cannot be pickled
            connection.send((None, f"worker cannot send its result: {error}"))


def _death(exitcode: Optional[int]) -> str:
    if exitcode is not None and exitcode < 0:
        try:
            return f"worker killed by {signal.Signals(-exitcode).name}"
        except ValueError:
            return f"worker killed by signal {-exitcode}"
    return f"worker exited with status {exitcode}"


class _Worker(Generic[Item]):
    """One worker process, the item it holds, and when that item's time is up."""

    def __init__(
        self,
        context: SpawnContext,
        function: Callable[[Any], Any],
        item: Item,
        message: Callable[[Item], Any],
    ) -> None:
        self.connection, theirs = context.Pipe()
        self.process: SpawnProcess = context.Process(
            target=_serve, args=(theirs, function), daemon=True
        )
        self.process.start()
        theirs.close()
        self.ready = False
        self.started = time.monotonic()
        self.item = item
        self.message = message
        self.give(item)

    def give(self, item: Item) -> None:
        """Hands the worker its next item (as `message` makes it, now), whose
        time starts now, or when it is ready."""
        self.connection.send((self.message(item),))
        self.item = item
        if self.ready:
            self.started = time.monotonic()

    def kill(self) -> None:
        self.process.kill()
        self.process.join()
        self.connection.close()


class _Pool(Generic[Item, Result]):
    def __init__(
        self,
        function: Callable[[Any], Result],
        items: Deque[Item],
        jobs: int,
        timeout: Optional[float],
        interrupts: "_Interrupts",
        message: Callable[[Item], Any],
    ) -> None:
        self.function = function
        self.message = message
        self.pending = items
        self.jobs = jobs
        self.timeout = timeout
        self.interrupts = interrupts
        self.context = multiprocessing.get_context("spawn")
        self.busy: List[_Worker[Item]] = []
        self.idle: List[_Worker[Item]] = []
        self.closed: List[_Worker[Item]] = []

    def hand_out(self) -> None:
        """Gives pending items to idle workers, then to new ones up to `jobs`;
        none after Ctrl-C. Idle workers with nothing to do are let go."""
        while self.pending and self.idle and not self.interrupts.seen:
            worker = self.idle.pop()
            try:
                worker.give(self.pending[0])
            except OSError:  # it died after its last result
                worker.kill()
                continue
            self.pending.popleft()
            self.busy.append(worker)
        with self.interrupts.ignored():  # workers start in here
            while self.pending and len(self.busy) < self.jobs and not self.interrupts.seen:
                item = self.pending.popleft()
                self.busy.append(_Worker(self.context, self.function, item, self.message))
        if not self.pending or self.interrupts.seen:
            for worker in self.idle:
                worker.connection.close()
            self.closed += self.idle
            self.idle = []

    def _deadline(self, worker: _Worker[Item]) -> float:
        return worker.started + self.timeout if self.timeout is not None else float("inf")

    def collect(self) -> List[Tuple[Item, Union[Result, WorkerFailure]]]:
        """Waits a moment for busy workers; the items finished meanwhile, with
        their results or why they have none. A worker that died or ran out
        of time is gone from the pool."""
        now = time.monotonic()
        soonest = min((self._deadline(worker) for worker in self.busy), default=now)
        objects: List[Any] = [worker.connection for worker in self.busy]
        objects += [worker.process.sentinel for worker in self.busy]
        ready = set(wait(objects, max(0.0, min(_POLL_SECONDS, soonest - now))))
        finished: List[Tuple[Item, Union[Result, WorkerFailure]]] = []
        for worker in list(self.busy):
            said: Optional[Tuple[Union[Result, WorkerFailure]]] = None
            if worker.connection in ready or worker.process.sentinel in ready:
                said = self._receive(worker)
            elif time.monotonic() >= self._deadline(worker):
                worker.kill()
                said = (WorkerFailure(f"timed out after {self.timeout:g} s"),)
            if said is None:
                continue
            self.busy.remove(worker)
            if worker.process.is_alive():
                self.idle.append(worker)
            else:
                worker.connection.close()
            finished.append((worker.item, said[0]))
        return finished

    def _receive(self, worker: _Worker[Item]) -> Optional[Tuple[Union[Result, WorkerFailure]]]:
        """What a worker has said about its item, if more than that it is
        ready; that it died, if it did."""
        try:
            if not worker.connection.poll():  # ended with nothing left to say
                raise EOFError
            message = worker.connection.recv()
        except (EOFError, OSError):
            worker.process.join()
            worker.connection.close()
            return (WorkerFailure(_death(worker.process.exitcode)),)
        if message is None:
            worker.ready = True
            worker.started = time.monotonic()
            return None
        value, reason = message
        return (value if reason is None else WorkerFailure(reason),)

    def close(self) -> None:
        """Lets the units at hand finish, then ends every worker."""
        while self.busy:
            self.collect()
        for worker in self.idle:
            worker.connection.close()
        self.closed += self.idle
        self.idle = []
        for worker in self.closed:
            worker.process.join(_EXIT_SECONDS)
            if worker.process.is_alive():
                worker.kill()


def each_result(
    function: Callable[[Any], Result],
    items: Iterable[Item],
    jobs: Optional[int] = None,
    timeout: Optional[float] = None,
    message: Optional[Callable[[Item], Any]] = None,
) -> Generator[Tuple[Item, Union[Result, WorkerFailure]], None, None]:
    """(item, function(message(item))) for every item (`message` makes
    what a worker gets of an item as it is handed out; by default the item
    itself), in the order they finish, from
    `jobs` worker processes (by default one per core); (item, WorkerFailure)
    when its worker died, raised, or took more than `timeout` seconds (then
    it is killed). `function` must be picklable, and so its items and results.

    Called from the main thread, the iteration owns Ctrl-C: workers ignore
    it; no more items start, the ones at hand finish, and KeyboardInterrupt
    is raised at the iteration's next step, so that code handling a result
    is never cut short. Closing the iterator early also ends the workers,
    once the items at hand are done.
    """
    pending = deque(items)
    if not pending:
        return
    with _Interrupts() as interrupts:
        jobs = jobs or os.cpu_count() or 1
        pool = _Pool(function, pending, jobs, timeout, interrupts, message or _itself)
        try:
            pool.hand_out()
            while pool.busy:
                interrupts.check()
                finished = pool.collect()
                pool.hand_out()
                for result in finished:
                    interrupts.check()
                    yield result
        finally:
            pool.close()


def _itself(item: Item) -> Item:
    return item


class _Interrupts:
    """Notes Ctrl-C while items run, for the pool to stop at a point of its
    own choosing rather than halfway through its bookkeeping."""

    def __init__(self) -> None:
        self.seen = False
        self._previous: Any = None
        self._installed = False

    def _note(self, number: int, frame: Optional[FrameType]) -> None:
        self.seen = True

    def __enter__(self) -> "_Interrupts":
        if threading.current_thread() is threading.main_thread():
            self._previous = signal.signal(signal.SIGINT, self._note)
            self._installed = True
        return self

    def __exit__(self, *exception: object) -> None:
        if self._installed:
            signal.signal(signal.SIGINT, self._previous)

    def check(self) -> None:
        if self.seen:
            raise KeyboardInterrupt

    @contextlib.contextmanager
    def ignored(self) -> Iterator[None]:
        """Workers started in here ignore SIGINT from their first instruction
        on, as ignored signals stay ignored across exec."""
        if self._installed:
            signal.signal(signal.SIGINT, signal.SIG_IGN)
        try:
            yield
        finally:
            if self._installed:
                signal.signal(signal.SIGINT, self._note)
