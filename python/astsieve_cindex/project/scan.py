"""Parsing and grouping units in worker processes.

`scan_unit` does the whole work for one unit and returns plain data, so
it runs unchanged wherever a picklable function can run; `scan` runs it in
`jobs` worker processes (workers.py) and yields each result as its unit
finishes.
"""

from __future__ import annotations

import functools
import os
import time
from typing import Generator, Iterable, List, NamedTuple, Optional, Tuple, Union

from clang.cindex import LibclangError

from .cache import CacheError
from .diagnostics import CollectedParseError, DiagnosticLine, parse_collecting
from ..loading import load_cindex
from ..names import name_text, undecodable_name
from .parsing import ParseError
from .database import Unit
from ..records import NodeRecord, unit_table
from ..formats.sections import ENCODINGS, Section, encode_sections
from ..table import UnitTable, records_of
from .unit_cache import cache_of, entry_unit, result_value, unit_identity
from .workers import WorkerFailure, each_result

__all__ = ["UnitFailure", "UnitResult", "scan", "scan_unit"]


class UnitResult(NamedTuple):
    """What one unit gave: its table of nodes, or its output already encoded
    by file (see scan_unit), and the files it read; or the one-line error
    that stopped it; the seconds spent parsing and grouping; libclang's
    warnings and errors, which nothing printed; and the seconds spent
    encoding."""

    unit: Unit
    table: Optional[UnitTable]
    files: Tuple[str, ...]
    error: Optional[str]
    parse_seconds: float
    group_seconds: float
    diagnostics: Tuple[DiagnosticLine, ...] = ()
    sections: Tuple[Section, ...] = ()
    encode_seconds: float = 0.0
    cached: bool = False

    @property
    def records(self) -> List[NodeRecord]:
        """The table in row form: one NodeRecord per node."""
        return records_of(self.table) if self.table else []


class UnitFailure(NamedTuple):
    """A unit that gave no result: its worker died or ran out of time. The
    error is one line."""

    unit: Unit
    error: str


def scan_unit(
    unit: Unit,
    pattern: str = "",
    encoding: Optional[str] = None,
    unsaved: Tuple[Tuple[bytes, bytes], ...] = (),
    cache: Optional[str] = None,
) -> UnitResult:
    """Parses `unit` and groups its nodes in accepted files (the main file,
    and files whose whole path matches the ECMAScript `pattern`). `unsaved`
    holds files (path, text) read in place of those on disk, as plain bytes.

    With no `encoding` the result holds the unit's table; with one of
    sections.ENCODINGS ("jsonl", "arrow") it holds the output instead, one
    encoded section per file, to be chosen from by a SectionFilter.
    Any failure, libclang's or the pattern's, comes back as the result's
    error; the function keeps no state and loads libclang itself.

    With a `cache` folder (cache.py) the result is taken from the unit's
    entry there while every file the unit read is as it was (the result's
    `cached` is True, nothing is parsed); otherwise the unit is parsed and
    a good result stored. A folder that cannot be used is passed over.
    """
    if encoding is not None and encoding not in ENCODINGS:
        raise ValueError(f"unknown encoding {encoding!r}: choose one of {', '.join(ENCODINGS)}")
    # Files read in place of those on disk are not what an entry's digests
    # describe: such a parse neither takes nor leaves an entry.
    if cache is None or unsaved or not os.path.isfile(unit.file):
        return _parse_unit(unit, pattern, encoding, unsaved)
    try:
        store = cache_of(cache)
        identity = unit_identity(unit, pattern, encoding)
    except (CacheError, LibclangError, RuntimeError):  # parsing says what is wrong
        return _parse_unit(unit, pattern, encoding, unsaved)
    found = store.load(identity)
    kept = entry_unit(*found, encoding) if found is not None else None
    if kept is not None:
        table, sections, files, diagnostics = kept
        return UnitResult(unit, table, files, None, 0.0, 0.0, diagnostics, sections, cached=True)
    result = _parse_unit(unit, pattern, encoding, unsaved)
    if result.error is None:
        value = result_value(result.table, result.sections, result.files, result.diagnostics)
        store.store(identity, result.files, *value)
    return result


def _parse_unit(
    unit: Unit, pattern: str, encoding: Optional[str], unsaved: Tuple[Tuple[bytes, bytes], ...]
) -> UnitResult:
    started = time.perf_counter()
    if not os.path.isfile(unit.file):
        return UnitResult(unit, None, (), f"no such file: {unit.file}", 0.0, 0.0)
    try:
        cindex = load_cindex()
        parsed, diagnostics = parse_collecting(
            cindex, unit.file, unit.parse_arguments(), unsaved
        )
    except CollectedParseError as error:
        seconds = time.perf_counter() - started
        return UnitResult(unit, None, (), str(error), seconds, 0.0, error.diagnostics)
    except (ParseError, LibclangError, RuntimeError) as error:
        return UnitResult(unit, None, (), str(error), time.perf_counter() - started, 0.0)
    parsed_at = time.perf_counter()
    try:
        table = unit_table(parsed, pattern, unit.directory)
    except (RuntimeError, UnicodeDecodeError) as error:
        why = str(error)
        if isinstance(error, UnicodeDecodeError):
            why = f"a file it reads has a name that is not UTF-8: {undecodable_name(error)}"
        message = f"cannot group {unit.file}: {why}"
        seconds = time.perf_counter() - parsed_at
        return UnitResult(unit, None, (), message, parsed_at - started, seconds, diagnostics)
    names = [name_text(lambda: inclusion.include.name) for inclusion in parsed.get_includes()]
    main = name_text(lambda: parsed.spelling)
    files = tuple(os.path.join(unit.directory, name) for name in (main, *names))
    grouped_at = time.perf_counter()
    seconds = grouped_at - parsed_at
    if encoding is None:
        return UnitResult(unit, table, files, None, parsed_at - started, seconds, diagnostics)
    sections = encode_sections(table, unit.file, files[0], unit.directory, encoding)
    encoded = time.perf_counter() - grouped_at
    return UnitResult(
        unit, None, files, None, parsed_at - started, seconds, diagnostics, sections, encoded
    )


def scan(
    units: Iterable[Unit],
    pattern: str = "",
    jobs: Optional[int] = None,
    timeout: Optional[float] = None,
    encoding: Optional[str] = None,
    unsaved: Tuple[Tuple[bytes, bytes], ...] = (),
    cache: Optional[str] = None,
) -> Generator[Union[UnitResult, UnitFailure], None, None]:
    """The result of every unit (scan_unit's, with `encoding`, `unsaved` and `cache`), in the order
    they finish, from `jobs` worker processes (by default one per core); a
    UnitFailure for a unit whose worker died, or took more than `timeout`
    seconds and was killed.

    Workers are started fresh, never forked from a process holding libclang.
    Called from the main thread, the iteration owns Ctrl-C: it stops the
    workers and raises KeyboardInterrupt at its next step, so that code
    handling a result is never cut short. Closing the iterator early also
    ends the workers; units already running finish first.
    """
    work = functools.partial(
        scan_unit, pattern=pattern, encoding=encoding, unsaved=unsaved, cache=cache
    )
    for unit, outcome in each_result(work, units, jobs, timeout):
        if isinstance(outcome, WorkerFailure):
            yield UnitFailure(unit, f"{outcome.reason} while parsing {unit.file}")
        else:
            yield outcome
