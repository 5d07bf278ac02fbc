"""Parsing one file with libclang, error diagnostics turned into one line."""

from __future__ import annotations

import contextlib
from types import ModuleType
from typing import Iterator, Optional, Sequence, Tuple

from clang.cindex import Diagnostic, TranslationUnit

from ..names import file_name_bytes, name_text
from .options import SKIP_BODIES, SKIP_PREAMBLE_BODIES

__all__ = ["SKIPPING", "ParseError", "diagnostic_text", "parse_file"]

# libclang's parse options that leave function bodies out, by what ScanOptions'
# `skip` names: every body (CXTranslationUnit_SkipFunctionBodies); or those
# of the preamble, precompiled on the first parse (LimitSkipFunctionBodies-
# ToPreamble, PrecompiledPreamble, CreatePreambleOnFirstParse: without the
# last libclang makes the preamble at the first reparse only).
SKIPPING = {"": 0, SKIP_BODIES: 0x40, SKIP_PREAMBLE_BODIES: 0x40 | 0x800 | 0x04 | 0x100}

# Diagnostics quoted in a parse failure; the rest are counted.
_QUOTED_DIAGNOSTICS = 3


class ParseError(Exception):
    """libclang made no translation unit, or reported errors; one line.
    `unit` is the translation unit with those errors, if libclang made one."""

    unit: Optional[TranslationUnit] = None


_SEVERITIES = {Diagnostic.Fatal: "fatal error", Diagnostic.Error: "error"}


def diagnostic_text(diagnostic: Diagnostic) -> str:
    """The diagnostic as clang words it: FILE:LINE:COLUMN: SEVERITY: TEXT."""
    severity = _SEVERITIES.get(min(diagnostic.severity, Diagnostic.Fatal), "warning")
    location = diagnostic.location
    file = location.file
    where = f"{name_text(lambda: file.name)}:{location.line}:{location.column}: " if file else ""
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
    unsaved: Sequence[Tuple[bytes, bytes]] = (),
    skip: int = 0,
) -> TranslationUnit:
    """The translation unit of `path` with the preprocessor's record of macros
    and inclusions; ParseError when libclang reports an error. A header not
    found is explained by `headers_missing`, the reason the builtin headers
    are missing, when there is one. `unsaved` gives files (path, text) that
    are read in place of the files on disk; `skip`, libclang's options of
    what to leave out (SKIPPING)."""
    options = cindex.TranslationUnit.PARSE_DETAILED_PROCESSING_RECORD | skip
    # As bytes, so that names which are not UTF-8 reach libclang unchanged.
    encoded = file_name_bytes([path, *arguments])
    if encoded is None:
        raise ParseError(
            f"cannot parse {path}: its name or an argument holds a character no file name has"
        )
    try:
        with _arguments_as_given(cindex, arguments):
            index = cindex.Index.create()
            unit = index.parse(
                encoded[0], args=encoded[1:], unsaved_files=list(unsaved), options=options
            )
    except cindex.TranslationUnitLoadError:
        hint = ", check the compiler arguments" if arguments else ""
        raise ParseError(f"cannot parse {path}: libclang made no translation unit{hint}") from None
    errors = [
        diagnostic_text(diagnostic)
        for diagnostic in unit.diagnostics
        if diagnostic.severity >= Diagnostic.Error
    ]
    if headers_missing and any("file not found" in error for error in errors):
        failure = ParseError(f"cannot parse {path}: {errors[0]}: {headers_missing}")
    elif errors:
        quoted = "; ".join(errors[:_QUOTED_DIAGNOSTICS])
        more = len(errors) - _QUOTED_DIAGNOSTICS
        text = f"cannot parse {path}: {quoted}" + (f"; {more} more" if more > 0 else "")
        failure = ParseError(" ".join(text.splitlines()))
    else:
        return unit
    failure.unit = unit
    raise failure
