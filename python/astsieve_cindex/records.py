"""Plain records of a parsed unit: every node in accepted files with the
top-level declaration it lies in, as picklable tuples of str and int.

Namespaces and `extern "C"` blocks hold declarations rather than being
one: the declarations inside them count as top-level, named with the
namespaces around them (`geometry::area`). A node belongs to the top-level
declaration whose extent holds its position; nodes outside every declaration
(namespace lines, inclusions, macros used between declarations) belong to
none. The helper makes the records natively, in one walk of the unit.
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
    TableDeclaration,
    TableNode,
    UnitTable,
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
    main file first, then by path, line and column. Paths libclang gives
    relative (to the working directory of the parse) are made relative to
    `directory`."""
    files, declarations, nodes = _native.unit_table(translation_unit_handle(unit), unit, pattern)
    joined = tuple(os.path.join(directory, file) for file in files)
    table = UnitTable(joined, declarations, nodes)
    if len(set(joined)) < len(joined):  # two names of one file, e.g. `a.h` and `/dir/a.h`
        return table_of(records_of(table))
    return table


def unit_records(unit: TranslationUnit, pattern: str = "", directory: str = "") -> List[NodeRecord]:
    """The records of unit_table, one NodeRecord per node."""
    return records_of(unit_table(unit, pattern, directory))
