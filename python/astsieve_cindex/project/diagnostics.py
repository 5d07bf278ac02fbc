"""libclang's warnings and errors of one unit, as lines to report.

libclang writes some diagnostics to the process's stderr itself, although
clang.cindex creates its index without libclang's display of them
(clang_createIndex(excludeDecls, 0)): those about the command line, such
as "unknown warning option '-Wlogical-op'", come from the compiler driver,
which prints them as it reads the arguments (and hands them to the unit
too).
A worker that lets them through garbles its parent's progress bar, so
parse_collecting() parses with stderr (file descriptor 2) led into a file,
and returns the unit's own diagnostics together with any line libclang
printed that none of them holds.
"""

from __future__ import annotations

import contextlib
import os
import re
import sys
import tempfile
from types import ModuleType
from typing import Iterator, List, NamedTuple, Optional, Sequence, Tuple

from clang.cindex import Diagnostic, TranslationUnit

from .parsing import ParseError, diagnostic_text, ignored_argument, parse_file

__all__ = [
    "IGNORED",
    "CollectedParseError",
    "DiagnosticLine",
    "count",
    "parse_collecting",
    "stderr_into",
]

_ERROR = re.compile(r"\b(?:fatal )?error: ")


# The severity of an argument clang ignores (it does not know it, or not for
# the target): the line is the argument itself.
IGNORED = "ignored"


class DiagnosticLine(NamedTuple):
    """One diagnostic: "warning" or "error", and its whole line; or IGNORED
    and an argument clang ignored."""

    severity: str
    text: str


def count(lines: Sequence[DiagnosticLine], severity: str) -> int:
    return sum(line.severity == severity for line in lines)


@contextlib.contextmanager
def stderr_into(lines: List[str]) -> Iterator[None]:
    """Leads what is written to stderr in the block, by Python or by
    libclang, into `lines` (those not blank), by its file descriptor."""
    try:
        sink = tempfile.TemporaryFile()
    except OSError:  # nowhere to keep it: leave stderr as it is
        yield
        return
    with sink:
        if sys.stderr is not None:
            sys.stderr.flush()
        saved = os.dup(2)
        os.dup2(sink.fileno(), 2)
        try:
            yield
        finally:
            os.dup2(saved, 2)
            os.close(saved)
            sink.seek(0)
            text = sink.read().decode("utf-8", "surrogateescape")
            lines.extend(line for line in text.splitlines() if line.strip())


def _unit_lines(unit: Optional[TranslationUnit], path: str) -> List[DiagnosticLine]:
    found = []
    for diagnostic in unit.diagnostics if unit is not None else ():
        if diagnostic.severity < Diagnostic.Warning:
            continue
        argument = ignored_argument(diagnostic)
        if argument is not None:
            found.append(DiagnosticLine(IGNORED, argument))
            continue
        text = diagnostic_text(diagnostic)
        if diagnostic.location.file is None:  # the command line's: say whose
            text = f"{path}: {text}"
        if diagnostic.option:
            text += f" [{diagnostic.option}]"
        severity = "error" if diagnostic.severity >= Diagnostic.Error else "warning"
        found.append(DiagnosticLine(severity, text))
    return found


def _collected(
    unit: Optional[TranslationUnit], path: str, printed: List[str]
) -> Tuple[DiagnosticLine, ...]:
    found = _unit_lines(unit, path)
    spellings = [d.spelling for d in unit.diagnostics] if unit is not None else []
    for line in printed:
        if not any(spelling and spelling in line for spelling in spellings):
            found.append(DiagnosticLine("error" if _ERROR.search(line) else "warning", line))
    return tuple(found)


class CollectedParseError(ParseError):
    """A ParseError with the unit's diagnostics."""

    def __init__(self, message: str, diagnostics: Tuple[DiagnosticLine, ...]) -> None:
        super().__init__(message)
        self.diagnostics = diagnostics


def parse_collecting(
    cindex: ModuleType,
    path: str,
    arguments: Sequence[str],
    unsaved: Sequence[Tuple[bytes, bytes]] = (),
    skip: int = 0,
) -> Tuple[TranslationUnit, Tuple[DiagnosticLine, ...]]:
    """parse_file() with nothing printed, kept on past errors: the unit and
    its diagnostics of warning and error severity and the arguments clang
    ignored; CollectedParseError, which carries them, where libclang made
    no unit."""
    printed: List[str] = []
    try:
        with stderr_into(printed):
            unit = parse_file(
                cindex, path, arguments, unsaved=unsaved, keep_errors=True, skip=skip
            )
    except ParseError as error:
        raise CollectedParseError(str(error), _collected(error.unit, path, printed)) from None
    return unit, _collected(unit, path, printed)
