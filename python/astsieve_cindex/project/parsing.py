"""Parsing one file with libclang, error diagnostics turned into one line."""

from __future__ import annotations

import contextlib
import os
import re
from types import ModuleType
from typing import Dict, Iterator, List, Optional, Sequence, Tuple

from clang.cindex import Diagnostic, TranslationUnit

from .. import _native
from .. import queries as _queries  # noqa: F401  binds the helper to clang.cindex
from ..handles import translation_unit_handle
from ..names import file_name_bytes, name_text
from .options import SKIP_BODIES, SKIP_PREAMBLE_BODIES

__all__ = [
    "KEEP_GOING",
    "SKIPPING",
    "ParseError",
    "diagnostic_text",
    "failure_text",
    "ignored_argument",
    "include_environment",
    "included_names",
    "indexed_text",
    "parse_file",
    "unit_errors",
]

# libclang's parse options that leave function bodies out, by what ScanOptions'
# `skip` names: every body (CXTranslationUnit_SkipFunctionBodies); or those
# of the preamble, precompiled on the first parse (LimitSkipFunctionBodies-
# ToPreamble, PrecompiledPreamble, CreatePreambleOnFirstParse: without the
# last libclang makes the preamble at the first reparse only).
SKIPPING = {"": 0, SKIP_BODIES: 0x40, SKIP_PREAMBLE_BODIES: 0x40 | 0x800 | 0x04 | 0x100}

# What clang reads from the environment that adds include folders.
_INCLUDE_VARIABLES = ("CPATH", "C_INCLUDE_PATH", "CPLUS_INCLUDE_PATH", "OBJC_INCLUDE_PATH")


def include_environment() -> Dict[str, Optional[str]]:
    """The environment variables that add include folders to every parse,
    as they are now (None where unset): part of what a kept answer depends
    on."""
    return {name: os.environ.get(name) for name in _INCLUDE_VARIABLES}


# Diagnostics quoted in a parse failure; the rest are counted.
_QUOTED_DIAGNOSTICS = 3
# libclang's CXTranslationUnit_KeepGoing, which clang.cindex does not name:
# the parse goes on after a fatal error (a header not found), so that the
# rest of the unit is there to index.
KEEP_GOING = 0x200
# What the compiler driver says of an argument clang does not take, which it
# then ignores: GCC's own flags, or a flag of another target.
_IGNORED = re.compile(r"unknown argument: '(.*)'|unsupported option '(.*?)' for target '.*'")


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


def ignored_argument(diagnostic: Diagnostic) -> Optional[str]:
    """The argument a diagnostic of the command line says clang ignores; None
    for any other diagnostic."""
    if diagnostic.location.file is not None:
        return None
    match = _IGNORED.fullmatch(diagnostic.spelling)
    return next(filter(None, match.groups()), None) if match else None


def failure_text(path: str, errors: Sequence[str], headers_missing: Optional[str] = None) -> str:
    """The one line of a unit that `errors` fail: a few quoted, the rest
    counted; with `headers_missing`, why a header was not found."""
    if headers_missing and any("file not found" in error for error in errors):
        return f"cannot parse {path}: {errors[0]}: {headers_missing}"
    quoted = "; ".join(errors[:_QUOTED_DIAGNOSTICS])
    more = len(errors) - _QUOTED_DIAGNOSTICS
    text = f"cannot parse {path}: {quoted}" + (f"; {more} more" if more > 0 else "")
    return " ".join(text.splitlines())


def indexed_text(path: str, errors: Sequence[str]) -> str:
    """The one line of a unit indexed in spite of `errors` (at least one)."""
    count = f"{len(errors)} error" + ("" if len(errors) == 1 else "s")
    return " ".join(f"{path}: indexed with {count}: {errors[0]}".splitlines())


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
    keep_errors: bool = False,
    skip: int = 0,
) -> TranslationUnit:
    """The translation unit of `path` with the preprocessor's record of macros
    and inclusions, parsed on past errors; ParseError when libclang makes no
    unit, or, unless `keep_errors`, reports an error (arguments it ignores
    aside). A header not found is explained by `headers_missing`, the reason
    the builtin headers are missing, when there is one. `unsaved` gives files
    (path, text) that are read in place of the files on disk; `skip`,
    libclang's options of what to leave out (SKIPPING)."""
    options = cindex.TranslationUnit.PARSE_DETAILED_PROCESSING_RECORD | KEEP_GOING | skip
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
    if keep_errors:
        return unit
    errors = unit_errors(unit)
    if not errors:
        return unit
    failure = ParseError(failure_text(path, errors, headers_missing))
    failure.unit = unit
    raise failure


def included_names(unit: TranslationUnit) -> List[str]:
    """The name of every file the unit included, in libclang's order, as
    unit.get_includes() gives them; listed by the helper, without the
    location of each inclusion, which that makes and a scan does not use."""
    return _native.included_names(translation_unit_handle(unit), unit)


def unit_errors(unit: TranslationUnit) -> List[str]:
    """The unit's diagnostics of error severity, as clang words them; not
    those of arguments clang ignores."""
    return [
        diagnostic_text(diagnostic)
        for diagnostic in unit.diagnostics
        if diagnostic.severity >= Diagnostic.Error and ignored_argument(diagnostic) is None
    ]
