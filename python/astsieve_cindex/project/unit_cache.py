"""A unit's result kept in a ScanCache (cache.py): the identity its entry
goes under, and the result as the entry's value and blobs, and back.

The identity holds all that changes a unit's output besides the content of
the files it reads: its file, arguments and directory, the pattern, the
encoding, what the parse skips, the environment variables that add include folders, the
libclang, this package and the record format (and pyarrow for Arrow
output). The value is the unit's sections (their data as blobs), or its
table for `encoding` None; and the files it read and its diagnostics.
"""

from __future__ import annotations

import functools
import importlib.metadata
from typing import Any, Dict, List, Optional, Sequence, Tuple

from ..formats.sections import Section
from ..loading import load_cindex
from ..table import FORMAT, SkippedRange, TableDeclaration, TableNode, UnitTable
from .builtin_headers import libclang_version
from .cache import ScanCache
from .database import Unit
from .diagnostics import DiagnosticLine
from .options import ScanOptions
from .parsing import include_environment
from .results import SectionsResult, TableResult, UnitResult

__all__ = ["cache_of", "entry_result", "result_value", "unit_identity"]

_TABLE = "table"  # the encoding named in the identity of a unit's table


@functools.lru_cache(maxsize=None)
def _versions(encoding: str) -> Tuple[str, str, str]:
    """libclang's, this package's and, for Arrow, pyarrow's version."""
    library = libclang_version(load_cindex())
    package = importlib.metadata.version("astsieve")
    arrow = importlib.metadata.version("pyarrow") if encoding == "arrow" else ""
    return library, package, arrow


@functools.lru_cache(maxsize=None)
def cache_of(folder: str) -> ScanCache:
    """The store of `folder`, once per process; CacheError when unusable."""
    return ScanCache(folder)


def unit_identity(unit: Unit, options: ScanOptions) -> Dict[str, Any]:
    """What the entry of `unit` scanned with `options` goes under; loads
    libclang."""
    kind = options.encoding or _TABLE
    library, package, arrow = _versions(kind)
    return {
        "file": unit.file,
        "arguments": list(unit.arguments),
        "directory": unit.directory,
        "pattern": options.pattern,
        "encoding": kind,
        "skip": options.skip,
        "environment": include_environment(),
        "libclang": library,
        "package": package,
        "pyarrow": arrow,
        "format": FORMAT,
    }


def _table_value(table: UnitTable) -> Dict[str, Any]:
    return {
        "files": list(table.files),
        "declarations": [list(found) for found in table.declarations],
        "nodes": [list(node) for node in table.nodes],
        "skipped": [list(found) for found in table.skipped],
    }


def _table_of(value: Dict[str, Any]) -> UnitTable:
    return UnitTable(
        tuple(value["files"]),
        [TableDeclaration(*found) for found in value["declarations"]],
        [TableNode(*node) for node in value["nodes"]],
        [SkippedRange(*found) for found in value["skipped"]],
    )


def _is_int(value: Any) -> bool:
    return isinstance(value, int) and not isinstance(value, bool)


def _table_is_sound(table: UnitTable) -> bool:
    """Whether a table read from an entry has the types and indexes a
    table's readers take for granted."""
    files, declarations = len(table.files), len(table.declarations)
    return (
        all(isinstance(file, str) for file in table.files)
        and all(
            isinstance(d.kind, str) and isinstance(d.name, str) and _is_int(d.file)
            and 0 <= d.file < files and _is_int(d.first_line) and _is_int(d.last_line)
            for d in table.declarations
        )
        and all(
            _is_int(n.file) and 0 <= n.file < files and _is_int(n.line) and _is_int(n.column)
            and isinstance(n.kind, str) and isinstance(n.spelling, str)
            and _is_int(n.declaration) and -1 <= n.declaration < declarations
            for n in table.nodes
        )
        and all(
            _is_int(r.file) and 0 <= r.file < files and _is_int(r.first_line)
            and _is_int(r.last_line)
            for r in table.skipped
        )
    )


def result_value(result: UnitResult) -> Tuple[Dict[str, Any], List[bytes]]:
    """The value and the blobs of a unit's good result: its sections (their
    data as blobs) or its table, the files it read and its diagnostics."""
    value: Dict[str, Any] = {
        "files": list(result.files),
        "diagnostics": [list(line) for line in result.diagnostics],
    }
    if isinstance(result, TableResult):
        value["table"] = _table_value(result.table)
        return value, []
    value["sections"] = [list(section[:-1]) for section in result.sections]
    return value, [section.data for section in result.sections]


def entry_result(
    unit: Unit, value: Any, blobs: Sequence[bytes], encoding: Optional[str]
) -> Optional[UnitResult]:
    """The result kept in an entry's value and blobs, as taken from the
    cache; None when they are not of the shape `encoding` gives (an entry
    written by something else is never believed)."""
    try:
        files = tuple(value["files"])
        diagnostics = tuple(DiagnosticLine(*line) for line in value["diagnostics"])
        if encoding is None:
            table = _table_of(value["table"])
            sections: Tuple[Section, ...] = ()
        else:
            sections = tuple(
                Section(*fields, data)  # type: ignore[call-arg]  # fields: the first five
                for fields, data in zip(value["sections"], blobs, strict=True)
            )
    except (KeyError, TypeError, ValueError):
        return None
    texts = [*files, *(text for section in sections for text in section[:4])]
    texts += [text for line in diagnostics for text in line]
    if not all(isinstance(text, str) for text in texts):
        return None
    if not all(isinstance(section.main, bool) for section in sections):
        return None
    if encoding == "jsonl" and not all(section.data.isascii() for section in sections):
        return None
    if encoding is None:
        if not _table_is_sound(table):
            return None
        return TableResult(unit, table, files, diagnostics, cached=True)
    if not sections:
        return None
    return SectionsResult(unit, sections, files, diagnostics, cached=True)
