"""What the project commands print while units run: a progress bar on
stderr when it is a terminal, one line per failed unit, libclang's
diagnostics with --verbose, and at the end how many warnings and errors
libclang reported."""

from __future__ import annotations

import sys
from typing import NoReturn, Optional, Union

from tqdm import tqdm

from .errors import report
from ..project.diagnostics import count
from ..project.results import UnitFailure, UnitResult

__all__ = ["Progress", "plural"]


def plural(number: int, word: str) -> str:
    return f"{number} {word}" + ("" if number == 1 else "s")


class Progress:
    """The project library's listener for one command: it counts the units
    done, failed and taken from the cache, and libclang's warnings and
    errors. `headers_missing` explains, once, a header not found."""

    def __init__(self, command: str, headers_missing: Optional[str], verbose: bool) -> None:
        self.command = command
        self.headers_missing = headers_missing
        self.verbose = verbose
        self.units = self.failed = self.warnings = self.errors = self.cached = 0
        self._explained = False
        self._bar: "Optional[tqdm[NoReturn]]" = None

    def start(self, units: int) -> None:
        self.close()
        self.units += units
        shown = sys.stderr.isatty()
        self._bar = tqdm(total=units, unit="unit", file=sys.stderr, disable=not shown)

    def result(self, result: Union[UnitResult, UnitFailure]) -> None:
        self.warnings += count(result.diagnostics, "warning")
        self.errors += count(result.diagnostics, "error")
        for line in result.diagnostics if self.verbose else ():
            tqdm.write(line.text, file=sys.stderr)
        if isinstance(result, UnitFailure):
            self.failed += 1
            report(self.command, "failed", result.error)
            missing = self.headers_missing
            if missing and "file not found" in result.error and not self._explained:
                report(self.command, "note", missing)
                self._explained = True
            if self._bar is not None:
                self._bar.set_postfix(failed=self.failed, refresh=False)
        else:
            self.cached += result.cached
        if self._bar is not None:
            self._bar.update()

    def note(self, text: str) -> None:
        report(self.command, "note", text)

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()
            self._bar = None

    def __enter__(self) -> "Progress":
        return self

    def __exit__(self, *exception: object) -> None:
        self.close()

    def summarize(self) -> None:
        """The note that counts libclang's warnings and errors, if any."""
        if self.warnings or self.errors:
            shown = "" if self.verbose else " (--verbose shows them)"
            said = f"{plural(self.warnings, 'warning')} and {plural(self.errors, 'error')}"
            self.note(f"libclang reported {said}{shown}")

    def summarize_cache(self) -> None:
        """How many units came from the cache."""
        self.note(f"{self.cached} of {plural(self.units, 'unit')} from the cache")
