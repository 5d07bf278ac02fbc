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
    on_result: Callable[[UnitResult], None],
) -> Outcome:
    """Scans the project's units, hands each good result to `on_result` and
    reports each failed unit in one line; a progress bar on stderr when it
    is a terminal."""
    failed = 0
    total = len(project.units)
    bar = tqdm(total=total, unit="unit", file=sys.stderr, disable=not sys.stderr.isatty())
    with bar, contextlib.closing(scan(project.units, pattern, jobs)) as results:
        for result in results:
            if result.error is None:
                on_result(result)
            else:
                failed += 1
                error = result.error
                if project.headers_missing and "file not found" in error:
                    error += ": " + project.headers_missing
                report(command, "failed", error)
                bar.set_postfix(failed=failed, refresh=False)
            bar.update()
    return Outcome(total, failed)
