"""Parsing and grouping units in worker processes.

`scan_unit` does the whole work for one unit and returns plain data, so
it runs unchanged wherever a picklable function can run; `scan` runs it in
`jobs` worker processes and yields each result as its unit finishes.
"""

from __future__ import annotations

import multiprocessing
import os
import signal
import threading
import time
from concurrent.futures import FIRST_COMPLETED, Future, ProcessPoolExecutor, wait
from typing import Iterable, Iterator, List, NamedTuple, Optional, Set, Tuple

from .loading import load_cindex
from .parsing import ParseError, parse_file
from .project import Unit
from .records import NodeRecord, unit_records

__all__ = ["UnitResult", "scan", "scan_unit"]


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
    except (ParseError, RuntimeError) as error:
        return UnitResult(unit, (), (), str(error), time.perf_counter() - started, 0.0)
    parsed_at = time.perf_counter()
    try:
        records = tuple(unit_records(parsed, pattern))
    except (RuntimeError, UnicodeDecodeError) as error:
        message = f"cannot group {unit.file}: {error}"
        return UnitResult(unit, (), (), message, parsed_at - started, time.perf_counter() - parsed_at)
    files = (parsed.spelling, *(inclusion.include.name for inclusion in parsed.get_includes()))
    return UnitResult(
        unit, records, files, None, parsed_at - started, time.perf_counter() - parsed_at
    )


def _ignore_interrupts() -> None:
    # Ctrl-C reaches the whole process group; the parent alone decides.
    signal.signal(signal.SIGINT, signal.SIG_IGN)


def _start(executor: ProcessPoolExecutor, units: List[Unit], pattern: str) -> List["Future[UnitResult]"]:
    # Workers start inside submit(). Started while the parent ignores
    # SIGINT, they ignore it from their first instruction on.
    in_main_thread = threading.current_thread() is threading.main_thread()
    previous = signal.signal(signal.SIGINT, signal.SIG_IGN) if in_main_thread else None
    try:
        return [executor.submit(scan_unit, unit, pattern) for unit in units]
    finally:
        if in_main_thread:
            signal.signal(signal.SIGINT, previous)


def _stop(executor: ProcessPoolExecutor, futures: Iterable["Future[UnitResult]"], workers: Set[multiprocessing.process.BaseProcess]) -> None:
    for future in futures:
        future.cancel()
    for process in workers:
        process.terminate()
    executor.shutdown(wait=True)


def scan(units: Iterable[Unit], pattern: str = "", jobs: Optional[int] = None) -> Iterator[UnitResult]:
    """The result of every unit, in the order they finish, from `jobs`
    worker processes (by default one per core).

    Workers are started fresh (never forked from a process holding
    libclang). Closing the iterator early, or an exception such as
    KeyboardInterrupt while it waits, ends the workers at once.
    """
    pending_units = list(units)
    if not pending_units:
        return
    workers = jobs or os.cpu_count() or 1
    context = multiprocessing.get_context("spawn")
    before = set(multiprocessing.active_children())
    executor = ProcessPoolExecutor(
        max_workers=min(workers, len(pending_units)), mp_context=context, initializer=_ignore_interrupts
    )
    finished = False
    futures: Set["Future[UnitResult]"] = set()
    try:
        futures = set(_start(executor, pending_units, pattern))
        while futures:
            done, futures = wait(futures, return_when=FIRST_COMPLETED)
            for future in done:
                yield future.result()
        finished = True
    finally:
        if finished:
            executor.shutdown(wait=True)
        else:
            _stop(executor, futures, set(multiprocessing.active_children()) - before)
