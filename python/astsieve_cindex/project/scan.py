"""Parsing and grouping units in worker processes.

`scan_unit` does the whole work for one unit and returns plain data, so
it runs unchanged wherever a picklable function can run; `scan` runs it in
worker processes (workers.py) and yields each result as its unit
finishes; `write_scan` writes what a whole scan keeps to an output.
"""

from __future__ import annotations

import contextlib
import os
import time
from typing import Any, Callable, Dict, Generator, Iterable, Optional, Sequence, Tuple, Union

from clang.cindex import LibclangError

from ..digests import FileDigests
from ..formats import Output, SectionFilter, encode_sections
from ..formats.registry import encoder
from ..loading import load_cindex
from ..names import name_text, undecodable_name
from ..records import unit_table
from .cache import CacheError, ScanCache
from .database import Unit
from .diagnostics import CollectedParseError, DiagnosticLine, parse_collecting
from .listener import Listener
from .options import ScanOptions
from .parsing import SKIPPING, ParseError, failure_text, included_names
from .results import SectionsResult, TableResult, Timing, UnitFailure, UnitResult
from .unit_cache import cache_of, entry_result, result_value, unit_identity
from .workers import WorkerFailure, each_result

__all__ = ["scan", "scan_unit", "unit_result", "write_scan"]


def scan_unit(
    unit: Unit,
    pattern: str = "",
    encoding: Optional[str] = None,
    unsaved: Tuple[Tuple[bytes, bytes], ...] = (),
    cache: Optional[str] = None,
) -> Union[UnitResult, UnitFailure]:
    """Parses `unit` and groups its nodes in accepted files (the main file,
    and files whose whole path matches the ECMAScript `pattern`). `unsaved`
    holds files (path, text) read in place of those on disk, as plain bytes.

    With no `encoding` the result is a TableResult, the unit's table; with
    the encoding of an output format ("jsonl", "arrow") a SectionsResult,
    its output encoded by file, to be chosen from by a SectionFilter. Any
    failure, libclang's or the pattern's, comes back as a UnitFailure; the
    function keeps no state and loads libclang itself.

    With a `cache` folder (cache.py) the result is taken from the unit's
    entry there while every file the unit read is as it was (the result's
    `cached` is True, nothing is parsed); otherwise the unit is parsed and
    a good result stored. A folder that cannot be used is passed over.
    """
    return unit_result(unit, ScanOptions(pattern, encoding, unsaved, cache))


def unit_result(unit: Unit, options: ScanOptions) -> Union[UnitResult, UnitFailure]:
    """scan_unit's work, as `options` ask for it (their jobs and timeout
    aside). A unit libclang reports errors for gives its result, the errors
    in its diagnostics, or with `options.strict` a UnitFailure."""
    return _strictly(_cached_result(unit, options), options)


def _strictly(
    result: Union[UnitResult, UnitFailure], options: ScanOptions
) -> Union[UnitResult, UnitFailure]:
    if options.strict and not isinstance(result, UnitFailure):
        errors = [line.text for line in result.diagnostics if line.severity == "error"]
        if errors:
            return UnitFailure(result.unit, failure_text(result.unit.file, errors), result.diagnostics)
    return result


def _cached_result(unit: Unit, options: ScanOptions) -> Union[UnitResult, UnitFailure]:
    if options.encoding is not None:
        encoder(options.encoding)  # ValueError for an encoding no format has
    digests = FileDigests()  # each file the unit reads is read once for its digest
    found = _entry(unit, options, digests)
    if found is None:
        return _parse_unit(unit, options, digests)
    store, identity, kept = found
    if kept is not None:
        return kept
    # The entry keeps the whole result, whatever the writing process knew.
    result = _parse_unit(unit, options.replace(known=frozenset()), digests)
    if not isinstance(result, UnitFailure) and not _missed_a_file(result.diagnostics):
        store.store(identity, result.files, *result_value(result), digests)
    if isinstance(result, SectionsResult) and options.known:
        sent = [s for s in result.sections if s.main or s.key not in options.known]
        result = result._replace(sections=tuple(sent))
    return result


def _entry(
    unit: Unit, options: ScanOptions, digests: FileDigests
) -> Optional[Tuple[ScanCache, Dict[str, Any], Optional[UnitResult]]]:
    """The cache store, the unit's identity and its result kept there (None
    when there is none to take); None when the unit takes no entry: no
    cache, files read in place of those on disk (which are not what an
    entry's digests describe), or a cache that cannot be used."""
    if options.cache is None or options.unsaved or not os.path.isfile(unit.file):
        return None
    try:
        store = cache_of(options.cache)
        identity = unit_identity(unit, options)
    except (CacheError, LibclangError, RuntimeError):  # parsing says what is wrong
        return None
    found = store.load(identity, digests)
    kept = entry_result(unit, *found, options.encoding) if found is not None else None
    return store, identity, kept


