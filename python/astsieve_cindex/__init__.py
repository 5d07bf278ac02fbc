"""Use astsieve together with clang.cindex in one process.

load_cindex() makes clang.cindex load its libclang, the one astsieve then uses;
the queries take clang.cindex objects and return dicts of read-only
CursorList views that make clang.cindex Cursors (to_lists() gives plain
lists); the conversions turn clang.cindex objects into astsieve's raw handles
and cursor tuples and back. For whole projects, read_database() lists a
compilation database's units and scan() parses and groups them in worker
processes, one plain, picklable result per unit: its table, or its output
encoded by file, of which a SectionFilter keeps each header once.
"""

from __future__ import annotations

from .handles import CursorTuple, cursor_from_tuple, cursor_tuple, translation_unit_handle
from .loading import LibclangMismatchError, libclang_file, load_cindex
from .project.database import DatabaseError, Unit, explicit_units, read_database
from .queries import (
    MainPath,
    PathPattern,
    get_path_to_lineno_to_nodes,
    get_path_to_nodes,
    update_path_lineno,
)
from .records import Declaration, NodeRecord
from .project.scan import UnitFailure, UnitResult, scan, scan_unit
from .formats.sections import Section, SectionFilter
from .views import CursorList, to_lists

__all__ = [
    "CursorList",
    "CursorTuple",
    "DatabaseError",
    "Declaration",
    "LibclangMismatchError",
    "MainPath",
    "NodeRecord",
    "PathPattern",
    "Section",
    "SectionFilter",
    "Unit",
    "UnitFailure",
    "UnitResult",
    "cursor_from_tuple",
    "cursor_tuple",
    "explicit_units",
    "get_path_to_lineno_to_nodes",
    "get_path_to_nodes",
    "libclang_file",
    "load_cindex",
    "to_lists",
    "read_database",
    "scan",
    "scan_unit",
    "translation_unit_handle",
    "update_path_lineno",
]
