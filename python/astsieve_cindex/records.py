"""Plain records of a parsed unit: every node in accepted files with the
top-level declaration it lies in, as picklable tuples of str and int.

Namespaces and `extern "C"` blocks hold declarations rather than being
one: the declarations inside them count as top-level. A declaration is
named with the namespaces and classes it belongs to (`geometry::area`,
`geometry::Shape::area` for a method defined out of its class), an
anonymous type as `(anonymous struct at FILE:LINE)` (union, enum and class
likewise) with FILE as the records name files. A node belongs to the
top-level declaration whose extent holds its position, of several the one
that starts last; nodes outside every declaration (namespace lines,
inclusions, macros used between declarations) belong to none. The helper
makes the records natively, in one walk of the unit.
"""

from __future__ import annotations

import os
from typing import List

from clang.cindex import CursorKind, TranslationUnit

from . import _native
from . import queries as _queries  # noqa: F401  binds the helper to clang.cindex
from .handles import translation_unit_handle
from .table import (
    Declaration,
    NodeRecord,
    SkippedRange,
    TableDeclaration,
    TableNode,
    UnitTable,
    declarations_of,
    records_of,
    table_of,
)

__all__ = ["Declaration", "NodeRecord", "unit_records", "unit_table"]

# Kinds by id as these bindings name them; the helper names any other kind
# KIND_<id>.
_native.bind_records(
    {kind.value: kind.name for kind in CursorKind.get_all_kinds()}, TableNode, TableDeclaration
)


def unit_table(unit: TranslationUnit, pattern: str = "", directory: str = "") -> UnitTable:
    """The records of every node of `unit` in an accepted file (the main
    file, and files whose whole path matches `pattern`) as a UnitTable:
    main file first, then by path, line and column; with every top-level
    declaration of those files and the ranges of their lines that the
    preprocessor skipped. Paths libclang gives relative (to the working
    directory of the parse) are made relative to `directory`."""
    files, declarations, nodes, skipped = _native.unit_table(
        translation_unit_handle(unit), unit, pattern, directory
    )
    joined = tuple(os.path.join(directory, file) for file in files)
    table = UnitTable(joined, declarations, nodes, [SkippedRange(*found) for found in skipped])
    if len(set(joined)) < len(joined):  # two names of one file, e.g. `a.h` and `/dir/a.h`
        ranges = [(joined[found.file], found.first_line, found.last_line) for found in table.skipped]
        return table_of(records_of(table), declarations_of(table), ranges)
    return table


def unit_records(unit: TranslationUnit, pattern: str = "", directory: str = "") -> List[NodeRecord]:
    """The records of unit_table, one NodeRecord per node."""
    return records_of(unit_table(unit, pattern, directory))
