"""Running a project's units in worker processes, with a progress bar and
one line per failed unit."""

from __future__ import annotations

import contextlib
import sys
from typing import Callable, NamedTuple, Optional

from tqdm import tqdm

from .errors import report
from .options import Project
from ..scan import UnitResult, scan

__all__ = ["Outcome", "run_units"]


class Outcome(NamedTuple):
    done: int
    failed: int


def run_units(
    command: str,
    project: Project,
    pattern: str,
    jobs: Optional[int],
    timeout: Optional[float],
    on_result: Callable[[UnitResult], None],
) -> Outcome:
    """Scans the project's units, hands each good result to `on_result` and
    reports each failed unit in one line (a unit over `timeout` seconds
    too); a progress bar on stderr when it is a terminal."""
    failed = 0
    total = len(project.units)
    bar = tqdm(total=total, unit="unit", file=sys.stderr, disable=not sys.stderr.isatty())
    results = scan(project.units, pattern, jobs, timeout)
    with bar, contextlib.closing(results):
        for result in results:
            error = result.error
            if error is None and isinstance(result, UnitResult):
                on_result(result)
            elif error is not None:  # as a UnitFailure's always is
                failed += 1
                if project.headers_missing and "file not found" in error:
                    error += ": " + project.headers_missing
                report(command, "failed", error)
                bar.set_postfix(failed=failed, refresh=False)
            bar.update()
    return Outcome(total, failed)
