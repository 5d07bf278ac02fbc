"""Parsing and grouping units in worker processes.

`scan_unit` does the whole work for one unit and returns plain data, so
it runs unchanged wherever a picklable function can run; `scan` runs it in
`jobs` worker processes and yields each result as its unit finishes.
"""

from __future__ import annotations

import contextlib
import multiprocessing
import os
import signal
import threading
import time
from concurrent.futures import FIRST_COMPLETED, Future, ProcessPoolExecutor, wait
from types import FrameType
from typing import Any, Generator, Iterable, Iterator, NamedTuple, Optional, Set, Tuple

from clang.cindex import LibclangError

from .loading import load_cindex
from .parsing import ParseError, parse_file
from .project import Unit
from .records import NodeRecord, unit_records

__all__ = ["UnitResult", "scan", "scan_unit"]

# How often a scan waiting for its workers looks for Ctrl-C.
_POLL_SECONDS = 0.1


class UnitResult(NamedTuple):
    """What one unit gave: its node records and the files it read, or the
    one-line error that stopped it; and the seconds spent parsing and
    grouping."""

    unit: Unit
    records: Tuple[NodeRecord, ...]
    files: Tuple[str, ...]
    error: Optional[str]
    parse_seconds: float
    group_seconds: float


def scan_unit(unit: Unit, pattern: str = "") -> UnitResult:
    """Parses `unit` and groups its nodes in accepted files (the main file,
    and files whose whole path matches the ECMAScript `pattern`).

    Any failure, libclang's or the pattern's, comes back as the result's
    error; the function keeps no state and loads libclang itself.
    """
    started = time.perf_counter()
    if not os.path.isfile(unit.file):
        return UnitResult(unit, (), (), f"no such file: {unit.file}", 0.0, 0.0)
    try:
        cindex = load_cindex()
        parsed = parse_file(cindex, unit.file, unit.parse_arguments())
    except (ParseError, LibclangError, RuntimeError) as error:
        return UnitResult(unit, (), (), str(error), time.perf_counter() - started, 0.0)
    parsed_at = time.perf_counter()
    try:
        records = tuple(unit_records(parsed, pattern, unit.directory))
    except (RuntimeError, UnicodeDecodeError) as error:
        message = f"cannot group {unit.file}: {error}"
        return UnitResult(
            unit, (), (), message, parsed_at - started, time.perf_counter() - parsed_at
        )
    included = (inclusion.include.name for inclusion in parsed.get_includes())
    files = tuple(os.path.join(unit.directory, name) for name in (parsed.spelling, *included))
    return UnitResult(
        unit, records, files, None, parsed_at - started, time.perf_counter() - parsed_at
    )


def _ignore_interrupts() -> None:
    # Ctrl-C reaches the whole process group; the parent alone decides.
    signal.signal(signal.SIGINT, signal.SIG_IGN)


class _Interrupts:
    """Notes Ctrl-C while units run, for the scan to stop at a point of its
    own choosing: a KeyboardInterrupt raised inside the executor's locking
    could leave a lock held and the shutdown waiting for ever."""

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


def scan(
    units: Iterable[Unit], pattern: str = "", jobs: Optional[int] = None
) -> Generator[UnitResult, None, None]:
    """The result of every unit, in the order they finish, from `jobs`
    worker processes (by default one per core).

    Workers are started fresh, never forked from a process holding libclang.
    Called from the main thread, the iteration owns Ctrl-C: it stops the
    workers and raises KeyboardInterrupt at its next step, so that code
    handling a result is never cut short. Closing the iterator early also
    ends the workers; units already running finish first.
    """
    pending_units = list(units)
    if not pending_units:
        return
    workers = min(jobs or os.cpu_count() or 1, len(pending_units))
    context = multiprocessing.get_context("spawn")
    with _Interrupts() as interrupts:
        executor = ProcessPoolExecutor(workers, context, initializer=_ignore_interrupts)
        futures: Set["Future[UnitResult]"] = set()
        try:
            with interrupts.ignored():  # workers start inside submit()
                futures = {executor.submit(scan_unit, unit, pattern) for unit in pending_units}
            while futures:
                interrupts.check()
                done, futures = wait(futures, _POLL_SECONDS, FIRST_COMPLETED)
                for future in done:
                    interrupts.check()
                    yield future.result()
        finally:
            for future in futures:
                future.cancel()
            executor.shutdown(wait=True)