def _missed_a_file(diagnostics: Tuple[DiagnosticLine, ...]) -> bool:
    # A unit's errors come again from the same files, but for a file it did
    # not find: that one may appear (a generated header) without any file
    # the unit read changing, so the entry would outlive it.
    return any(line.severity == "error" and "file not found" in line.text for line in diagnostics)


def _parse_unit(
    unit: Unit, options: ScanOptions, digests: FileDigests
) -> Union[UnitResult, UnitFailure]:
    started = time.perf_counter()
    if not os.path.isfile(unit.file):
        return UnitFailure(unit, f"no such file: {unit.file}")
    try:
        cindex = load_cindex()
        parsed, diagnostics = parse_collecting(
            cindex, unit.file, unit.parse_arguments(), options.unsaved, SKIPPING[options.skip]
        )
    except CollectedParseError as error:
        return UnitFailure(unit, str(error), error.diagnostics)
    except (ParseError, LibclangError, RuntimeError) as error:
        return UnitFailure(unit, str(error))
    parsed_at = time.perf_counter()
    try:
        table = unit_table(parsed, options.pattern, unit.directory)
    except (RuntimeError, UnicodeDecodeError) as error:
        why = str(error)
        if isinstance(error, UnicodeDecodeError):
            why = f"a file it reads has a name that is not UTF-8: {undecodable_name(error)}"
        return UnitFailure(unit, f"cannot group {unit.file}: {why}", diagnostics)
    names = included_names(parsed)
    main = name_text(lambda: parsed.spelling)
    files = tuple(os.path.join(unit.directory, name) for name in (main, *names))
    grouped_at = time.perf_counter()
    timing = Timing(parsed_at - started, grouped_at - parsed_at)
    if options.encoding is None:
        return TableResult(unit, table, files, diagnostics, timing)
    sections = encode_sections(
        table, unit.file, files[0], unit.directory, options.encoding, digests, options.known
    )
    timing = timing._replace(encode=time.perf_counter() - grouped_at)
    return SectionsResult(unit, sections, files, diagnostics, timing)


def _unit_result_of(pair: Tuple[Unit, ScanOptions]) -> Union[UnitResult, UnitFailure]:
    return unit_result(*pair)


def scan(
    units: Iterable[Unit],
    options: Optional[ScanOptions] = None,
    options_of: Optional[Callable[[Unit], ScanOptions]] = None,
    **settings: Any,
) -> Generator[Union[UnitResult, UnitFailure], None, None]:
    """The result of every unit (scan_unit's, as `options` ask, or a
    ScanOptions made of `settings`: pattern=..., jobs=..., ...), in the
    order they finish, from `options.jobs` worker processes (by default one
    per core); a UnitFailure for a unit that failed, or whose worker died,
    or took more than `options.timeout` seconds and was killed.
    `options_of`, when given, makes each unit's options as it is handed to
    a worker (their jobs and timeout are `options`').

    Workers are started fresh, never forked from a process holding libclang.
    Called from the main thread, the iteration owns Ctrl-C: it stops the
    workers and raises KeyboardInterrupt at its next step, so that code
    handling a result is never cut short. Closing the iterator early also
    ends the workers; units already running finish first.
    """
    options = (options or ScanOptions()).replace(**settings)
    chosen = options_of or (lambda unit: options)
    units = list(units)
    # The units the cache answers for, up to the first it does not, start no
    # worker: a rescan with nothing changed parses nothing and spawns none.
    # The headers they share are read once for all of them.
    answered, digests = 0, FileDigests()
    while answered < len(units) and options.cache is not None:
        found = _entry(units[answered], chosen(units[answered]), digests)
        if found is None or found[2] is None:
            break
        yield _strictly(found[2], options)
        answered += 1
    units = units[answered:]
    outcomes = each_result(
        _unit_result_of, units, options.jobs, options.timeout, lambda unit: (unit, chosen(unit))
    )
    with contextlib.closing(outcomes):
        for unit, outcome in outcomes:
            if isinstance(outcome, WorkerFailure):
                yield UnitFailure(unit, f"{outcome.reason} while parsing {unit.file}")
            else:  # the unit given, not the worker's copy of it
                yield outcome._replace(unit=unit)


def write_scan(
    units: Sequence[Unit], options: ScanOptions, output: Output, listener: Listener
) -> None:
    """Scans the units, their output encoded by file, and writes to `output`
    every unit's main file and each header once per variant, unit by unit
    as each finishes; `listener` hears of every result first. The output
    is closed at the end, whether the scan finished or not."""
    chosen = SectionFilter()
    listener.start(len(units))
    # Each unit goes with the keys of the sections at hand, which its worker
    # does not encode.
    results = scan(units, options, lambda unit: options.replace(known=chosen.keys()))
    with contextlib.closing(output), contextlib.closing(results):
        for result in results:
            listener.result(result)
            if isinstance(result, SectionsResult):
                output.write(chosen.new_sections(result.sections))
