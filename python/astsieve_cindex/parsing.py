"""Parsing one file with libclang, error diagnostics turned into one line."""

from __future__ import annotations

import contextlib
from types import ModuleType
from typing import Iterator, Optional, Sequence

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


@contextlib.contextmanager
def _arguments_as_given(cindex: ModuleType, arguments: Sequence[str]) -> Iterator[None]:
    # Some bindings (libclang-ng) add `-isystem` with their own libc++ headers
    # to any arguments without an -isystem, which breaks units built against
    # libstdc++ (<cmath> then lacks std::abs). A unit reaches libclang with
    # its own arguments; only one that asks for libc++ gets those headers.
    config = cindex.Config
    if getattr(config, "libcxx_dir", None) is None or "-stdlib=libc++" in arguments:
        yield
        return
    kept, config.libcxx_dir = config.libcxx_dir, None
    try:
        yield
    finally:
        config.libcxx_dir = kept


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
        with _arguments_as_given(cindex, arguments):
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
