"""Use astsieve together with clang.cindex in one process.

load_cindex() makes clang.cindex load its libclang, the one astsieve then uses;
the queries take clang.cindex objects and return dicts of read-only
CursorList views that make clang.cindex Cursors (to_lists() gives plain
lists); the conversions turn clang.cindex objects into astsieve's raw handles
and cursor tuples and back. For whole projects, read_database() lists a
compilation database's units and scan() parses and groups them in worker
processes as ScanOptions ask, one plain, picklable result per unit: its
table (TableResult), or its output encoded by file (SectionsResult), of
which a SectionFilter keeps each header once; or why it gave none
(UnitFailure).
"""

from __future__ import annotations

from .handles import CursorTuple, cursor_from_tuple, cursor_tuple, translation_unit_handle
from .loading import LibclangMismatchError, libclang_file, load_cindex
from .formats import Section, SectionFilter
from .project.database import DatabaseError, Unit, explicit_units, read_database
from .project.options import ScanOptions
from .project.results import SectionsResult, TableResult, UnitFailure, UnitResult
from .project.scan import scan, scan_unit
from .queries import (
    MainPath,
    PathPattern,
    get_path_to_lineno_to_nodes,
    get_path_to_nodes,
    update_path_lineno,
)
from .records import Declaration, NodeRecord
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
    "ScanOptions",
    "Section",
    "SectionFilter",
    "SectionsResult",
    "TableResult",
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
