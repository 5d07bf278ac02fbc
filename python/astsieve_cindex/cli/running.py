"""Running a project's units in worker processes, with a progress bar, one
line per failed unit, and at the end how many warnings and errors libclang
reported."""

from __future__ import annotations

import contextlib
import sys
from typing import Callable, NamedTuple, Optional, Tuple

from tqdm import tqdm

from .errors import report
from .options import Project
from ..project.diagnostics import count
from ..project.scan import UnitResult, scan

__all__ = ["Outcome", "report_diagnostics", "run_units"]


class Outcome(NamedTuple):
    done: int
    failed: int
    warnings: int = 0
    errors: int = 0


def _plural(number: int, word: str) -> str:
    return f"{number} {word}" + ("" if number == 1 else "s")


def run_units(
    command: str,
    project: Project,
    pattern: str,
    jobs: Optional[int],
    timeout: Optional[float],
    on_result: Callable[[UnitResult], None],
    verbose: bool = False,
    encoding: Optional[str] = None,
    unsaved: Tuple[Tuple[bytes, bytes], ...] = (),
    summary: bool = True,
    cache: Optional[str] = None,
) -> Outcome:
    """Scans the project's units (encoded as scan_unit's `encoding` says),
    hands each good result to `on_result` and
    reports each failed unit in one line (a unit over `timeout` seconds
    too), and once why headers are missing if they are; a progress bar on
    stderr when it is a terminal. libclang's diagnostics are counted, and
    with `verbose` printed line by line, and the count noted unless not
    `summary`; with `verbose`, also how many units came from the `cache`
    folder. `unsaved` files (path, text) are read in place of those on
    disk."""
    failed = warnings = errors = cached = 0
    explained = False
    total = len(project.units)
    bar = tqdm(total=total, unit="unit", file=sys.stderr, disable=not sys.stderr.isatty())
    results = scan(project.units, pattern, jobs, timeout, encoding, unsaved, cache)
    with bar, contextlib.closing(results):
        for result in results:
            error = result.error
            diagnostics = getattr(result, "diagnostics", ())  # a UnitFailure has none
            warnings += count(diagnostics, "warning")
            errors += count(diagnostics, "error")
            for line in diagnostics if verbose else ():
                tqdm.write(line.text, file=sys.stderr)
            if error is None and isinstance(result, UnitResult):
                cached += result.cached
                on_result(result)
            elif error is not None:  # as a UnitFailure's always is
                failed += 1
                report(command, "failed", error)
                if project.headers_missing and "file not found" in error and not explained:
                    report(command, "note", project.headers_missing)
                    explained = True
                bar.set_postfix(failed=failed, refresh=False)
            bar.update()
    if summary:
        report_diagnostics(command, warnings, errors, verbose)
    if cache is not None and verbose:
        report(command, "note", f"{cached} of {_plural(total, 'unit')} from the cache")
    return Outcome(total, failed, warnings, errors)


def report_diagnostics(command: str, warnings: int, errors: int, verbose: bool) -> None:
    """The note that counts libclang's warnings and errors, if any."""
    if warnings or errors:
        shown = "" if verbose else " (--verbose shows them)"
        said = f"{_plural(warnings, 'warning')} and {_plural(errors, 'error')}"
        report(command, "note", f"libclang reported {said}{shown}")
