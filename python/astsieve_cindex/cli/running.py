"""What the project commands print while units run: a progress bar on
stderr when it is a terminal, one line per failed unit and per unit
indexed with errors, libclang's diagnostics with --verbose, and at the end
how many warnings and errors libclang reported and which arguments it
ignored."""

from __future__ import annotations

import sys
from types import MappingProxyType
from typing import Mapping, NoReturn, Optional, Set, Union

from tqdm import tqdm

from .errors import report
from ..project.compilers import compiler_path, is_own_compiler
from ..project.database import Unit
from ..project.diagnostics import IGNORED, count
from ..project.parsing import indexed_text
from ..project.results import UnitFailure, UnitResult

__all__ = ["Progress", "plural", "query_driver_hint"]


def plural(number: int, word: str) -> str:
    return f"{number} {word}" + ("" if number == 1 else "s")


def query_driver_hint(unit: Unit, asked: Mapping[Unit, bool]) -> str:
    """For a unit that failed or had errors: that its compiler did not
    answer --query-driver; or what --query-driver would do, when its
    compiler is not clang nor this machine's and was not asked."""
    path = compiler_path(unit.compiler, unit.directory) or unit.compiler
    if unit in asked:
        failed = f" (--query-driver: its compiler {path} failed to tell its target and headers)"
        return "" if asked[unit] else failed
    if is_own_compiler(unit.compiler, unit.directory):
        return ""
    return (
        f" (its compiler {unit.compiler} is not clang: --query-driver {path} lets it tell "
        "its target and system headers)"
    )


class Progress:
    """The project library's listener for one command: it counts the units
    done, failed, indexed with errors and taken from the cache, libclang's
    warnings and errors, and the arguments it ignored. `headers_missing`
    explains, once, a header not found; a unit whose compiler is not in
    `asked` (by --query-driver) and not clang has its line suggest it."""

    def __init__(
        self,
        command: str,
        headers_missing: Optional[str],
        verbose: bool,
        asked: Mapping[Unit, bool] = MappingProxyType({}),
    ) -> None:
        self.command = command
        self.headers_missing = headers_missing
        self.verbose = verbose
        self.asked = asked
        self.units = self.failed = self.warnings = self.errors = self.cached = 0
        self.with_errors = 0  # units indexed in spite of errors
        self.ignored: Set[str] = set()  # arguments clang ignored
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
        for line in result.diagnostics:
            if line.severity == IGNORED:
                self.ignored.add(line.text)
            elif self.verbose:
                tqdm.write(line.text, file=sys.stderr)
        errors = [line.text for line in result.diagnostics if line.severity == "error"]
        if isinstance(result, UnitFailure):
            self.failed += 1
            report(self.command, "failed", result.error + self._hint(result))
            if self._bar is not None:
                self._bar.set_postfix(failed=self.failed, refresh=False)
        else:
            self.cached += result.cached
            if errors:
                self.with_errors += 1
                text = indexed_text(result.unit.file, errors) + self._hint(result)
                report(self.command, "warning", text)
        said = result.error if isinstance(result, UnitFailure) else " ".join(errors)
        if self.headers_missing and "file not found" in said and not self._explained:
            report(self.command, "note", self.headers_missing)
            self._explained = True
        if self._bar is not None:
            self._bar.update()

    def _hint(self, result: Union[UnitResult, UnitFailure]) -> str:
        return query_driver_hint(result.unit, self.asked)

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
        """The notes that name the arguments clang ignored, and count
        libclang's warnings and errors and the units indexed with errors."""
        if self.ignored:
            self.note("ignored arguments clang does not take: " + " ".join(sorted(self.ignored)))
        if self.warnings or self.errors:
            shown = "" if self.verbose else " (--verbose shows them)"
            said = f"{plural(self.warnings, 'warning')} and {plural(self.errors, 'error')}"
            if self.with_errors:
                said += f"; {plural(self.with_errors, 'unit')} indexed with errors"
            self.note(f"libclang reported {said}{shown}")

    def summarize_cache(self) -> None:
        """How many units came from the cache."""
        self.note(f"{self.cached} of {plural(self.units, 'unit')} from the cache")
