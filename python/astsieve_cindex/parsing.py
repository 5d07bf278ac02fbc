"""Parsing one file with libclang, error diagnostics turned into one line."""

from __future__ import annotations

from types import ModuleType
from typing import Optional, Sequence

from clang.cindex import Diagnostic, TranslationUnit

__all__ = ["ParseError", "parse_file"]

# Diagnostics quoted in a parse failure; the rest are counted.
_QUOTED_DIAGNOSTICS = 3


class ParseError(Exception):
    """libclang made no translation unit, or reported errors; one line."""


def _diagnostic_text(diagnostic: Diagnostic) -> str:
    severity = "fatal error" if diagnostic.severity >= Diagnostic.Fatal else "error"
    location = diagnostic.location
    where = f"{location.file.name}:{location.line}:{location.column}: " if location.file else ""
    return f"{where}{severity}: {diagnostic.spelling}"


def parse_file(
    cindex: ModuleType,
    path: str,
    arguments: Sequence[str],
    headers_missing: Optional[str] = None,
) -> TranslationUnit:
    """The translation unit of `path` with the preprocessor's record of macros
    and inclusions; ParseError when libclang reports an error. A header not
    found is explained by `headers_missing`, the reason the builtin headers
    are missing, when there is one."""
    options = cindex.TranslationUnit.PARSE_DETAILED_PROCESSING_RECORD
    try:
        unit = cindex.Index.create().parse(path, args=list(arguments), options=options)
    except cindex.TranslationUnitLoadError:
        hint = ", check the compiler arguments" if arguments else ""
        raise ParseError(f"cannot parse {path}: libclang made no translation unit{hint}") from None
    errors = [
        _diagnostic_text(diagnostic)
        for diagnostic in unit.diagnostics
        if diagnostic.severity >= Diagnostic.Error
    ]
    if headers_missing and any("file not found" in error for error in errors):
        raise ParseError(f"cannot parse {path}: {errors[0]}: {headers_missing}")
    if errors:
        quoted = "; ".join(errors[:_QUOTED_DIAGNOSTICS])
        more = len(errors) - _QUOTED_DIAGNOSTICS
        text = f"cannot parse {path}: {quoted}" + (f"; {more} more" if more > 0 else "")
        raise ParseError(" ".join(text.splitlines()))
    return unit
